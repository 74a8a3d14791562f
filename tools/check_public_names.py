#!/usr/bin/python3
"""Checks that the installed headers put no name where a user's program could
meet it, other than the library's own:

- every top-level declaration of a header under include/ is the namespace
  qkxdr, or a name of the exported interface (QkXDR...), also inside an
  extern "C" block; so a helper at global scope, another namespace
  (`namespace detail`, `namespace std`) or a `using namespace` fails;
- every macro that a header under include/ defines or undefines, include
  guards too, starts with QKXDR_.

Declarations are read from clang's syntax tree of each header under include/
(found by walking the folder, so a new header is checked without being
listed), compiled alone; macros are read from the text of every such file, so
that the branches the compiler skips count as well.

Usage: tools/check_public_names.py [include folder]   (needs python3-clang-14)
Prints each finding as file:line: message, and exits 1 when there is one.
"""

import re
import sys
from pathlib import Path

import clang.cindex as ci

ROOT = Path(__file__).resolve().parent.parent
INCLUDE = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else ROOT / "include"
NAMESPACE = "qkxdr"
EXPORTED_PREFIX = "QkXDR"
MACRO_PREFIX = "QKXDR_"

# Debian's libclang is versioned; the bindings find the unversioned name only
# with the -dev package.
for candidate in ("libclang-14.so.1", "libclang-14.so", "libclang.so"):
    try:
        ci.Config.set_library_file(candidate)
        ci.Index.create()
        break
    except ci.LibclangError:
        ci.Config.loaded = False
        continue


def headers():
    return sorted(p for p in INCLUDE.rglob("*") if p.suffix in (".h", ".hpp") and p.is_file())


def relative(path):
    try:
        return Path(path).resolve().relative_to(INCLUDE.parent)
    except ValueError:
        return None


def in_include(cursor):
    f = cursor.location.file
    return f is not None and Path(f.name).resolve().is_relative_to(INCLUDE)


def where(cursor):
    return f"{relative(cursor.location.file.name)}:{cursor.location.line}"


def is_extern_c_block(cursor):
    # libclang 14 reports an extern "C" block as an unexposed declaration.
    if cursor.kind not in (ci.CursorKind.LINKAGE_SPEC, ci.CursorKind.UNEXPOSED_DECL):
        return False
    tokens = [t.spelling for t in cursor.get_tokens()]
    return tokens[:3] == ["extern", '"C"', "{"]


def check_scope(cursor, findings):
    """The children of the global scope, or of an extern "C" block in it."""
    for child in cursor.get_children():
        if not in_include(child):
            continue
        kind = child.kind
        if is_extern_c_block(child):
            check_scope(child, findings)
        elif kind == ci.CursorKind.NAMESPACE:
            if child.spelling != NAMESPACE:
                name = child.spelling or "(anonymous)"
                findings.append(f"{where(child)}: namespace {name} at global scope")
        elif kind in (ci.CursorKind.USING_DIRECTIVE, ci.CursorKind.USING_DECLARATION,
                      ci.CursorKind.NAMESPACE_ALIAS):
            findings.append(f"{where(child)}: {kind.name.lower()} at global scope")
        elif kind == ci.CursorKind.STATIC_ASSERT:
            continue
        elif not child.spelling.startswith(EXPORTED_PREFIX):
            name = child.spelling or "(unnamed)"
            findings.append(f"{where(child)}: {name} ({kind.name.lower()}) outside namespace {NAMESPACE}")


def check_declarations(findings):
    # One translation unit per header: each must compile alone anyway, and
    # two headers that clash with each other are not this check's finding.
    index = ci.Index.create()
    failed = False
    for header in headers():
        name = header.relative_to(INCLUDE).as_posix()
        tu = index.parse("header.cpp", args=["-x", "c++", "-std=c++17", f"-I{INCLUDE}"],
                         unsaved_files=[("header.cpp", f'#include "{name}"\n')],
                         options=ci.TranslationUnit.PARSE_SKIP_FUNCTION_BODIES)
        for d in tu.diagnostics:
            if d.severity >= ci.Diagnostic.Error:
                print(f"{name} does not compile alone: {d}", file=sys.stderr)
                failed = True
        check_scope(tu.cursor, findings)
    if failed:
        sys.exit(2)


DIRECTIVE = re.compile(r"^\s*#\s*(define|undef)\s+(\w+)", re.MULTILINE)


def check_macros(findings):
    for header in headers():
        text = header.read_text(encoding="utf-8")
        for match in DIRECTIVE.finditer(text):
            name = match.group(2)
            if not name.startswith(MACRO_PREFIX):
                line = text.count("\n", 0, match.start()) + 1
                findings.append(f"{relative(header)}:{line}: #{match.group(1)} {name}: not {MACRO_PREFIX}...")


def main():
    findings = []
    check_declarations(findings)
    check_macros(findings)
    findings = list(dict.fromkeys(findings))  # a header included by many is read many times
    for finding in findings:
        print(finding)
    count = len(headers())
    if findings:
        print(f"{len(findings)} names outside the library's own in the {count} headers of {INCLUDE}")
        return 1
    print(f"names: the {count} headers under {relative(INCLUDE) or INCLUDE} declare only qkxdr::, "
          f"{EXPORTED_PREFIX}... and {MACRO_PREFIX}...")
    return 0


if __name__ == "__main__":
    sys.exit(main())
