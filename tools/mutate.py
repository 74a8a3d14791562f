#!/usr/bin/env python3
"""Mutation testing of the library (src/, include/qkxdr/detail/): how many small
faults do the tests find?

Lists every place in that code where one of these mutations applies:
  relational  a < b  ->  a <= b, and so on for <=, >, >=, ==, !=
  logical     &&  <->  ||
  constant    an integer literal n  ->  n + 1, and n - 1 when n > 0
  condition   if (c)  ->  if (!(c))
  statement   a statement that stands on a line of its own  ->  removed
and draws a sample of them with a fixed seed, at most one a line, among those
whose line can hold both versions behind a switch read at run time: an if or
while condition (on ? (mutated) : (original)), a returned value, the value
after " = ", or a whole statement (if (on) { mutated } else { original }).
Lines the compiler must evaluate (constexpr, templates' arguments, case
labels) cannot; a switched line that fails to compile anyway is dropped.

All the sampled mutants are compiled into one build of the mutate preset
(-O1, no debug information, tools/mutant_switch.h included in every file),
so the tests run once a mutant with nothing rebuilt: QKXDR_MUTANT=<n>
selects mutant n, 0 none. A mutant is killed when a test fails, timed out
when the tests did not finish, survived when they all passed. The tests are
the mutate test preset: every test but the "large" ones and the header checks
(they compile the headers without the switch).

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

Run it on a clone of its own: while it runs, the library's files hold the switched lines.
"""

import argparse
import json
import os
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
# Code the compiler evaluates, where a switch read at run time cannot go.
UNSWITCHABLE = re.compile(r"\b(constexpr|template|static_assert|case|enum|alignas|noexcept|"
                          r"operator|sizeof|alignof)\b|[<>]\w*\d|\\$")


@dataclass
class Mutant:
    file: str
    line: int  # 1-based
    kind: str
    before: str  # the line as it was
    after: str  # the line mutated
    standalone: bool  # the line is a whole statement of its own

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


def line_mutants(path, number, line, code, standalone):
    """Every mutant of one line of source."""
    found = []

    def add(kind, start, end, text):
        found.append(Mutant(path, number, kind, line, line[:start] + text + line[end:],
                            standalone))

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
            add("condition", m.end(), close, f"!({line[m.end():close]})")
    if standalone and not NOT_REMOVABLE.match(code) and not DECLARATION.match(code):
        indent = line[:len(line) - len(line.lstrip())]
        found.append(Mutant(path, number, "statement", line, indent + ";", standalone))
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
            standalone = (code.rstrip().endswith(";")
                          and previous.rstrip().endswith(STATEMENT_START))
            found += line_mutants(path, i + 1, line, code, standalone)
        if code.strip():
            previous = code
    return found


def all_mutants(root):
    files = subprocess.run(["git", "ls-files", "src", "include/qkxdr/detail"], cwd=root,
                           check=True, text=True, capture_output=True).stdout.split()
    found = []
    for path in sorted(files):
        # Windows-only sources are not built here: their mutants would survive.
        if path.endswith((".h", ".cpp", ".hpp")) and "windows" not in path:
            found += file_mutants(root, path)
    return found


def switched(m, n):
    """Mutant m's line holding both versions behind switch n, or None when
    the line offers no place for the switch."""
    old, new = m.before, m.after
    code = code_part(old)
    if UNSWITCHABLE.search(code):
        return None
    prefix = 0
    while prefix < min(len(old), len(new)) and old[prefix] == new[prefix]:
        prefix += 1
    grown = len(new) - len(old)
    on = f"qkxdr_mutant_on({n})"

    def both(first, last):  # old[first:last] is the part that holds the change
        return f"{on} ? ({new[first:last + grown]}) : ({old[first:last]})"

    for c in re.finditer(r"\b(if|while) \(", code):
        close = matching_paren(code, c.end() - 1)
        if close is not None and c.end() <= prefix and close - grown >= 0 and \
                old[close:] == new[close + grown:]:
            return old[:c.end()] + both(c.end(), close) + old[close:]
    end = code.rstrip().rfind(";")
    if not m.standalone or end < 0 or old[end:] != new[end + grown:]:
        return None
    value = re.match(r"\s*return ", code) or re.search(r"(?<=[\w\]) ]) = ", code)
    if value and value.end() <= prefix and ";" not in code[value.end():end]:
        return old[:value.end()] + both(value.end(), end) + old[end:]
    if DECLARATION.match(code) or NOT_REMOVABLE.match(code):
        return None
    indent = len(old) - len(old.lstrip())
    return f"{old[:indent]}if ({on}) {{ {new[indent:end + grown + 1]} }} else {{ {old[indent:end + 1]} }}"


def draw(mutants, count, seed):
    """count switchable mutants, at most one a line, in a fixed random order."""
    order = list(mutants)
    random.Random(seed).shuffle(order)
    taken, lines = [], set()
    for m in order:
        if len(taken) == count:
            break
        if (m.file, m.line) not in lines and switched(m, 1) is not None:
            taken.append(m)
            lines.add((m.file, m.line))
    return sorted(taken, key=lambda m: (m.file, m.line))


