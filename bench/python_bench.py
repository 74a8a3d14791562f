#!/usr/bin/python3
"""qkxdr's dumps and loads against Python's serializers, on bench/'s workloads.

Each workload (ints, doubles, strings, blobs, records; bench/workload.cpp) is
generated from a fixed seed with the same distributions as the C++
benchmarks and held as one list, which every codec encodes and decodes in
one call: qkxdr (binary), msgpack.packb/unpackb, cbor2.dumps/loads,
json.dumps/loads (compact separators), ujson.dumps/loads and pickle at its
highest protocol. json and ujson hold no bytes: on blobs, their dumps
encode each blob as a base64 string and their loads decode it back, both
inside the timed call. Every codec's result is checked once per workload
(loads(dumps(x)) == x) before it is timed.

Times are the median of several runs with the garbage collector off (as
timeit does), the codecs taking turns in every run, in ns per value (per
record for records); ratios are peer time / qkxdr time (above 1: qkxdr is
faster). malloc is told to keep freed memory (see keep_freed_memory;
--default-malloc leaves it as it is). A table of one small
value per call shows what each call costs apart from its values. numpy
int32, int64 and float64 arrays are timed through qkxdr.dumps(array) and
qkxdr.loads(data, arrays=True) against a copy of as many bytes as their
encoding takes.

  PYTHONPATH=build/python/python /usr/bin/python3 bench/python_bench.py
  ... bench/python_bench.py --json out.json    also write the results as JSON
  ... bench/python_bench.py --quick            tiny sizes, a smoke run

Exits with 1 if a round trip fails.
"""

from __future__ import annotations

import argparse
import binascii
import ctypes
import gc
import importlib.metadata
import json
import pickle
import platform
import random
import statistics
import sys
import time
from dataclasses import dataclass
from typing import Any, Callable, Dict, List, Optional, Tuple

import cbor2
import msgpack
import numpy as np
import ujson

import qkxdr

ALPHABET = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-.,:;/"
SEED = 0x51CE5EED
# Full sizes, as in bench/workload.cpp; --scale takes a fraction of them.
FULL_COUNTS = {"ints": 1_000_000, "doubles": 500_000, "strings": 200_000,
               "blobs": 20_000, "records": 100_000}
DEFAULT_SCALE = 1.0
NUMPY_COUNT = 1_000_000
NUMPY_TARGET = 2.0  # qkxdr's time on an array within this multiple of memcpy


# ---------------------------------------------------------------- workloads

def make_int(rng: random.Random) -> int:
    """Half small, three in ten medium, the rest anywhere in 32 bits."""
    bucket = rng.getrandbits(64) % 10
    if bucket < 5:
        return rng.randint(-32, 63)
    if bucket < 8:
        return rng.randint(-100_000, 100_000)
    return rng.getrandbits(32) - (1 << 31)


def make_real(rng: random.Random, magnitude: float) -> float:
    """Uniform in [-magnitude, magnitude), with 53 random bits."""
    return (2 * (rng.getrandbits(53) * 2.0 ** -53) - 1) * magnitude


def make_text(rng: random.Random, length: int) -> str:
    return "".join(rng.choices(ALPHABET, k=length))


def make_record(rng: random.Random) -> list:
    """[id, score, name(16), time stamp in ms, [three small ints]]."""
    return [rng.randint(0, 10_000_000), make_real(rng, 1000.0), make_text(rng, 16),
            1_600_000_000_000 + rng.randint(0, 100_000_000_000),
            [rng.randint(0, 63) for _ in range(3)]]


MAKERS: Dict[str, Callable[[random.Random], Any]] = {
    "ints": make_int,
    "doubles": lambda rng: make_real(rng, 1e6),
    "strings": lambda rng: make_text(rng, rng.randint(8, 32)),
    "blobs": lambda rng: rng.randbytes(1024),
    "records": make_record,
}


def make_workload(name: str, scale: float) -> list:
    """The workload's values, fixed by its name and the scale."""
    rng = random.Random(SEED + list(MAKERS).index(name))
    count = max(1, round(FULL_COUNTS[name] * scale))
    return [MAKERS[name](rng) for _ in range(count)]


# ------------------------------------------------------------------- codecs

@dataclass(frozen=True)
class Codec:
    name: str
    dumps: Callable[[Any], Any]
    loads: Callable[[Any], Any]


def pickle_dumps(obj: Any) -> bytes:
    return pickle.dumps(obj, protocol=pickle.HIGHEST_PROTOCOL)


