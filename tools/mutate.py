#!/usr/bin/env python3
"""Mutation testing of src/: how many small faults do the tests find?

Lists every place in src/ where one of these mutations applies:
  relational  a < b  ->  a <= b, and so on for <=, >, >=, ==, !=
  logical     &&  <->  ||
  constant    an integer literal n  ->  n + 1, and n - 1 when n > 0
  condition   if (c)  ->  if (!(c))
  statement   a statement that stands on a line of its own  ->  removed
then draws a sample of them with a fixed seed and, one at a time, applies the
mutation, rebuilds the mutate preset incrementally (no warnings as errors,
-O1 without debug information, for quick rebuilds) and runs its tests (all
but the "large" ones) with a timeout. A mutant is killed when a test fails,
timed out when the tests did not finish, survived when they all passed,
invalid when it does not compile, and moved when a replayed mutant's line
is no longer what it was (neither of the last two is counted). The source file is restored
after each mutant, also when the run is interrupted.

Operators are recognised by the spaces clang-format puts around binary
operators, so template brackets, shifts and arrows are left alone; comments,
string and character literals, preprocessor lines and static_asserts are
skipped.

  tools/mutate.py                      300 mutants, seed 1
  tools/mutate.py --count 50 --seed 7  another sample
  tools/mutate.py --list               the sampled mutants, without running
  tools/mutate.py --json out.json      also keep each mutant's outcome
  tools/mutate.py --replay out.json    the mutants of an earlier run again,
                                       to compare the tests before and after
                                       a change (their lines must be as then)

Run it on a clone of its own: while it runs, src/ holds one mutant at a time.
"""

import argparse
import json
import random
import re
import signal
import subprocess
import sys
import time
from dataclasses import asdict, dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RELATIONAL = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
              " == ": " != ", " != ": " == "}
LOGICAL = {" && ": " || ", " || ": " && "}
# Lines that begin with these are not statements one can remove.
NOT_REMOVABLE = re.compile(
    r"^\s*(return|using|static_assert|case|default|template|typedef|class|struct|enum|"
    r"namespace|friend|public|private|protected|break|continue|\}|\{|#|//)")
# A declaration: removing it only fails to compile.
DECLARATION = re.compile(r"^\s*((const|constexpr|static|auto|unsigned|signed)\b|"
                         r"[\w:]+(<[^;=]*>)?[\s*&]+\w+\s*[={;(\[])")
STATEMENT_START = (";", "{", "}", ":")


@dataclass
class Mutant:
    file: str
    line: int  # 1-based
    kind: str
    before: str  # the line as it was
    after: str  # the line mutated

    def where(self):
        return f"{self.file}:{self.line}"


