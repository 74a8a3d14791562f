"""The Python module against the format and the C++ library: round trips of
random values in both encodings, byte for byte with the qkxdr tool's, the
refusals with their places, and streams split at every byte."""

import io
import math
import os
import random
import struct
import subprocess

import numpy as np
import pytest

import qkxdr

TOOL = os.environ.get("QKXDR_TOOL", "")

# Characters that stress the string mapping: ASCII, Latin-1, the BMP beyond
# it, pairs, unpaired surrogates, and what the text form escapes.
ALPHABET = ["a", "Z", "0", "x", " ", "é", "ÿ", "€", "\uffff", "😀", "\U0010ffff",
            "\ud800", "\udbff", "\udc00", "\udfff", '"', "'", "\\", "\n", "\r", ",", "[", "]"]


def random_str(rng: random.Random) -> str:
    chars = []
    for _ in range(rng.choice([0, 1, 2, 5, 40])):
        c = rng.choice(ALPHABET)
        if chars and "\ud800" <= chars[-1] <= "\udbff" and "\udc00" <= c <= "\udfff":
            continue  # a split pair, refused (test_refusals)
        chars.append(c)
    s = "".join(chars)
    return "s" + s if s[:2].lower() == "0x" else s


def random_value(rng: random.Random, depth: int = 0):
    kind = rng.randrange(7 if depth < 4 else 5)
    if kind == 0:
        return rng.choice([0, 1, -1, 63, -64, 2**31 - 1, -2**31, 2**63 - 1, -2**63,
                           rng.randrange(-2**63, 2**63)])
    if kind == 1:
        return rng.choice([0.0, -0.0, 0.1, 1e300, 5e-324, -1.7976931348623157e308,
                           math.inf, -math.inf, rng.uniform(-1e9, 1e9)])
    if kind == 2:
        return random_str(rng)
    if kind == 3:
        return bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 3, 70])))
    if kind == 4:
        return [rng.randrange(-2**40, 2**40) for _ in range(rng.choice([0, 20, 100]))]
    return [random_value(rng, depth + 1) for _ in range(rng.randrange(6))]


def tool(*args: str, data: bytes) -> bytes:
    run = subprocess.run([TOOL, *args], input=data, capture_output=True, check=False)
    assert run.returncode == 0, run.stderr.decode()
    return run.stdout


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le", "surrogatepass")


@pytest.mark.parametrize("seed", range(8))
def test_random_values_round_trip_in_both_encodings_as_the_library_writes_them(seed):
    rng = random.Random(seed)
    values = [random_value(rng) for _ in range(40)]
    for v in values:
        data, text = qkxdr.dumps(v), qkxdr.dumps(v, text=True)
        assert qkxdr.loads(data) == v
        assert qkxdr.loads(text) == v
    # The C++ tool: the text form encoded, and a stream of the values
    # decoded, by the library.
    text = qkxdr.dumps(values, text=True)
    assert tool("encode", "--utf16", data=utf16(text)) == qkxdr.dumps(values)
    stream = b"".join(qkxdr.dumps(v) for v in values)
    decoded = tool("decode", "--utf16", data=stream).decode("utf-16-le", "surrogatepass")
    assert list(qkxdr.iter_load([decoded])) == values


# Byte-exact encodings, worked out by hand from the format.
@pytest.mark.parametrize("value, hex_bytes", [
    ("", "a880"),
    ("\u20ac", "a8812cc1"),
    ("\uffff", "a8817f7f83"),
    ("\xe9t\xe9", "a8836981f46981"),
    ([], "002a"),
    ([1, 2], "00558284 2a".replace(" ", "")),
    ([-1, 1.0], "0054817e000000000000f03f2a"),
    (b"\x01\x02", "d2820102"),
])
def test_byte_exact_encodings(value, hex_bytes):
    assert qkxdr.dumps(value).hex() == hex_bytes
    assert qkxdr.loads(bytes.fromhex(hex_bytes)) == value


