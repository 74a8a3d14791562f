"""Dask bags of QkXDR files: one partition a file.

``read_qkxdr`` turns a folder of QkXDR files into a ``dask.bag.Bag`` and
``to_qkxdr`` writes a bag back, one file a partition.  Paths go through
fsspec, as those of dask's own readers do, so a glob or a list of paths may
name local files or files on any storage fsspec reaches (``s3://...``).
"""

from __future__ import annotations

import os
from typing import Any, Callable, Iterable, Iterator, List, Optional, Sequence, Union

import dask
import dask.bag
import fsspec
from dask.delayed import Delayed
from fsspec import AbstractFileSystem
from fsspec.core import OpenFile

import qkxdr

__all__ = ["TEXT_SUFFIXES", "is_text_name", "read_qkxdr", "to_qkxdr"]

PathPattern = Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]]

TEXT_SUFFIXES = (".txt", ".qkxt")
"""File names ending so hold the text form; all others hold the binary form."""


def is_text_name(path: str) -> bool:
    """Whether ``read_qkxdr(..., text=None)`` reads the file ``path`` as text."""
    return path.endswith(TEXT_SUFFIXES)


def _file_values(
    fs: AbstractFileSystem, path: str, text: bool, elements: bool, arrays: bool
) -> Iterator[Any]:
    """Yield the values of one file, decoded as its bytes are read."""
    with fs.open(path, "rb") as fp:
        yield from qkxdr.iter_load(fp, text=text, elements=elements, arrays=arrays)


def read_qkxdr(
    pattern: PathPattern,
    *,
    text: Optional[bool] = None,
    elements: bool = False,
    arrays: bool = False,
) -> dask.bag.Bag:
    """A bag of the top-level values of QkXDR files, one partition a file.

    ``pattern`` is a glob (its matches in sorted order) or a list of paths
    (in the given order).  ``text=None`` reads files whose names end in
    ``.txt`` or ``.qkxt`` as the text form and all others as binary;
    ``True`` or ``False`` names the form of every file.  ``elements=True``
    yields the elements of top-level arrays instead of the arrays, and
    ``arrays=True`` gives numpy arrays, as for ``qkxdr.iter_load``.

    Raises ``FileNotFoundError`` if the pattern matches no file; a file that
    does not decode raises ``qkxdr.DecodeError`` when the bag is computed.
    """
    fs, _, paths = fsspec.get_fs_token_paths(pattern, mode="rb")
    if not paths:
        raise FileNotFoundError(f"no QkXDR files match {pattern!r}")
    read = dask.delayed(_file_values, pure=True)
    return dask.bag.from_delayed(
        [
            read(fs, path, is_text_name(path) if text is None else text, elements, arrays)
            for path in paths
        ]
    )


def _write_file(
    values: Iterable[Any], file: OpenFile, text: bool, default: Optional[Callable[[Any], Any]]
) -> str:
    """Write ``values`` to ``file`` as a stream, one value after another."""
    with file as fp:
        for value in values:
            qkxdr.dump(value, fp, text=text, default=default)
    return file.path


def to_qkxdr(
    bag: dask.bag.Bag,
    pattern: PathPattern,
    *,
    text: Optional[bool] = None,
    default: Optional[Callable[[Any], Any]] = None,
    compute: bool = True,
) -> Union[List[str], List[Delayed]]:
    """Write each partition of ``bag`` to a file as a stream of its elements.

    ``pattern`` holds one ``*``, replaced by the partition number padded with
    zeros so that the names sort in partition order (``out/*.qkx`` gives
    ``out/0.qkx`` ... ``out/9.qkx``, or ``out/00.qkx`` ... for more than ten
    partitions), or is a list of one path a partition (else ``ValueError``);
    missing folders are made.  ``text=None`` writes the text form into files
    whose names end in ``.txt`` or ``.qkxt`` and the binary encoding into
    all others, as ``read_qkxdr`` reads them; ``text`` and ``default`` are
    otherwise those of ``qkxdr.dump``.  Returns the paths written, or with ``compute=False`` one
    ``dask.delayed`` value a file that writes it when computed.
    """
    if not isinstance(pattern, (str, os.PathLike)) and len(pattern) != bag.npartitions:
        raise ValueError(f"{len(pattern)} paths for {bag.npartitions} partitions")
    files = fsspec.open_files(pattern, mode="wb", num=bag.npartitions)
    write = dask.delayed(_write_file, pure=False)
    writes = [
        write(partition, file, is_text_name(file.path) if text is None else text, default)
        for partition, file in zip(bag.to_delayed(), files)
    ]
    return list(dask.compute(*writes)) if compute else writes
