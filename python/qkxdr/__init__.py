"""QkXDR values in Python: the binary encoding and the UTF-16 text form.

    >>> import qkxdr
    >>> data = qkxdr.dumps([1, 2.5, "three", b"\\x04"])
    >>> qkxdr.loads(data)
    [1, 2.5, 'three', b'\\x04']

docs/python.md has the mapping of types, the errors and the streaming API.
"""

from __future__ import annotations

import codecs
import io
from typing import IO, Any, Callable, Iterable, Iterator, Optional, Union

__all__ = [
    "DecodeError",
    "EncodeError",
    "dump",
    "dumps",
    "from_json",
    "iter_load",
    "load",
    "loads",
    "to_json",
]


class DecodeError(ValueError):
    """Data that does not hold the values asked for.

    offset: where the failing value starts (bytes into binary data, UTF-16
    units into text, bytes into JSON), or None where none is known; path:
    where it sits in the value read ("[3][0]"; empty at the top); code: the
    kind of failure ("malformed", "truncated", "too_large", ...).
    """

    def __init__(self, msg: str, offset: Optional[int] = None, path: str = "",
                 code: str = "malformed") -> None:
        super().__init__(msg)
        self.msg = msg
        self.offset = offset
        self.path = path
        self.code = code

    def __reduce__(self):  # picklable, as dask's workers send errors back
        return (type(self), (self.msg, self.offset, self.path, self.code))


class EncodeError(ValueError):
    """A value of a mapped type that has no form in QkXDR (an int beyond 64
    bits, a str holding U+0000...); path is where it sits ("[2]")."""

    def __init__(self, msg: str, path: str = "") -> None:
        super().__init__(msg)
        self.msg = msg
        self.path = path

    def __reduce__(self):
        return (type(self), (self.msg, self.path))


from . import _qkxdr  # noqa: E402  (raises the classes above by name)

dumps = _qkxdr.dumps
loads = _qkxdr.loads
to_json = _qkxdr.to_json
from_json = _qkxdr.from_json

# Text files hold the text form as UTF-8; unpaired surrogates, which UTF-8
# has no form for, as their three-byte forms.
_TEXT_ERRORS = "surrogatepass"
_CHUNK = 1 << 16


def dump(obj: Any, fp: IO, *, text: bool = False,
         default: Optional[Callable[[Any], Any]] = None) -> None:
    """Writes obj to the file fp as one more value of the stream there.

    Binary files take the binary encoding, or with text=True the text form
    as UTF-8 followed by a line break; text files take the text form.
    """
    if isinstance(fp, io.TextIOBase):
        fp.write(dumps(obj, text=True, default=default) + "\n")
    elif text:
        fp.write((dumps(obj, text=True, default=default) + "\n").encode("utf-8", _TEXT_ERRORS))
    else:
        fp.write(dumps(obj, default=default))


def load(fp: IO, *, text: Optional[bool] = None, arrays: bool = False) -> Any:
    """Reads the one value that the rest of fp holds.

    A text file holds the text form; a binary file the binary encoding, or
    with text=True the text form in UTF-8.
    """
    data = fp.read()
    if isinstance(data, bytes) and text:
        data = _utf8_decoder(0)(data, True)
    return loads(data, arrays=arrays)


def iter_load(source: Union[IO, Iterable[Union[bytes, str]]], *, text: Optional[bool] = None,
              elements: bool = False, arrays: bool = False,
              max_value: int = _qkxdr.MAX_VALUE) -> Iterator[Any]:
    """Yields the top-level values of a stream as its bytes arrive.

    source is a file object or an iterable of chunks: bytes of the binary
    encoding, str of the text form, or with text=True bytes of the text form
    in UTF-8. With elements=True the elements of the top-level arrays are
    yielded instead. Memory stays bounded by the longest value, which may
    take max_value bytes (UTF-16 units for text); a longer one, and any
    malformed data, raise DecodeError once the values before it are yielded.
    """
    chunks = _chunks_of(source)
    first = next(chunks, b"" if not text else "")
    textual = text if text is not None else isinstance(first, str)
    stream = (_qkxdr.TextStream if textual else _qkxdr.BinaryStream)(elements, arrays, max_value)
    decode = _utf8_decoder(0) if textual and isinstance(first, (bytes, bytearray, memoryview)) else None
    for chunk in _prepend(first, chunks):
        stream.feed(decode(chunk) if decode else chunk)
        yield from stream.take()
    if decode:
        stream.feed(decode(b"", True))
    stream.finish()
    while True:
        values = stream.take()
        if not values:
            break
        yield from values


def _chunks_of(source: Union[IO, Iterable[Union[bytes, str]]]) -> Iterator[Union[bytes, str]]:
    read = getattr(source, "read", None)
    if read is None:
        return iter(source)
    return iter(lambda: read(_CHUNK), source.read(0))


def _prepend(first, rest: Iterator) -> Iterator:
    yield first
    yield from rest


def _utf8_decoder(offset: int) -> Callable[[bytes, bool], str]:
    """A decoder of UTF-8 chunks, the first at byte `offset`, that raises
    DecodeError at the first byte that is not UTF-8."""
    decoder = codecs.getincrementaldecoder("utf-8")(_TEXT_ERRORS)

    def decode(chunk: bytes, final: bool = False) -> str:
        nonlocal offset
        try:
            text = decoder.decode(chunk, final)
        except UnicodeDecodeError as e:
            at = offset + e.start - len(decoder.getstate()[0])
            raise DecodeError(f"at offset {at}: text that is not UTF-8", at, "",
                              "malformed") from None
        offset += len(chunk)
        return text

    return decode
