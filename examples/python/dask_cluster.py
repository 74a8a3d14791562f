#!/usr/bin/env python3
"""Per-name totals over a folder of QkXDR files: by a Dask cluster and by one process.

Writes six files of records [id, name, value] into FOLDER (a temporary folder
if none is given), three in the binary form (.qkx) and three in the text form
(.qkxt), and reads them back with qkxdr.dask.read_qkxdr, one partition a file.
A local cluster of worker processes and the single-process scheduler each
compute the count and the sum of the values of every name; both are printed,
and the exit status is 1 if they differ.

    PYTHONPATH=build/python/python /usr/bin/python3 examples/python/dask_cluster.py [FOLDER]
"""

from __future__ import annotations

import argparse
import json
import logging
import random
import sys
import tempfile
from operator import itemgetter
from pathlib import Path
from typing import Dict, List, Optional, Tuple

import dask
from dask.distributed import Client, LocalCluster

import qkxdr
from qkxdr.dask import read_qkxdr

NAMES = ("ada", "bo", "cyd", "dov", "zoë")
FILES = 6
RECORDS_PER_FILE = 5000

Total = Tuple[int, int]  # count, sum of values


def write_records(folder: Path) -> None:
    """Write the record files, alternating binary and text, as any program could."""
    rng = random.Random(27)
    for index in range(FILES):
        text = index % 2 == 1
        path = folder / f"records-{index}.{'qkxt' if text else 'qkx'}"
        with path.open("wb") as fp:
            for number in range(RECORDS_PER_FILE):
                record_id = index * RECORDS_PER_FILE + number
                value = rng.randrange(-(10**9), 10**9)
                qkxdr.dump([record_id, rng.choice(NAMES), value], fp, text=text)


def add_record(total: Total, record: List) -> Total:
    """The total with one more record."""
    return total[0] + 1, total[1] + record[2]


def add_totals(left: Total, right: Total) -> Total:
    """Two partial totals of one name together."""
    return left[0] + right[0], left[1] + right[1]


def totals_by_name(folder: Path) -> Dict[str, Total]:
    """Count and sum of the values of each name, on the current Dask scheduler."""
    records = read_qkxdr(str(folder / "records-*"))
    totals = records.foldby(itemgetter(1), add_record, (0, 0), add_totals, (0, 0))
    return dict(sorted(totals.compute()))


def totals_on_cluster(folder: Path, workers: int) -> Dict[str, Total]:
    """``totals_by_name`` on a local cluster of ``workers`` processes."""
    with LocalCluster(
        n_workers=workers,
        processes=True,
        threads_per_worker=1,
        dashboard_address=None,
        silence_logs=logging.ERROR,
    ) as cluster, Client(cluster):
        return totals_by_name(folder)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", type=Path, help="where to write the files")
    parser.add_argument("--workers", type=int, default=3, help="worker processes (3)")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as temporary:
        folder = args.folder or Path(temporary)
        folder.mkdir(parents=True, exist_ok=True)
        write_records(folder)
        on_cluster = totals_on_cluster(folder, args.workers)
        with dask.config.set(scheduler="sync"):
            in_one_process = totals_by_name(folder)
    print(f"cluster of {args.workers} worker processes: {json.dumps(on_cluster)}")
    print(f"one process: {json.dumps(in_one_process)}")
    if on_cluster != in_one_process:
        print("the totals differ", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
