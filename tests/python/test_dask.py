"""qkxdr.dask: bags read from and written to QkXDR files, in one process and on a cluster."""

from __future__ import annotations

import json
import os
import random
import subprocess
import sys
from pathlib import Path
from typing import Any, Callable, List

import dask
import dask.bag
import numpy as np
import pytest

import qkxdr
from qkxdr.dask import read_qkxdr, to_qkxdr

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "python" / "dask_cluster.py"


@pytest.fixture(autouse=True)
def one_process():
    """Bags compute in the test's own process unless a test starts a cluster."""
    with dask.config.set(scheduler="sync"):
        yield


def random_value(rng: random.Random, depth: int = 0) -> Any:
    """A value of any storable type; strings hold line breaks and unpaired surrogates."""
    kind = rng.randrange(5 if depth < 2 else 4)
    if kind == 0:
        return rng.choice([0, -1, 2**63 - 1, -(2**63), rng.randrange(-(2**63), 2**63)])
    if kind == 1:
        return rng.choice([0.0, -0.0, float("inf"), float("-inf"), rng.uniform(-1e300, 1e300)])
    if kind == 2:
        pieces = ["a", "\n", "\r", "\t", "é", "\u2028", "\udfff", "\ud800.", "\U0001f600"]
        return "".join(rng.choice(pieces) for _ in range(rng.randrange(8)))
    if kind == 3:
        return bytes(rng.randrange(256) for _ in range(rng.randrange(8)))
    return [random_value(rng, depth + 1) for _ in range(rng.randrange(4))]


def partition_lists(bag: dask.bag.Bag) -> List[list]:
    """The elements of each partition of ``bag``."""
    return [list(partition) for partition in dask.compute(*bag.to_delayed())]


# How the files of a bag are named and their form told: by the suffix or by text=.
@pytest.mark.parametrize(
    "suffix, text, read_text",
    [
        (".qkx", False, None),
        (".qkxt", True, None),
        (".txt", True, None),
        (".bin", False, False),
        (".data", True, True),
        (".qkx", False, False),
    ],
)
def test_bag_round_trip(tmp_path: Path, suffix: str, text: bool, read_text: Any) -> None:
    rng = random.Random(suffix + str(text))
    parts = [[random_value(rng) for _ in range((0, 1, 7)[i % 3])] for i in range(12)]
    bag = dask.bag.from_delayed([dask.delayed(part) for part in parts])
    pattern = str(tmp_path / "new folder" / f"part-*{suffix}")

    paths = to_qkxdr(bag, pattern, text=text)

    assert [Path(path).name for path in paths] == [f"part-{i:02}{suffix}" for i in range(12)]
    back = partition_lists(read_qkxdr(pattern, text=read_text))
    assert [qkxdr.dumps(part) for part in back] == [qkxdr.dumps(part) for part in parts]


def write_file(path: Path, values: List[Any], text: bool) -> None:
    """A stream of ``values`` in one file, written with plain ``qkxdr.dump``."""
    with path.open("wb") as fp:
        for value in values:
            qkxdr.dump(value, fp, text=text)


def tagged(value: Any) -> Any:
    """``value`` with numpy arrays told apart from lists, for comparisons."""
    if isinstance(value, np.ndarray):
        return ("ndarray", value.dtype.str, value.tolist())
    if isinstance(value, list):
        return [tagged(item) for item in value]
    return value


def ndarray(values: list, dtype: str) -> tuple:
    return ("ndarray", np.dtype(dtype).str, values)


INTS, DOUBLES, PAIR = ndarray([1, 2, 3], "i8"), ndarray([4.5, -0.5], "f8"), ndarray([6, 7], "i8")