def double_bits(x: float) -> bytes:
    return struct.pack("<d", x)


@pytest.mark.parametrize("value, text, expected", [
    (2**63 - 1, False, 2**63 - 1),
    (-2**63, True, -2**63),
    ((1, (2,)), False, [1, [2]]),
    (bytearray(b"ab"), False, b"ab"),
    (memoryview(b"abc")[1:], True, b"bc"),
    (np.int32(-7), False, -7),
    (np.float64(0.5), True, 0.5),
    ("\ud800\U0010ffff\udfff", False, "\ud800\U0010ffff\udfff"),
    ("\ud800\U0010ffff\udfff", True, "\ud800\U0010ffff\udfff"),
    (type("Sub", (int,), {})(5), False, 5),
])
def test_mapping_of_python_types(value, text, expected):
    back = qkxdr.loads(qkxdr.dumps(value, text=text))
    assert back == expected and type(back) is type(expected)


@pytest.mark.parametrize("bits", [
    "8000000000000000",  # -0.0
    "7ff8000000000001",  # a quiet NaN with a payload
    "fff4000000000007",  # a signalling NaN, sign set
    "0000000000000001",  # the smallest subnormal
])
def test_binary_keeps_every_bit_of_a_double(bits):
    x = struct.unpack(">d", bytes.fromhex(bits))[0]
    assert double_bits(qkxdr.loads(qkxdr.dumps(x))) == double_bits(x)
    if not math.isnan(x):  # the text form keeps every double but NaN payloads
        assert double_bits(qkxdr.loads(qkxdr.dumps(x, text=True))) == double_bits(x)


@pytest.mark.parametrize("value, text, error, path, words", [
    (2**63, False, qkxdr.EncodeError, "", "beyond 64 bits"),
    ([0, [-2**63 - 1]], False, qkxdr.EncodeError, "[1][0]", "beyond 64 bits"),
    (["a\0"], False, qkxdr.EncodeError, "[0]", "U+0000"),
    (["\0é"], True, qkxdr.EncodeError, "[0]", "U+0000"),
    ("\ud800\udc00", False, qkxdr.EncodeError, "", "lone high surrogate"),
    ([b"", "0x12"], True, qkxdr.EncodeError, "[1]", 'starting "0x"'),
    (["0Xé"], True, qkxdr.EncodeError, "[0]", 'starting "0x"'),
    ([True], False, TypeError, "[0]", "'bool'"),
    ([[None]], False, TypeError, "[0][0]", "'NoneType'"),
    ({1: 2}, True, TypeError, "", "'dict'"),
    (np.zeros(2, dtype=np.float32), False, TypeError, "", "'numpy.ndarray'"),
])
def test_refusals_name_the_place(value, text, error, path, words):
    with pytest.raises(error) as raised:
        qkxdr.dumps(value, text=text)
    assert words in str(raised.value)
    assert str(raised.value).startswith(f"at {path}: " if path else words[:3]) or not path
    if error is qkxdr.EncodeError:
        assert raised.value.path == path


def test_arrays_opened_by_runs_of_brackets_stop_at_the_memory_budget():
    # Each byte 0x29 opens 42 arrays, and 0x53 closes them: 2 bytes make 42
    # lists, far more than the 64 bytes a unit that valid data comes to.
    bomb = b"\x00" + b"\x29\x53" * 20000 + b"\x2a"
    with pytest.raises(qkxdr.DecodeError, match="memory budget of 19337344 bytes") as raised:
        qkxdr.loads(bomb)
    assert raised.value.code == "too_large"


def test_nesting_deeper_than_the_readers_follow_is_refused():
    deep = []
    for _ in range(511):
        deep = [deep]
    assert qkxdr.loads(qkxdr.dumps(deep)) == deep
    with pytest.raises(qkxdr.EncodeError, match="deeper than 512"):
        qkxdr.dumps([deep])
    cycle = []
    cycle.append(cycle)
    with pytest.raises(qkxdr.EncodeError, match="deeper than 512"):
        qkxdr.dumps(cycle)