QKXDR = Codec("qkxdr", qkxdr.dumps, qkxdr.loads)
PEERS = [
    Codec("msgpack", msgpack.packb, msgpack.unpackb),
    Codec("cbor2", cbor2.dumps, cbor2.loads),
    Codec("json", json.JSONEncoder(separators=(",", ":")).encode, json.loads),
    Codec("ujson", ujson.dumps, ujson.loads),
    Codec("pickle", pickle_dumps, pickle.loads),
]
TEXT_ONLY = {"json", "ujson"}  # no bytes: blobs go through base64


def with_base64(codec: Codec) -> Codec:
    """codec on a list of bytes, each carried as a base64 string."""
    def dumps(blobs: List[bytes]) -> Any:
        return codec.dumps([binascii.b2a_base64(b, newline=False).decode("ascii")
                            for b in blobs])

    def loads(data: Any) -> List[bytes]:
        return [binascii.a2b_base64(s) for s in codec.loads(data)]

    return Codec(codec.name, dumps, loads)


def codecs_for(workload: str) -> List[Codec]:
    """qkxdr first, then the peers as they must be called on this workload."""
    peers = [with_base64(p) if workload == "blobs" and p.name in TEXT_ONLY else p
             for p in PEERS]
    return [QKXDR] + peers


def encoded_size(data: Any) -> int:
    return len(data.encode("utf-8", "surrogatepass") if isinstance(data, str) else data)


# ------------------------------------------------------------------- timing

def keep_freed_memory() -> bool:
    """Has glibc's malloc keep freed memory and serve large blocks from it.

    Otherwise whether an output of a few MB is mapped afresh (and pays a page
    fault every 4 KiB) depends on what was freed before, and moves a
    codec's time by up to 20x from one run to the next. A long-running
    process reaches this state by itself. False where there is no mallopt."""
    mallopt = getattr(ctypes.CDLL(None), "mallopt", None)
    if mallopt is None:
        return False
    m_trim_threshold, m_mmap_threshold = -1, -3
    return bool(mallopt(m_mmap_threshold, 1 << 30) and mallopt(m_trim_threshold, 1 << 31))


Key = Tuple[str, str]  # (codec or case, operation)
Case = Tuple[Key, Callable[[Any], Any], Any]  # key, call, its argument


def median_ns(cases: List[Case], repeats: int) -> Dict[Key, float]:
    """Median wall time of each case's call, in ns; each call must have been
    made once before (the round trip checks warm them up).

    The cases take turns within every round, so that a burst of load from
    elsewhere on the machine slows all of them rather than one."""
    times: Dict[Key, List[int]] = {key: [] for key, _, _ in cases}
    gc_was_on = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            for key, call, arg in cases:
                start = time.perf_counter_ns()
                call(arg)
                times[key].append(time.perf_counter_ns() - start)
    finally:
        if gc_was_on:
            gc.enable()
    return {key: statistics.median(t) for key, t in times.items()}


@dataclass
class Row:
    workload: str
    codec: str
    op: str
    ns_per_value: Optional[float]  # None: the round trip failed, not timed
    ratio: Optional[float] = None  # this codec's time / qkxdr's


def time_codecs(workload: str, codecs: List[Codec], value: Any, count: int, repeats: int,
                failures: List[str],
                per_call: Callable[[Callable], Callable] = lambda call: call
                ) -> Tuple[List[Row], Dict[str, int]]:
    """Rows of ns per value for each codec's dumps and loads of value (count
    values), with ratios to qkxdr, and the size of each one's encoding;
    per_call wraps each call as it is timed. A codec whose
    loads(dumps(value)) differs from value goes to failures, untimed."""
    cases: List[Case] = []
    wrong = []
    sizes: Dict[str, int] = {}
    for codec in codecs:
        data = codec.dumps(value)
        sizes[codec.name] = encoded_size(data)
        if codec.loads(data) != value:
            failures.append(f"{workload}: {codec.name} round trip differs")
            wrong.append(codec.name)
            continue
        cases += [((codec.name, "dumps"), per_call(codec.dumps), value),
                  ((codec.name, "loads"), per_call(codec.loads), data)]
    times = median_ns(cases, repeats)
    rows = [Row(workload, codec.name, op,
                None if codec.name in wrong else times[(codec.name, op)] / count)
            for op in ("dumps", "loads") for codec in codecs]
    set_ratios(rows)
    return rows, sizes


def set_ratios(rows: List[Row]) -> None:
    """Each row's time over qkxdr's for the same workload and operation."""
    reference = {(r.workload, r.op): r.ns_per_value for r in rows if r.codec == QKXDR.name}
    for r in rows:
        base = reference.get((r.workload, r.op))
        if r.ns_per_value is not None and base:
            r.ratio = r.ns_per_value / base