# A binary and a text file in one folder, read whole, by elements, with numpy arrays.
@pytest.mark.parametrize(
    "elements, arrays, expected",
    [
        (False, False, [[1, 2, 3], [[4.5, -0.5], [6, 7]], ["x", b"y"], [[], 8]]),
        (True, False, [1, 2, 3, [4.5, -0.5], [6, 7], "x", b"y", [], 8]),
        (False, True, [INTS, [DOUBLES, PAIR], ["x", b"y"], [[], 8]]),
        (True, True, [1, 2, 3, DOUBLES, PAIR, "x", b"y", [], 8]),
    ],
)
def test_read_elements_and_arrays(
    tmp_path: Path, elements: bool, arrays: bool, expected: list
) -> None:
    write_file(tmp_path / "a.qkx", [[1, 2, 3], [[4.5, -0.5], [6, 7]]], text=False)
    write_file(tmp_path / "b.qkxt", [["x", b"y"], [[], 8]], text=True)

    bag = read_qkxdr(str(tmp_path / "*"), elements=elements, arrays=arrays)

    assert bag.npartitions == 2
    assert tagged(bag.compute()) == expected


def bag_of(*values: Any) -> dask.bag.Bag:
    return dask.bag.from_sequence(values, npartitions=len(values))


def read_back(pattern: Path, write_text: bool, **read: Any) -> list:
    """Values written as text or not, and read back as ``read`` says."""
    paths = to_qkxdr(bag_of([1, "\u00e9\u00e9"], 2.5), str(pattern), text=write_text)
    return read_qkxdr(paths, **read).compute()


# What is refused, and when: at once for paths, when computed for values and file contents.
@pytest.mark.parametrize(
    "action, error",
    [
        (lambda folder: read_qkxdr(str(folder / "none-*.qkx")), FileNotFoundError),
        (lambda folder: to_qkxdr(bag_of(1, 2), [str(folder / "only.qkx")]), ValueError),
        (lambda folder: to_qkxdr(bag_of(1, {"a": 1}), str(folder / "*.qkx")), TypeError),
        (lambda folder: to_qkxdr(bag_of(2**64), str(folder / "*.qkx")), qkxdr.EncodeError),
        (lambda folder: read_back(folder / "*.qkx", False, text=True), qkxdr.DecodeError),
        (lambda folder: read_back(folder / "*.qkxt", False, text=None), qkxdr.DecodeError),
        (lambda folder: read_back(folder / "*.qkx", True, text=None), qkxdr.DecodeError),
    ],
)
def test_refusals(tmp_path: Path, action: Callable[[Path], Any], error: type) -> None:
    with pytest.raises(error):
        action(tmp_path)


def test_default_converts_values_written(tmp_path: Path) -> None:
    paths = to_qkxdr(bag_of({"a": 1}, {2}), str(tmp_path / "*.qkx"), default=sorted, compute=False)

    assert read_qkxdr(list(dask.compute(*paths))).compute() == [["a"], [2]]


def test_cluster_of_worker_processes_agrees_with_one_process(tmp_path: Path) -> None:
    """The example computes per-name totals with 2 worker processes and in one process."""
    package_folder = os.path.dirname(os.path.dirname(os.path.abspath(qkxdr.__file__)))
    search_path = [package_folder] + os.environ.get("PYTHONPATH", "").split(os.pathsep)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, search_path)))

    run = subprocess.run(
        [sys.executable, str(EXAMPLE), str(tmp_path), "--workers", "2"],
        env=env, capture_output=True, text=True, timeout=300,
    )

    assert run.returncode == 0, run.stdout + run.stderr
    results = dict(line.split(": ", 1) for line in run.stdout.splitlines())
    assert results["cluster of 2 worker processes"] == results["one process"]
    assert sorted(path.suffix for path in tmp_path.iterdir()) == [".qkx"] * 3 + [".qkxt"] * 3
    totals = json.loads(results["one process"]).values()
    records = read_qkxdr(str(tmp_path / "*"))
    assert sum(count for count, _ in totals) == records.count().compute()
    assert sum(value_sum for _, value_sum in totals) == records.pluck(2).sum().compute()