def write_switched(root, mutants, originals):
    """Puts each mutant's switched line in its file; the ids are 1-based
    positions in `mutants`, None for those dropped."""
    by_file = {}
    for n, m in enumerate(mutants, 1):
        if m is not None:
            by_file.setdefault(m.file, []).append((n, m))
    for path, original in originals.items():
        lines = original.split("\n")
        for n, m in by_file.get(path, []):
            lines[m.line - 1] = switched(m, n)
        (root / path).write_text("\n".join(lines))


def build_switched(root, mutants, originals):
    """Builds all mutants at once; drops (sets to None) those whose lines the
    compiler refuses, then builds again. False when a failure names no
    mutant's line."""
    while True:
        write_switched(root, mutants, originals)
        result = subprocess.run(["cmake", "--build", "--preset", "mutate"], cwd=root,
                                capture_output=True, text=True)
        if result.returncode == 0:
            return True
        named = set(re.findall(r"((?:src|include/qkxdr/detail)/[\w./-]+):(\d+):",
                               result.stdout + result.stderr))
        refused = [i for i, m in enumerate(mutants)
                   if m is not None and (m.file, str(m.line)) in named]
        if not refused:
            sys.stderr.write(result.stdout[-4000:])
            return False
        for i in refused:
            mutants[i] = None


def tests(root, mutant_id, timeout):
    """True when every test passes with mutant_id on, None on a timeout.

    On a timeout the whole process group goes: ctest and the test programs
    it started, which a mutant may have sent into an endless loop."""
    env = dict(os.environ, QKXDR_MUTANT=str(mutant_id))
    with subprocess.Popen(["ctest", "--preset", "mutate", "--stop-on-failure", "-j", "2"],
                          cwd=root, env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, start_new_session=True) as ctest:
        try:
            return ctest.wait(timeout=timeout) == 0
        except subprocess.TimeoutExpired:
            os.killpg(ctest.pid, signal.SIGKILL)
            ctest.wait()
            return None


def load_replay(path, root):
    fields = Mutant.__dataclass_fields__
    sample = [Mutant(**{k: v for k, v in o.items() if k in fields})
              for o in json.loads(Path(path).read_text())]
    moved = [m for m in sample
             if (root / m.file).read_text().split("\n")[m.line - 1:m.line] != [m.before]]
    return [m for m in sample if m not in moved], moved


def report(outcomes, seconds):
    counts = {k: sum(o["outcome"] == k for o in outcomes)
              for k in ("killed", "timed out", "survived", "not compiled", "moved")}
    valid = counts["killed"] + counts["timed out"] + counts["survived"]
    print(f"\n{counts['killed']} killed, {counts['timed out']} timed out, "
          f"{counts['survived']} survived; {counts['not compiled']} not compiled, "
          f"{counts['moved']} moved; {seconds:.0f} s")
    if valid:
        print(f"kill rate {100 * (valid - counts['survived']) / valid:.1f} % "
              f"of {valid} mutants")
    for o in outcomes:
        if o["outcome"] == "survived":
            print(f"survived: {o['file']}:{o['line']}  {o['after'].strip()}")


def main():
    # Stopped by a signal, the run still restores the files it changed.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--timeout", type=float, default=60,
                        help="seconds for one mutant's tests (default 60; they take about 10)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--json", help="write each mutant's outcome to this file")
    parser.add_argument("--replay", help="run the mutants listed in this --json output")
    args = parser.parse_args()

    moved = []
    if args.replay:
        sample, moved = load_replay(args.replay, ROOT)
        print(f"{len(sample)} mutants from {args.replay}, {len(moved)} moved")
    else:
        mutants = all_mutants(ROOT)
        sample = draw(mutants, args.count, args.seed)
        print(f"{len(mutants)} mutants in the library, {len(sample)} drawn with seed {args.seed}")
    if args.list:
        for m in sample:
            print(f"{m.where():40} {m.kind:10} {m.after.strip()}")
        return 0

    start = time.monotonic()
    originals = {m.file: (ROOT / m.file).read_text() for m in sample}
    built = list(sample)
    try:
        subprocess.run(["cmake", "--preset", "mutate"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        if not build_switched(ROOT, built, originals) or not tests(ROOT, 0, args.timeout):
            print("the switched tree does not build, or fails its tests with no mutant on",
                  file=sys.stderr)
            return 2
        outcomes = [dict(asdict(m), outcome="moved") for m in moved]
        for n, (m, b) in enumerate(zip(sample, built), 1):
            passed = tests(ROOT, n, args.timeout) if b is not None else False
            outcome = ("not compiled" if b is None else "timed out" if passed is None
                       else "survived" if passed else "killed")
            outcomes.append(dict(asdict(m), outcome=outcome))
            print(f"[{n}/{len(sample)}] {outcome:12} {m.where():40} {m.after.strip()}",
                  flush=True)
    finally:
        for path, text in originals.items():
            (ROOT / path).write_text(text)
    report(outcomes, time.monotonic() - start)
    if args.json:
        Path(args.json).write_text(json.dumps(outcomes, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