def bench_call_overhead(repeats: int, failures: List[str]) -> List[Row]:
    """One small int per call, over a batch of calls: what a call costs."""
    batch = 20_000

    def per_call(call: Callable[[Any], Any]) -> Callable[[Any], Any]:
        return lambda value: [call(value) for _ in range(batch)]

    return time_codecs("one int", codecs_for("ints"), 7, batch, repeats, failures, per_call)[0]


# -------------------------------------------------------------------- numpy

def make_arrays(count: int) -> Dict[str, np.ndarray]:
    """int32 as the ints workload, int64 as the records' time stamps, float64
    as the doubles workload."""
    rng = np.random.default_rng(SEED)
    bucket = rng.integers(0, 10, count)
    small = rng.integers(-32, 64, count)
    medium = rng.integers(-100_000, 100_001, count)
    wide = rng.integers(-2**31, 2**31, count)
    ints = np.where(bucket < 5, small, np.where(bucket < 8, medium, wide)).astype(np.int32)
    stamps = 1_600_000_000_000 + rng.integers(0, 100_000_000_001, count, dtype=np.int64)
    doubles = (2 * rng.random(count) - 1) * 1e6
    return {"int32": ints, "int64": stamps, "float64": doubles}


def memcpy(data: bytes) -> np.ndarray:
    """A fresh copy of data's bytes."""
    return np.frombuffer(data, np.uint8).copy()


def loads_array(data: bytes) -> Any:
    return qkxdr.loads(data, arrays=True)


def bench_arrays(count: int, repeats: int, failures: List[str]) -> List[dict]:
    """qkxdr on numpy arrays against memcpy of the encoded bytes."""
    results = []
    for dtype, array in make_arrays(count).items():
        data = qkxdr.dumps(array)
        back = loads_array(data)
        if not (isinstance(back, np.ndarray) and back.dtype.kind == array.dtype.kind
                and np.array_equal(back, array)):
            failures.append(f"numpy {dtype}: round trip differs")
            continue
        memcpy(data)
        times = median_ns([((dtype, "memcpy"), memcpy, data),
                           ((dtype, "dumps"), qkxdr.dumps, array),
                           ((dtype, "loads"), loads_array, data)], repeats)
        copy_ns = times[(dtype, "memcpy")]
        for op in ("dumps", "loads"):
            ns = times[(dtype, op)]
            results.append({"dtype": dtype, "count": count, "encoded_bytes": len(data),
                            "op": op, "ns": ns, "memcpy_ns": copy_ns,
                            "ratio_to_memcpy": ns / copy_ns})
    return results


# ------------------------------------------------------------------- report

def cell(row: Row) -> str:
    if row.ns_per_value is None:
        return "wrong result"
    text = f"{row.ns_per_value:.1f}"
    return text if row.codec == QKXDR.name else f"{text} ({row.ratio:.2f})"


def speed_table(rows: List[Row]) -> List[str]:
    codecs = list(dict.fromkeys(r.codec for r in rows))
    by_key = {(r.workload, r.op): [] for r in rows}
    for r in rows:
        by_key[(r.workload, r.op)].append(cell(r))
    return (["| workload | op | " + " | ".join(codecs) + " |",
             "|---|---|" + "---:|" * len(codecs)]
            + [f"| {workload} | {op} | " + " | ".join(cells) + " |"
               for (workload, op), cells in by_key.items()])


def size_table(sizes: Dict[str, Dict[str, int]], counts: Dict[str, int]) -> List[str]:
    codecs = list(next(iter(sizes.values())))
    lines = ["| workload | values | " + " | ".join(codecs) + " |",
             "|---|---:|" + "---:|" * len(codecs)]
    for workload, by_codec in sizes.items():
        cells = [f"{by_codec[c]:,} ({by_codec[c] / counts[workload]:.1f})" for c in codecs]
        lines.append(f"| {workload} | {counts[workload]:,} | " + " | ".join(cells) + " |")
    return lines


def numpy_table(results: List[dict]) -> List[str]:
    lines = ["| array | op | encoded bytes | qkxdr µs | memcpy µs | qkxdr / memcpy |",
             "|---|---|---:|---:|---:|---:|"]
    for r in results:
        lines.append(f"| {r['count']:,} {r['dtype']} | {r['op']} | {r['encoded_bytes']:,} | "
                     f"{r['ns'] / 1e3:,.1f} | {r['memcpy_ns'] / 1e3:,.1f} | "
                     f"{r['ratio_to_memcpy']:.2f} |")
    return lines


