#!/usr/bin/env python3
"""Runs the examples of docs/cli.md and fails unless each prints what the
document shows, byte for byte.

Every fenced block whose lines start with "$ " is a shell session: each
command runs with bash in one scratch folder, in document order, the tool
first on PATH, and its standard output and standard error together must be
the lines that follow it. "cat FILE" commands make the files they show.

Usage: check_cli_doc.py <docs/cli.md> <folder of the qkxdr program> <scratch folder>
"""
import os
import re
import shutil
import subprocess
import sys


def sessions(markdown):
    for block in re.findall(r"^```\n(.*?)^```\n", markdown, re.S | re.M):
        if block.startswith("$ "):
            yield block


def commands(block):
    """(command, expected output) pairs of a session."""
    parts = re.split(r"^\$ (.*)\n", block, flags=re.M)
    return zip(parts[1::2], parts[2::2])


def main(doc, tool, scratch, *emulator):
    shutil.rmtree(scratch, ignore_errors=True)
    bin_dir = os.path.join(scratch, ".bin")
    os.makedirs(bin_dir)
    # "qkxdr" on PATH runs the program, under its emulator where it has one.
    wrapper = os.path.join(bin_dir, "qkxdr")
    with open(wrapper, "w", encoding="utf-8") as f:
        words = " ".join(f"'{w}'" for w in (*emulator, os.path.abspath(tool)))
        f.write(f'#!/bin/sh\nexec {words} "$@"\n')
    os.chmod(wrapper, 0o755)
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], LC_ALL="C.UTF-8")
    failures = 0
    with open(doc, encoding="utf-8") as f:
        markdown = f.read()
    for block in sessions(markdown):
        for command, expected in commands(block):
            made = re.fullmatch(r"cat (\S+)", command)
            if made and not os.path.exists(os.path.join(scratch, made.group(1))):
                with open(os.path.join(scratch, made.group(1)), "w", encoding="utf-8") as f:
                    f.write(expected)
            run = subprocess.run(["bash", "-c", "exec 2>&1\n" + command], cwd=scratch, env=env,
                                 stdin=subprocess.DEVNULL, capture_output=True)
            got = run.stdout.decode("utf-8", "replace")
            if got != expected:
                failures += 1
                print(f"$ {command}\n--- docs/cli.md shows\n{expected}--- it prints\n{got}")
    print(f"{failures} examples differ" if failures else "every example prints what it shows")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
