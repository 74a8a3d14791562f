#!/usr/bin/env python3
"""Ratios of QkXDR to its peers, before and after a change, in one run.

Runs two builds of qkxdr_bench (the same bench sources built against two
versions of the library) one after the other, each workload in a process
of its own, pinned to one processor, and prints for each comparison the
ratio QkXDR time / peer time of both builds (median CPU time of the
repetitions), as Markdown.

  bench/before_after.py BEFORE_PROGRAM AFTER_PROGRAM [--repetitions N] [--min-time S]

To build the "before" program: a worktree of the earlier commit with this
bench/ folder copied in, `cmake --preset bench && cmake --build --preset bench`.
"""

import argparse
import json
import subprocess

# (comparison, QkXDR case, peer case), the workload's name in front of each.
ROWS = [
    ("typed encode / cereal", "typed/qkxdr/to-binary", "typed/cereal/save"),
    ("typed decode / cereal", "typed/qkxdr/from-binary", "typed/cereal/load"),
    ("typed encode / msgpack-c", "typed/qkxdr/to-binary", "typed/msgpack/pack"),
    ("typed decode / msgpack-c", "typed/qkxdr/from-binary", "typed/msgpack/unpack-convert"),
    ("typed encode / protobuf", "typed/qkxdr/to-binary", "typed/protobuf/serialize"),
    ("typed decode / protobuf", "typed/qkxdr/from-binary", "typed/protobuf/parse"),
    ("typed text encode / RapidJSON Writer", "typed/qkxdr/to-text", "typed/rapidjson/write"),
    ("exported binary write / msgpack-c", "qkxdr/binary-write", "msgpack/write"),
    ("exported binary read / msgpack-c", "qkxdr/binary-read", "msgpack/read"),
    ("exported text write / RapidJSON Writer", "qkxdr/text-write", "rapidjson/write"),
    ("binary stream 4 KiB / whole buffer", "qkxdr/stream-binary-read-4k", "qkxdr/decoder-binary-read"),
    ("binary stream 64 KiB / whole buffer", "qkxdr/stream-binary-read-64k", "qkxdr/decoder-binary-read"),
    ("binary stream 4 KiB / msgpack unpacker", "qkxdr/stream-binary-read-4k", "msgpack/stream-read-4k"),
    ("binary stream 64 KiB / msgpack unpacker", "qkxdr/stream-binary-read-64k", "msgpack/stream-read-64k"),
    ("text stream 4 KiB / whole buffer", "qkxdr/stream-text-read-4k", "qkxdr/decoder-text-read"),
    ("text stream 64 KiB / whole buffer", "qkxdr/stream-text-read-64k", "qkxdr/decoder-text-read"),
    ("from_json / RapidJSON Reader + Writer", "qkxdr/json-read", "rapidjson/json-pass"),
    ("from_json / simdjson DOM parse", "qkxdr/json-read", "simdjson/dom-parse"),
    ("to_json / RapidJSON Reader + Writer", "qkxdr/json-write", "rapidjson/json-pass"),
]
WORKLOADS = ["ints", "doubles", "strings", "blobs", "records"]


def run(program, workload, cases, args):
    pattern = "^(" + "|".join(f"{workload}/{c}" for c in sorted(cases)) + ")$"
    out = subprocess.run(
        ["taskset", "-c", "1", program, f"--benchmark_filter={pattern}",
         f"--benchmark_repetitions={args.repetitions}", f"--benchmark_min_time={args.min_time}",
         "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            times[b["run_name"]] = b["cpu_time"]
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--min-time", type=float, default=0.1)
    args = parser.parse_args()
    cases = {c for _, q, p in ROWS for c in (q, p)}
    times = {"before": {}, "after": {}}
    for workload in WORKLOADS:
        for build in ("before", "after"):
            times[build].update(run(getattr(args, build), workload, cases, args))
    print("| workload | comparison | before | after |")
    print("|---|---|---:|---:|")
    for workload in WORKLOADS:
        for label, ours, peer in ROWS:
            cells = []
            for build in ("before", "after"):
                t = times[build]
                q, p = t.get(f"{workload}/{ours}"), t.get(f"{workload}/{peer}")
                cells.append(f"{q / p:.2f}" if q and p else None)
            if all(cells):
                print(f"| {workload} | {label} | {cells[0]} | {cells[1]} |")


if __name__ == "__main__":
    main()