def missed_targets(rows: List[Row], arrays: List[dict]) -> List[str]:
    """Where a peer is as fast as qkxdr or faster, or an array is too slow."""
    missed = [f"{r.workload} {r.op}: {r.codec} is faster ({r.ratio:.2f})"
              for r in rows if r.ratio is not None and r.ratio <= 1 and r.codec != QKXDR.name]
    missed += [f"numpy {r['dtype']} {r['op']}: {r['ratio_to_memcpy']:.2f}x memcpy"
               for r in arrays if r["ratio_to_memcpy"] > NUMPY_TARGET]
    return missed


def versions() -> Dict[str, str]:
    return {"python": platform.python_version(),
            "msgpack": ".".join(map(str, msgpack.version)),
            "cbor2": importlib.metadata.version("cbor2"), "ujson": ujson.__version__,
            "numpy": np.__version__, "pickle protocol": str(pickle.HIGHEST_PROTOCOL)}


def run(scale: float, repeats: int, array_count: int, default_malloc: bool) -> dict:
    """Every measurement, as the report --json writes."""
    freed_memory_kept = not default_malloc and keep_freed_memory()
    failures: List[str] = []
    rows: List[Row] = []
    sizes: Dict[str, Dict[str, int]] = {}
    counts: Dict[str, int] = {}
    for name in FULL_COUNTS:
        values = make_workload(name, scale)
        counts[name] = len(values)
        workload_rows, sizes[name] = time_codecs(name, codecs_for(name), values, len(values),
                                                 repeats, failures)
        rows += workload_rows
    overhead = bench_call_overhead(repeats, failures)
    arrays = bench_arrays(array_count, repeats, failures)
    return {"scale": scale, "repeats": repeats, "freed_memory_kept": freed_memory_kept,
            "versions": versions(), "counts": counts,
            "sizes": sizes, "results": [vars(r) for r in rows],
            "call_overhead": [vars(r) for r in overhead], "numpy": arrays,
            "missed": missed_targets(rows, arrays), "failures": failures}


def markdown(report: dict) -> str:
    def listed(title: str, items: List[str]) -> List[str]:
        return [f"{title}: {'none' if not items else ''}"] + [f"- {i}" for i in items] + [""]

    rows = [Row(**r) for r in report["results"]]
    overhead = [Row(**r) for r in report["call_overhead"]]
    lines = [f"# qkxdr against Python serializers "
             f"(scale {report['scale']:g}, median of {report['repeats']} runs)", "",
             ", ".join(f"{k} {v}" for k, v in report["versions"].items()), "",
             "Each workload is one list, encoded and decoded in one call. json: compact "
             "separators. Blobs in json and ujson: base64 strings, encoded and decoded "
             "inside the timed calls. The garbage collector is off while timing. "
             + ("malloc keeps freed memory (mallopt), so that no output is timed with "
                "page faults." if report["freed_memory_kept"] else
                "malloc as it is: large outputs may be timed with page faults."), "",
             "ns per value (per record for records); peer / qkxdr in brackets "
             "(above 1: qkxdr is faster)", ""]
    lines += speed_table(rows) + [""]
    lines += ["Encoded bytes (per value in brackets; json, ujson: UTF-8 of the str)", ""]
    lines += size_table(report["sizes"], report["counts"]) + [""]
    lines += ["Call overhead: one int (7) per call, ns per call", ""]
    lines += speed_table(overhead) + [""]
    lines += [f"numpy arrays: qkxdr.dumps(array) and qkxdr.loads(data, arrays=True) against "
              f"a copy of the encoded bytes (target: within {NUMPY_TARGET:g}x)", ""]
    lines += numpy_table(report["numpy"]) + [""]
    lines += listed("Targets missed", report["missed"])
    lines += listed("Round trip failures", report["failures"])
    return "\n".join(lines)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scale", type=float, default=None,
                        help=f"fraction of the C++ workloads' sizes (default {DEFAULT_SCALE})")
    parser.add_argument("--repeats", type=int, default=None, help="runs per case (default 7)")
    parser.add_argument("--quick", action="store_true", help="tiny sizes: a smoke run")
    parser.add_argument("--json", metavar="FILE", help="also write the results as JSON")
    parser.add_argument("--default-malloc", action="store_true",
                        help="leave malloc as it is: large outputs may pay page faults")
    args = parser.parse_args()
    report = run(scale=args.scale or (0.001 if args.quick else DEFAULT_SCALE),
                 repeats=args.repeats or (3 if args.quick else 7),
                 array_count=1000 if args.quick else NUMPY_COUNT,
                 default_malloc=args.default_malloc)
    print(markdown(report))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(report, f, indent=1)
    return 1 if report["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())
