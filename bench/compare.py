#!/usr/bin/env python3
"""Runs the benchmarks and prints QkXDR against its peers, with ratios.

Each workload's cases run in a process of their own, each case
--repetitions times, one case after the other; the median CPU time of a
case's repetitions is used. (Interleaving the cases' repetitions, or running
every workload in one process, would leave every writer's growing buffer to
whatever heap the cases before it left, which moves its results more than the
machine's load does.) Ratios are QkXDR time / peer time (below 1: QkXDR is
faster). The binary paths are compared with msgpack-c, the text paths with
RapidJSON's UTF-16 writer and reader, and everything with memcpy of as many
bytes as QkXDR's encoding takes. The writers also show the calls-only
floor: the same calls made on a writer that encodes nothing
(bench/floor_cases.cpp), what any writer behind QkXDR's interface pays.

A second table compares the typed C++ layer (qkxdr/typed.hpp: to_binary,
from_binary, to_text, from_text on std::vector and struct values) with the
peers' own ways of handling the same C++ types: msgpack-c's pack and
unpack + convert, cereal's binary archives, protobuf's SerializeToString and
ParseFromString on generated messages (bench/typed_values.proto), RapidJSON's
Writer and SAX Reader written by hand (UTF-16),
nlohmann/json's dump and parse + get (UTF-8), memcpy of as many bytes as
the typed layer's encoding takes, and for ints, doubles and records the
format floor. The typed cases of each workload run in a
process of their own, after the other cases' process.

A third table compares the JSON converter (qkxdr/json.hpp) with RapidJSON's
SAX Reader feeding its Writer and with simdjson's DOM parse, on the same
UTF-8 text.

  bench/compare.py                       build the bench preset, run, print
  bench/compare.py --markdown            the table as Markdown
  bench/compare.py --json out.json       also keep the raw results
  bench/compare.py --from out.json       print from saved results
  bench/compare.py --program PATH        run another build's qkxdr_bench as it is
"""

import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "bench", "bench", "qkxdr_bench")
WORKLOADS = ["ints", "doubles", "strings", "blobs", "records"]

# QkXDR operation -> (peer case, floor case, target ratio against the peer).
PAIRS = {
    "binary-write": ("msgpack/write", "memcpy/binary-size", 1.0),
    "binary-read": ("msgpack/read", "memcpy/binary-size", 1.0),
    "binary-write-utf16": ("msgpack/write", "memcpy/binary-size", 1.0),
    "binary-read-utf16": ("msgpack/read", "memcpy/binary-size", 1.0),
    "text-write": ("rapidjson/write", "memcpy/text-size", 1.0),
    "text-read": ("rapidjson/read", "memcpy/text-size", 1.3),
    "text-parse": ("rapidjson/read", "memcpy/text-size", 1.0),
}

# QkXDR writing operation -> the calls-only case with the same string calls.
CALLS_ONLY = {
    "binary-write": "calls/write",
    "binary-write-utf16": "calls/write-utf16",
    "text-write": "calls/write-utf16",
}


# Typed layer: QkXDR operation -> [(case compared with, label, target ratio)].
# A target given as (ratio, workloads) holds for those workloads only: the
# memcpy target (a stretch) for ints and doubles, the cereal and protobuf
# encoding targets for strings and blobs. Ints, doubles and records also
# have the format floor: a bare loop writing or reading the same bytes
# (bench/format_floor_cases.cpp).
MEMCPY_TARGETS = ("ints", "doubles")
ENCODE_TARGETS = ("strings", "blobs")
TYPED_PAIRS = {
    "to-binary": [("msgpack/pack", "msgpack pack", 1.0),
                  ("cereal/save", "cereal BinaryOutputArchive", (1.0, ENCODE_TARGETS)),
                  ("protobuf/serialize", "protobuf SerializeToString", (1.0, ENCODE_TARGETS)),
                  ("memcpy/binary-size", "memcpy", (3.0, MEMCPY_TARGETS)),
                  ("floor/encode", "format floor", None)],
    "from-binary": [("msgpack/unpack-convert", "msgpack unpack+convert", 1.0),
                    ("cereal/load", "cereal BinaryInputArchive", None),
                    ("protobuf/parse", "protobuf ParseFromString", None),
                    ("memcpy/binary-size", "memcpy", (3.0, MEMCPY_TARGETS)),
                    ("floor/decode", "format floor", None)],
    "to-text": [("rapidjson/write", "RapidJSON Writer", 1.0),
                ("nlohmann/dump", "nlohmann dump (UTF-8)", 1.0),
                ("memcpy/text-size", "memcpy", None)],
    "from-text": [("rapidjson/read", "RapidJSON Reader", 1.0),
                  ("nlohmann/parse-get", "nlohmann parse+get (UTF-8)", 1.0),
                  ("memcpy/text-size", "memcpy", None)],
}