def test_default_converts_objects_at_any_depth():
    def default(o):
        if isinstance(o, dict):
            return [[k, v] for k, v in o.items()]
        if isinstance(o, (set, bool)):
            return sorted(o) if isinstance(o, set) else int(o)
        return o  # returned unchanged: refused
    value = [{"a": {1, 2}, "b": True}]
    assert qkxdr.loads(qkxdr.dumps(value, default=default)) == [[["a", [1, 2]], ["b", 1]]]
    with pytest.raises(TypeError, match=r"at \[0\]: an object of type 'complex'"):
        qkxdr.dumps([1j], default=default)


@pytest.mark.parametrize("data, offset, path, code", [
    (b"", 0, "", "truncated"),
    (bytes.fromhex("fc"), 1, "", "malformed"),
    (bytes.fromhex("005582842a")[:-1], 4, "[2]", "truncated"),
    (bytes.fromhex("00558284") + b"\xa8\x81\x80" + b"\x2a", 5, "[2]", "unsupported"),
    (bytes.fromhex("0055828255"), 5, "[2]", "truncated"),
    (qkxdr.dumps(1) + qkxdr.dumps(2), 3, "", "malformed"),
    (bytes.fromhex("d2ff"), 1, "", "truncated"),
    (bytes([0x29]) * 13 + bytes([0x2a]), 13, "[0]" * 512, "too_deep"),
    ("[1, [2, x]]", 8, "[1][1]", "malformed"),
    ("[1, 2", 5, "[2]", "truncated"),
    ("1 2", 2, "", "malformed"),
])
def test_decode_errors_give_offset_path_and_code(data, offset, path, code):
    with pytest.raises(qkxdr.DecodeError) as raised:
        qkxdr.loads(data)
    e = raised.value
    assert (e.offset, e.path, e.code) == (offset, path, code)
    assert isinstance(e, ValueError) and str(e) == e.msg


@pytest.mark.parametrize("text", [False, True])
@pytest.mark.parametrize("elements", [False, True])
def test_streams_split_at_every_place_give_the_whole_streams_values(text, elements):
    rng = random.Random(7)
    values = [[random_value(rng) for _ in range(3)] for _ in range(4)]
    stream = (b"" if not text else "").join(
        qkxdr.dumps(v, text=text) + ("\n" if text else b"") for v in values)
    expected = [x for v in values for x in v] if elements else values
    for cut in range(len(stream) + 1):
        chunks = [stream[:cut], stream[cut:]]
        assert list(qkxdr.iter_load(chunks, elements=elements)) == expected
    units = [stream[i:i + 1] for i in range(len(stream))]
    assert list(qkxdr.iter_load(units, elements=elements)) == expected


@pytest.mark.parametrize("stream, good, offset, code", [
    (qkxdr.dumps([1, 2]) + qkxdr.dumps([3])[:-1], [[1, 2]], 8, "truncated"),
    (qkxdr.dumps("a") + b"\xfe", ["a"], 4, "malformed"),
    ("[1]\n[2, ]]", [[1], [2]], 9, "malformed"),
])
def test_streams_yield_the_values_before_a_fault_then_raise(stream, good, offset, code):
    got = []
    with pytest.raises(qkxdr.DecodeError) as raised:
        for v in qkxdr.iter_load([stream]):
            got.append(v)
    assert got == good
    assert (raised.value.offset, raised.value.code) == (offset, code)