def code_part(line):
    """The line with string and character literals blanked and any trailing
    // comment cut, so that operators are only found in code."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            quote = None if c == quote else quote
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def matching_paren(code, open_at):
    depth = 0
    for i in range(open_at, len(code)):
        depth += {"(": 1, ")": -1}.get(code[i], 0)
        if depth == 0:
            return i
    return None


def line_mutants(path, number, line, code, previous):
    """Every mutant of one line of source."""
    found = []

    def add(kind, start, end, text):
        found.append(Mutant(path, number, kind, line, line[:start] + text + line[end:]))

    for table, kind in ((RELATIONAL, "relational"), (LOGICAL, "logical")):
        for op, replacement in table.items():
            for m in re.finditer(re.escape(op), code):
                add(kind, m.start(), m.end(), replacement)
    for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
        n = int(m.group(1))
        add("constant", m.start(), m.end(), str(n + 1))
        if n > 0:
            add("constant", m.start(), m.end(), str(n - 1))
    for m in re.finditer(r"\bif \(", code):
        close = matching_paren(code, m.end() - 1)
        if close is not None:
            inner = line[m.end():close]
            add("condition", m.end(), close, f"!({inner})")
    if (code.rstrip().endswith(";") and previous.rstrip().endswith(STATEMENT_START)
            and not NOT_REMOVABLE.match(code) and not DECLARATION.match(code)):
        indent = line[:len(line) - len(line.lstrip())]
        found.append(Mutant(path, number, "statement", line, indent + ";"))
    return found


def file_mutants(root, path):
    lines = (root / path).read_text().split("\n")
    found, in_comment, previous = [], False, ";"
    for i, line in enumerate(lines):
        if in_comment:
            in_comment = "*/" not in line
            continue
        if line.lstrip().startswith("/*"):
            in_comment = "*/" not in line
            continue
        code = code_part(line)
        skip = code.lstrip().startswith("#") or "static_assert" in code
        if code.strip() and not skip:
            found += line_mutants(path, i + 1, line, code, previous)
        if code.strip():
            previous = code
    return found


def all_mutants(root):
    files = subprocess.run(["git", "ls-files", "src"], cwd=root, check=True, text=True,
                           capture_output=True).stdout.split()
    found = []
    for path in sorted(files):
        # Windows-only sources are not built here: their mutants would survive.
        if path.endswith((".h", ".cpp", ".hpp")) and "windows" not in path:
            found += file_mutants(root, path)
    return found


def run(command, root, timeout):
    """True, False, or None when the command did not finish within timeout."""
    try:
        result = subprocess.run(command, cwd=root, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=timeout)
        return result.returncode == 0
    except subprocess.TimeoutExpired:
        return None


def build(root):
    return run(["cmake", "--build", "--preset", "mutate"], root, 1800)


def tests(root, timeout):
    return run(["ctest", "--preset", "mutate", "--stop-on-failure", "-j", "2"], root, timeout)


def try_mutant(root, mutant, timeout):
    source = root / mutant.file
    original = source.read_text()
    lines = original.split("\n")
    if len(lines) < mutant.line or lines[mutant.line - 1] != mutant.before:
        return "moved"  # replayed after its line changed: not comparable
    lines[mutant.line - 1] = mutant.after
    try:
        source.write_text("\n".join(lines))
        if not build(root):
            return "invalid"
        passed = tests(root, timeout)
        return "timed out" if passed is None else "survived" if passed else "killed"
    finally:
        source.write_text(original)


def main():
    # Stopped by a signal, the run still restores the file it mutated.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--timeout", type=float, default=300,
                        help="seconds for one mutant's tests (default 300)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--json", help="write each mutant's outcome to this file")
    parser.add_argument("--replay", help="run the mutants listed in this --json output")
    args = parser.parse_args()

    if args.replay:
        fields = Mutant.__dataclass_fields__
        sample = [Mutant(**{k: v for k, v in o.items() if k in fields})
                  for o in json.loads(Path(args.replay).read_text())]
        print(f"{len(sample)} mutants from {args.replay}")
    else:
        mutants = all_mutants(ROOT)
        sample = random.Random(args.seed).sample(mutants, min(args.count, len(mutants)))
        sample.sort(key=lambda m: (m.file, m.line))
        print(f"{len(mutants)} mutants in src/, {len(sample)} drawn with seed {args.seed}")
    if args.list:
        for m in sample:
            print(f"{m.where():40} {m.kind:10} {m.after.strip()}")
        return 0

    subprocess.run(["cmake", "--preset", "mutate"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    if not build(ROOT) or not tests(ROOT, args.timeout):
        print("the unmutated tree does not build or pass its tests", file=sys.stderr)
        return 2
    outcomes, start = [], time.monotonic()
    for i, mutant in enumerate(sample, 1):
        outcome = try_mutant(ROOT, mutant, args.timeout)
        outcomes.append(dict(asdict(mutant), outcome=outcome))
        print(f"[{i}/{len(sample)}] {outcome:9} {mutant.where():40} {mutant.after.strip()}",
              flush=True)
    build(ROOT)  # leave the build as the unmutated tree

    counts = {k: sum(o["outcome"] == k for o in outcomes)
              for k in ("killed", "timed out", "survived", "invalid", "moved")}
    valid = len(outcomes) - counts["invalid"] - counts["moved"]
    detected = counts["killed"] + counts["timed out"]
    print(f"\n{counts['killed']} killed, {counts['timed out']} timed out, "
          f"{counts['survived']} survived, {counts['invalid']} invalid, {counts['moved']} moved "
          f"in {time.monotonic() - start:.0f} s")
    if valid:
        print(f"kill rate {100 * detected / valid:.1f} % of {valid} valid mutants")
    for o in outcomes:
        if o["outcome"] == "survived":
            print(f"survived: {o['file']}:{o['line']}  {o['after'].strip()}")
    if args.json:
        Path(args.json).write_text(json.dumps(outcomes, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