# The JSON converter (bench/json_cases.cpp), on one UTF-8 text a workload:
# json::from_json and json::to_json against RapidJSON's Reader feeding its
# Writer (the text parsed and written again), and simdjson's DOM parse alone.
JSON_PAIRS = {
    "json-read": [("rapidjson/json-pass", "RapidJSON Reader+Writer", 1.0),
                  ("simdjson/dom-parse", "simdjson DOM parse", None)],
    "json-read-lines": [("rapidjson/json-pass", "RapidJSON Reader+Writer", None)],
    "json-write": [("rapidjson/json-pass", "RapidJSON Reader+Writer", None)],
}


def targets(workload, operation):
    """The ratios QkXDR must stay below, as (against, limit) pairs."""
    if workload == "doubles" and operation == "text-write":
        return [("peer", 1.2)]
    if workload == "blobs":
        return [("peer", 1.0), ("memcpy", 1.5)]
    return [("peer", PAIRS[operation][2])]


def run(args):
    if args.program is None:
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "bench"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    program = args.program or PROGRAM
    listed = subprocess.run([program, "--benchmark_list_tests",
                             f"--benchmark_filter={args.filter}"],
                            check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    results = {"context": {}, "benchmarks": []}
    groups = [[n for n in listed if n.startswith(f"{workload}/") and typed == ("/typed/" in n)]
              for workload in WORKLOADS for typed in (False, True)]
    for names in groups:
        if not names:
            continue
        command = [program, "--benchmark_format=json",
                   f"--benchmark_repetitions={args.repetitions}",
                   "--benchmark_report_aggregates_only=true",
                   f"--benchmark_min_time={args.min_time}",
                   f"--benchmark_filter=^({'|'.join(names)})$"]
        print("running:", " ".join(command), file=sys.stderr)
        part = json.loads(subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout)
        results["context"] = part["context"]
        results["benchmarks"] += part["benchmarks"]
    return results


def medians(results):
    """Case name -> {ns (per value), mbs, bytes} from the median aggregates,
    or from the single run of each case when there was one repetition (no
    aggregates are reported then)."""
    found = {}
    for b in results["benchmarks"]:
        kind = "median" if b.get("run_type") == "aggregate" else None
        if b.get("aggregate_name") != kind or b.get("error_occurred"):
            continue
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
        ns = b["cpu_time"] * scale
        found[b["run_name"]] = {
            "ns": ns / b["values"],
            "mbs": b["bytes"] / ns * 1e3,
            "bytes": int(b["bytes"]),
        }
    return found


def calls_only(found, workload, operation):
    """The calls-only result beside a QkXDR writer, or None for a reader.
    Workloads without strings have one calls-only case for both widths."""
    if operation not in CALLS_ONLY:
        return None
    return (found.get(f"{workload}/{CALLS_ONLY[operation]}")
            or found.get(f"{workload}/calls/write"))


def rows(found):
    for workload in WORKLOADS:
        for operation, (peer, floor, _) in PAIRS.items():
            own = found.get(f"{workload}/qkxdr/{operation}")
            if own is None:
                continue
            other = found.get(f"{workload}/{peer}")
            base = found.get(f"{workload}/{floor}")
            calls = calls_only(found, workload, operation)
            vs_peer = own["ns"] / other["ns"] if other else None
            vs_floor = own["ns"] / base["ns"] if base else None
            checks = [(vs_peer if against == "peer" else vs_floor, limit)
                      for against, limit in targets(workload, operation)]
            yield {
                "workload": workload, "operation": operation, "own": own,
                "peer_name": peer.split("/")[0] if other else "-", "peer": other,
                "vs_peer": vs_peer, "floor": base, "vs_floor": vs_floor, "calls": calls,
                "target": ", ".join(f"{'peer' if a == 'peer' else 'memcpy'} < {limit}"
                                    for a, limit in targets(workload, operation)),
                "met": None if any(r is None for r, _ in checks)
                       else all(r < limit for r, limit in checks),
            }


def cells(row):
    def num(v, fmt):
        return "-" if v is None else format(v, fmt)

    own, peer, floor = row["own"], row["peer"] or {}, row["floor"] or {}
    calls = row["calls"] or {}
    return [row["workload"], row["operation"],
            num(own["ns"], ".2f"), num(own["mbs"], ".0f"), str(own["bytes"]),
            row["peer_name"], num(peer.get("ns"), ".2f"), num(peer.get("mbs"), ".0f"),
            str(peer.get("bytes", "-")), num(row["vs_peer"], ".2f"),
            num(floor.get("ns"), ".2f"), num(row["vs_floor"], ".2f"),
            num(calls.get("ns"), ".2f"), row["target"],
            {True: "met", False: "MISSED", None: "-"}[row["met"]]]


def pair_rows(found, pairs_of, prefix):
    """Rows of QkXDR's <prefix>qkxdr/<operation> against each case paired
    with it in pairs_of."""
    for workload in WORKLOADS:
        for operation, pairs in pairs_of.items():
            own = found.get(f"{workload}/{prefix}qkxdr/{operation}")
            if own is None:
                continue
            for case, label, limit in pairs:
                other = found.get(f"{workload}/{prefix}{case}")
                if other is None:
                    continue
                if isinstance(limit, tuple):
                    limit = limit[0] if workload in limit[1] else None
                ratio = own["ns"] / other["ns"]
                yield [workload, operation, f"{own['ns']:.2f}", str(own["bytes"]), label,
                       f"{other['ns']:.2f}", str(other["bytes"]), f"{ratio:.2f}",
                       "-" if limit is None else f"< {limit}",
                       "-" if limit is None else "met" if ratio < limit else "MISSED"]


TYPED_HEADER = ["workload", "operation", "ns/value", "bytes", "against", "its ns/value",
                "its bytes", "ratio", "target", "status"]


def show(header, table, markdown):
    if markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for line in table:
            print("| " + " | ".join(line) + " |")
    else:
        widths = [max(len(x) for x in column) for column in zip(header, *table)]
        for line in [header] + table:
            print("  ".join(x.rjust(w) for x, w in zip(line, widths)))


HEADER = ["workload", "operation", "ns/value", "MB/s", "bytes", "peer", "peer ns/value",
          "peer MB/s", "peer bytes", "ratio", "memcpy ns/value", "vs memcpy",
          "calls-only ns/value", "target", "status"]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.1,
                        help="seconds per repetition (default 0.1)")
    parser.add_argument("--filter", default=".", help="benchmark name regex")
    parser.add_argument("--json", help="write the raw results here")
    parser.add_argument("--from", dest="source", help="read saved results instead of running")
    parser.add_argument("--program", help="a qkxdr_bench to run instead of building this tree's")
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()

    if args.source:
        with open(args.source) as f:
            results = json.load(f)
    else:
        results = run(args)
        if args.json:
            with open(args.json, "w") as f:
                json.dump(results, f, indent=1)

    found = medians(results)
    table = [cells(r) for r in rows(found)]
    if table:
        show(HEADER, table, args.markdown)
    for rows_of in (list(pair_rows(found, TYPED_PAIRS, "typed/")),
                    list(pair_rows(found, JSON_PAIRS, ""))):
        if rows_of:
            if table:
                print()
            show(TYPED_HEADER, rows_of, args.markdown)
            table = rows_of
    context = results.get("context", {})
    print(f"\n{context.get('host_name', '?')}: {context.get('num_cpus', '?')} CPUs at "
          f"{context.get('mhz_per_cpu', '?')} MHz; {context.get('date', '')}")


if __name__ == "__main__":
    main()