@pytest.mark.parametrize("text", [False, True])
def test_files_hold_a_stream_of_dumped_values(tmp_path, text):
    values = [[1, "é\ud800"], b"\x00", -0.5]
    path = tmp_path / "values"
    with open(path, "wb") as fp:
        for v in values:
            qkxdr.dump(v, fp, text=text)
    with open(path, "rb") as fp:
        assert list(qkxdr.iter_load(fp, text=text)) == values
    with open(path, "wb") as fp:
        qkxdr.dump(values, fp, text=text)
    with open(path, "rb") as fp:
        assert qkxdr.load(fp, text=text) == values
    with open(path, "w", encoding="utf-16", errors="surrogatepass") as fp:
        qkxdr.dump(values, fp)
    with open(path, "r", encoding="utf-16", errors="surrogatepass") as fp:
        assert qkxdr.load(fp) == values


def test_text_that_is_not_utf8_is_a_decode_error():
    with pytest.raises(qkxdr.DecodeError) as raised:
        list(qkxdr.iter_load(io.BytesIO(b"[1, 2]\n[\"\xff\"]"), text=True))
    assert (raised.value.offset, raised.value.code) == (9, "malformed")
    with pytest.raises(qkxdr.DecodeError):
        qkxdr.load(io.BytesIO(b"\"\xc0\x80\""), text=True)


@pytest.mark.parametrize("dtype, shape", [
    (np.int32, (1000,)), (np.int64, (3, 50)), (np.float64, (70,)), (np.int64, (0,)),
    (np.float64, (2, 0)), (np.int32, ()),
])
def test_numpy_arrays_are_runs_of_numbers(dtype, shape):
    rng = np.random.default_rng(3)
    a = (rng.standard_normal(shape) * 1e6).astype(dtype)
    data = qkxdr.dumps(a)
    assert data == qkxdr.dumps(a.tolist())
    assert qkxdr.dumps(np.asfortranarray(a) if a.ndim else a) == data
    back = qkxdr.loads(data, arrays=True)
    if a.ndim == 0 or a.size == 0:
        return  # a number, or arrays with no numbers: lists
    kind = np.float64 if dtype == np.float64 else np.int64
    rows = back if a.ndim > 1 else [back]
    assert all(isinstance(r, np.ndarray) and r.dtype == kind for r in rows)
    np.testing.assert_array_equal(np.array(rows).reshape(shape), a)


def test_arrays_mixed_or_nested_stay_lists():
    value = [[1, 2.5], [1, [2]], [0.5, 1.5], [3, 4], "x"]
    back = qkxdr.loads(qkxdr.dumps(value), arrays=True)
    assert back[0] == [1, 2.5] and back[1][0] == 1 and back[4] == "x"
    assert [type(v) for v in (back[1][1], back[2], back[3])] == [np.ndarray] * 3


@pytest.mark.parametrize("json_text, value, kwargs", [
    ('[1,2.5,"x"]\n', [1, 2.5, "x"], {}),
    ('{"$blob":"AAE="}\n', b"\x00\x01", {}),
    ('{"$double":"NaN:7FF0000000000001"}\n', None, {}),
    ('[[1,2.5],"\\uD800"]\n', [[1, 2.5], "\ud800"], {"array": True}),
])
def test_json_conversion_both_ways(json_text, value, kwargs):
    data = qkxdr.from_json(json_text, **kwargs)
    assert qkxdr.to_json(data, **kwargs) == json_text
    if value is not None:  # the text form keeps no NaN payload
        text = qkxdr.from_json(json_text, text=True, **kwargs)
        assert qkxdr.to_json(text, **kwargs) == json_text
        assert list(qkxdr.iter_load([data])) == (value if kwargs else [value])


@pytest.mark.parametrize("json_text, kwargs, offset, words", [
    ('{"a": 1}', {}, 0, "an object"),
    ("[1, 2", {}, 5, ""),
    ("[1e999]", {}, 1, ""),
])
def test_json_refusals(json_text, kwargs, offset, words):
    with pytest.raises(qkxdr.DecodeError) as raised:
        qkxdr.from_json(json_text, **kwargs)
    assert raised.value.offset == offset and words in str(raised.value)
    assert qkxdr.loads(qkxdr.from_json('{"a": true}', convert=True)) == [["a", 1]]
