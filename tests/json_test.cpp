// The JSON converter both ways: accepted and refused texts, streams JSON
// cannot hold, the worked examples of docs/format.md.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "QkXDR.hpp"
#include "qkxdr/json.hpp"
#include "qkxdr/stream.hpp"
#include "qkxdr/typed.hpp"
#include "test_util.h"
#include "utf8.h"

namespace {

using qkxdr::ErrorCode;
using qkxdr::json::Layout;
using qkxdr::json::Options;
using qkxdr::json::Others;
using namespace std::string_view_literals;

const Options kArray{Layout::array};
const Options kConvert{Layout::lines, Others::convert};

// The binary encoding of the JSON text, or the Error of why there is none.
qkxdr::Result<std::vector<uint8_t>> ToBinary(const std::string& json, Options options = {}) {
  qkxdr::BinaryWriter out;
  const qkxdr::Result<void> written = qkxdr::json::from_json(json, out, options);
  if (!written) return written.error();
  return out.bytes();
}

// The JSON of a binary stream, or the message of why there is none.
std::string ToJson(const std::vector<uint8_t>& bytes, Options options = {}) {
  qkxdr::BinaryReader in(bytes);
  const qkxdr::Result<std::string> json = qkxdr::json::to_json(in, options);
  return json ? *json : json.error().message();
}

// Texts, their bytes where given, and the JSON written back (if none, the text).
TEST(Json, AcceptedTextsAndTheirBytes) {
  const struct {
    const char* json;
    const char* hex;
    const char* back = nullptr;
    Options options = {};
  } kCases[] = {
      {"{\"$double\":\"Infinity\"}\n{\"$double\":\"NaN:FFF0000000000001\"}\n",
       "7F 00 00 00 00 00 00 F0 7F 01 00 00 00 00 00 F0 FF"},
      {"\"\\uD800\\n\\u001F\\\"\"\n", "A8 84 00 30 83 8A 9F A2"},
      {"[1]\n2\n", "00 54 82 2A 54 84"},
      {"\xEF\xBB\xBF"
       "7\n",
       "54 8E", "7\n"},  // a byte-order mark first is skipped
      {"\n\n 7 \r\n\t\"x\"  \n\n", "54 8E A8 81 F8", "7\n\"x\"\n"},
      // Doubles: 1e22, then the Int 0, then 0, 0.0015, -0, 5e-324, 0, 0.
      {" [1E22, -0, 0e+1, 1.5E-3, -1e-400, 5e-324, 0.0001e-400, 1e-99999999999999999999 ] ",
       "00 7E 92 D5 4D 06 CF F0 80 44 54 80 83 00*8 FA 7E 6A BC 74 93 58 3F 00*7 80 01 00*7 "
       "00*16 2A",
       "[1e+22,0,0.0,0.0015,-0.0,5e-324,0.0,0.0]\n"},
      {"[0e400, -0e400, 0.0e99999, -0.000E+999999999999, \"0e400\"]",
       "00 81 00*8 00*7 80 00*8 00*7 80 A8 85 B0 E5 B4 B0 B0 2A",
       "[0.0,-0.0,0.0,-0.0,\"0e400\"]\n"},
      {"[0e019999, -0E+00001]", "00 7F 00*8 00*7 80 2A", "[0.0,-0.0]\n"},
      {"[9223372036854775807,-9223372036854775808,4294967296]\n",
       "00 56 7E 7F*8 81 7F*9 81 00 00 00 00 A0 2A"},
      // é, \b, \f, \r, \t, U+000E, U+0080; a pair of surrogates; unpaired ones.
      {"[\"\\u00e9\\b\\f\\r\\t\\u000e\xC2\x80\", \"\\ud834\\udd1e\",\"\\uDC00\\uD800x\"]",
       "00 AA 87 69 81 88 8C 8D 89 8E 00 81 82 34 30 83 1E 3A 83 83 00 38 83 00 30 83 F8 2A",
       "[\"\xC3\xA9\\b\\f\\r\\t\\u000E\xC2\x80\",\"\xF0\x9D\x84\x9E\",\"\\uDC00\\uD800x\"]\n"},
      {"[[1], {\"$blob\": \"AA==\"}]", "00 54 82 2A D2 81 00", "[[1],{\"$blob\":\"AA==\"}]\n",
       kArray},
      {"{\"$double\": \"NaN:7ff8000000000000\"}", "7E 00*6 F8 7F", "{\"$double\":\"NaN\"}\n"},
      {"{\"a\": {\"b\": [true, false, null]}, \"\": {}}",
       "01 A8 81 E1 01 A8 81 E2 00 55 82 80 00 2E 00 A8 80 00 2C",
       "[[\"a\",[[\"b\",[1,0,[]]]]],[\"\",[]]]\n", kConvert},
      {"{\"$blob\": 1}", "01 A8 85 A4 E2 EC EF E2 54 82 2B", "[[\"$blob\",1]]\n", kConvert},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    const qkxdr::Result<std::vector<uint8_t>> bytes = ToBinary(c.json, c.options);
    ASSERT_TRUE(bytes) << bytes.error().message();
    EXPECT_EQ(*bytes, Hex(c.hex));
    EXPECT_EQ(ToJson(*bytes, c.options), c.back ? c.back : c.json);
  }
}

// A typed std::string is UTF-8, as a JSON string is: each is the other's.
TEST(Json, TypedStringsAreJsonStrings) {
  const std::string text = "Z\xC3\xBCrich \xE2\x98\x83 \xF0\x9F\x98\x80";
  EXPECT_EQ(ToJson(qkxdr::to_binary(text).value()), "\"" + text + "\"\n");
  EXPECT_EQ(qkxdr::from_binary<std::string>(ToBinary("\"" + text + "\"").value()).value(), text);
}

// Refused with a code, at the problem's byte; a value no type holds at the
// start of its top-level value, with its JSON Pointer.
TEST(Json, RefusedTextsNameTheirPlace) {
  const struct {
    std::string_view json;
    ErrorCode code;
    size_t offset;
    const char* detail;
    const char* path = "";
    Options options = {};
  } kCases[] = {
      {"1\n\xEF\xBB\xBF", ErrorCode::malformed, 2, "not a JSON value"},  // a mark not first
      {"\xEF\xBB\xBF[1,", ErrorCode::truncated, 6, "the text ends inside a value"},
      {"[1,]", ErrorCode::malformed, 3, "not a JSON value"},
      {"[NaN]", ErrorCode::malformed, 1, "not a JSON value"},
      {"[\"abc\\q\"]", ErrorCode::malformed, 5, "an escape that JSON does not have"},
      {"[\"a\x01\"]", ErrorCode::malformed, 3,
       "a control character in a string, which JSON writes as an escape"},
      {"[\"\\u12G4\"]", ErrorCode::malformed, 2, "a \\u escape without four hex digits"},
      {"[1 2]", ErrorCode::malformed, 3, "no comma or \"]\" after an array element"},
      {"{\"a\" 1}", ErrorCode::malformed, 5, "no colon after an object member's name"},
      {"{\"a\": 1 2}", ErrorCode::malformed, 8, "no comma or \"}\" after an object member"},
      {"{1: 2}", ErrorCode::malformed, 1, "an object member without a name in quotes"},
      {"[1.]", ErrorCode::malformed, 3, "no digit after the decimal point"},
      {"[1e+]", ErrorCode::malformed, 4, "no digit in the exponent"},
      {"]", ErrorCode::malformed, 0, "a separator or closing bracket where a value should start"},
      {"1\n,", ErrorCode::malformed, 2, "a separator or closing bracket"},
      {"\0\0"sv, ErrorCode::malformed, 0, "a zero byte, which JSON text never holds"},
      {"[1,\0]"sv, ErrorCode::malformed, 3, "a zero byte"},
      {"[\"a\0\"]"sv, ErrorCode::malformed, 3, "a zero byte"},
      {"1 \0"sv, ErrorCode::malformed, 2, "a zero byte"},
      {"[1]\0x"sv, ErrorCode::malformed, 3, "a zero byte", "", kArray},
      {"\"ab", ErrorCode::truncated, 3, "the text ends inside a value"},
      {"/* c */ 1", ErrorCode::malformed, 0, "not a JSON value"},
      {"[1,", ErrorCode::truncated, 3, "the text ends inside a value"},
      {"7\n{\"a\": [\"b", ErrorCode::truncated, 11, "the text ends inside a value"},
      {"[1]x", ErrorCode::malformed, 3, "a second value on the line"},
      {"[] []", ErrorCode::malformed, 3, "a second value on the line"},
      {"1\n\xC3\x28", ErrorCode::malformed, 2, "not UTF-8"},
      {"\"\xED\xA0\x80\"", ErrorCode::malformed, 1, "not UTF-8"},
      {"\"\\uD800\\u0041\xFF\"", ErrorCode::malformed, 13, "not UTF-8"},
      {"x\n\"\xFF\"", ErrorCode::malformed, 0, "not a JSON value"},  // the first problem
      {"[\"\\uD800\", 0e9, \"\\q\"]", ErrorCode::malformed, 17, "an escape"},
      {"7\n[99999999999999999999]", ErrorCode::out_of_range, 3,
       "an integer beyond 64 bits: 99999999999999999999"},
      {"[9223372036854775808]", ErrorCode::out_of_range, 1, "an integer beyond 64 bits"},
      {"[18e307]", ErrorCode::out_of_range, 1, "a number beyond the range of a double: 18e307"},
      {"[0, 1e400]", ErrorCode::out_of_range, 4, "a number beyond the range of a double: 1e400"},
      {"[0.5e400]", ErrorCode::out_of_range, 1, "beyond the range of a double"},
      {"\"\\uD800\"\n[0e400, \"\\uDC00\", x]", ErrorCode::malformed, 27, "not a JSON value"},
      {"1\n[2, [true]]", ErrorCode::unsupported, 2, "true, which QkXDR has no type for", "/1/0"},
      {"[null, false]", ErrorCode::unsupported, 0, "null, which QkXDR has no type for", "/0"},
      {"{\"a\": 1}", ErrorCode::unsupported, 0, "an object, which QkXDR has no type for"},
      {"{\"a\": [\"\\u0000\"]}", ErrorCode::unsupported, 0, "a string holding U+0000", "/a/0",
       kConvert},
      {"{\"$blob\": \"A===\"}", ErrorCode::malformed, 0, "a \"$blob\" that is not base64"},
      {"{\"$double\": \"NaN:7FF0000000000000\"}", ErrorCode::malformed, 0,
       "a \"$double\" that names no double: \"NaN:7FF0000000000000\""},
      {"1", ErrorCode::malformed, 0, "the text is not one array", "", kArray},
      {" ", ErrorCode::malformed, 1, "the text is not one array", "", kArray},
      {"[1] [2]", ErrorCode::malformed, 4, "a value after the array", "", kArray},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    const qkxdr::Error e = ToBinary(std::string(c.json), c.options).error();
    EXPECT_EQ(e.code(), c.code) << e.message();
    EXPECT_EQ(e.offset(), c.offset) << e.message();
    EXPECT_EQ(e.path(), c.path) << e.message();
    EXPECT_NE(e.detail().find(c.detail), std::string::npos) << e.message();
  }
  qkxdr::Writer empty;
  EXPECT_EQ(qkxdr::json::from_json("[1]", empty).error().code(), ErrorCode::io);
}

// What a stream can hold and JSON cannot is refused with the value's path
// in the stream; deep nesting needs no deep call stack, either way.
TEST(Json, StreamsJsonCannotHoldAndDeepNesting) {
  const struct {
    const char* hex;
    ErrorCode code;
    const char* message;
  } kCases[] = {
      {"54 82 2A", ErrorCode::malformed, "at [1]: an array end with no open array"},
      {"01 54 82 2A", ErrorCode::truncated, "at [0][1]: the stream ends with 1 array still open"},
      {"01 54 82", ErrorCode::truncated, "at [0][0][1]: the stream ends with 2 arrays still open"},
      {"00 54 82 FD", ErrorCode::malformed, "at [0][1]: a value of no known type"},
      {"A9 81 E1 83 E1", ErrorCode::truncated, "at [1]: String cut short by the end of the input"},
      {"A8 82 80 E1", ErrorCode::unsupported, "at [0]: a string holding U+0000"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.hex);
    const std::vector<uint8_t> bytes = Hex(c.hex);
    qkxdr::BinaryReader in(bytes);
    const qkxdr::Error e = qkxdr::json::to_json(in).error();
    EXPECT_EQ(e.code(), c.code);
    EXPECT_EQ(e.message(), c.message);
  }
  const std::u16string unreadable = u"1 true 2";
  qkxdr::TextReader text(unreadable);
  EXPECT_EQ(qkxdr::json::to_json(text).error().message(), "at [1]: text the reader cannot read");
  const std::string json = std::string(200000, '[') + std::string(200000, ']') + "\n";
  EXPECT_EQ(ToJson(ToBinary(json).value()), json);
}

// Each worked example's JSON gives its bytes and text; the bytes give it back.
TEST(Json, FormatDocExamples) {
  std::ifstream doc(QKXDR_SOURCE_DIR "/docs/format.md");
  const std::regex row(
      "\\| `([^`]*)` \\| (`([^`]*)`|\\(no bytes\\)) \\| (`([^`]*)`|\\(no text\\)|—) \\|");
  int rows = 0;
  for (std::string line; std::getline(doc, line);) {
    std::smatch cell;
    if (!std::regex_match(line, cell, row)) continue;
    SCOPED_TRACE(line);
    ++rows;
    const std::string json = cell[1];
    const std::vector<uint8_t> bytes = Hex(cell[3]);
    EXPECT_EQ(ToBinary(json, kArray).value_or(std::vector<uint8_t>{}), bytes);
    EXPECT_EQ(ToJson(bytes, kArray), json + "\n");
    if (cell[4] == "—") continue;
    const std::string utf8 = cell[5];
    std::u16string text;
    qkxdr::tool::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()),
                             reinterpret_cast<const uint8_t*>(utf8.data() + utf8.size()), &text);
    qkxdr::TextWriter out;
    ASSERT_TRUE(qkxdr::json::from_json(json, out, kArray));
    EXPECT_EQ(out.text(), text);
  }
  EXPECT_GE(rows, 10);
}

// Random top-level values of every kind, some spanning lines: runs of small
// integers and of strings go on from value to value.
std::vector<std::string> RandomValues(std::mt19937& random, int count) {
  const auto pick = [&random](unsigned n) { return random() % n; };
  std::string text;
  const std::function<void(int)> value = [&](int depth) {
    switch (pick(depth < 3 ? 7 : 6)) {
      case 0:
        text += std::to_string(pick(3));
        break;
      case 1:
        text += "-1099511627776";
        break;
      case 2:
        text += pick(2) ? "2.5e-3" : "9.0e5";
        break;
      case 3:  // sequences of 2, 3 and 4 bytes, the last one U+10FFFF
        text += "\"caf\xC3\xA9 \xE2\x82\xAC\xF4\x8F\xBF\xBF \\u00e9\\n\"";
        break;
      case 4:
        text += "{\"$blob\": \"3q2+7w==\"}";
        break;
      case 5:
        text += "\"\\uD800\"";
        break;
      default:
        text += '[';
        for (unsigned i = 0, n = pick(4); i < n; ++i) {
          text += i == 0 ? "" : pick(4) == 0 ? ",\n " : ", ";
          value(depth + 1);
        }
        text += ']';
    }
  };
  std::vector<std::string> values;
  for (int i = 0; i < count; ++i) {
    text.clear();
    value(0);
    values.push_back(text);
  }
  return values;
}

// The values as JSON Lines, with blank lines, or as one array.
std::string Join(const std::vector<std::string>& values, const Options& options) {
  const bool lines = options.layout == Layout::lines;
  std::string text = lines ? "" : "[";
  for (const std::string& value : values) {
    text += (lines || text.size() == 1 ? "" : ",\n") + value + (lines ? "\n\n" : "");
  }
  return lines ? text : text + "]";
}

// Fed in pieces of any size, a text converts to the bytes of the whole
// conversion, in both layouts.
TEST(Json, StreamConverterWritesTheWholeConversion) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    const std::vector<std::string> values = RandomValues(random, 30);
    for (const Options& options : {Options{}, kArray}) {
      const std::string json = Join(values, options);
      const size_t piece = 1 + random() % (round < 20 ? 8 : json.size());
      SCOPED_TRACE(json + " in pieces of " + std::to_string(piece));
      qkxdr::BinaryWriter out;
      qkxdr::json::StreamConverter converter(out, options);
      for (size_t at = 0; at < json.size(); at += piece) {
        ASSERT_TRUE(converter.feed(std::string_view(json).substr(at, piece)));
      }
      ASSERT_TRUE(converter.finish());
      EXPECT_EQ(out.bytes(), ToBinary(json, options).value());
    }
  }
}

// Through PassingWriters, streaming writers take the values as they come
// (here a unit at a time, the text fed in pieces of 3 bytes): the bytes and
// the text of the in-memory writers, every value counted, none held.
TEST(Json, PassingWriterStreamsTheConversion) {
  const struct {
    std::string_view json;
    const char* hex;
    uint64_t values;
  } kCases[] = {
      {"", "", 0},
      {"7\n-1099511627776\n[]\n", "55 8E 7F 7F 7F 7F 7F BF 00 2A", 4},
      {"[1, 2.5, \"ab\",\n {\"$blob\": \"3q2+7w==\"}, [[\"\\uD800\"]]]\n",
       "00 54 82 7E 00 00 00 00 00 00 04 40 A8 82 E1 E2 D2 84 DE AD BE EF 01 A8 81 00 30 83 2C",
       11},
      {"[{\"$double\": \"-Infinity\"}, 3, 4, 5]\n\"\xC3\xA9\"\n",
       "00 7E 00 00 00 00 00 00 F0 FF 56 86 88 8A 2A A8 81 69 81", 7},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    std::vector<uint8_t> bytes;
    std::u16string text;
    {
      qkxdr::BinaryStreamWriter binary(
          [&bytes](const uint8_t* data, size_t n) {
            bytes.insert(bytes.end(), data, data + n);
            return true;
          },
          1);
      qkxdr::TextStreamWriter units(
          [&text](const char16_t* data, size_t n) {
            text.append(data, n);
            return true;
          },
          1);
      qkxdr::json::PassingWriter to_binary(binary);
      qkxdr::json::PassingWriter to_text(units);
      for (qkxdr::Writer* out : {&to_binary, &to_text}) {
        qkxdr::json::StreamConverter converter(*out);
        for (size_t at = 0; at < c.json.size(); at += 3) {
          ASSERT_TRUE(converter.feed(c.json.substr(at, 3)));
        }
        ASSERT_TRUE(converter.finish());
        EXPECT_EQ(out->data(), nullptr);
      }
      EXPECT_EQ(to_binary.values(), c.values);
      EXPECT_EQ(to_text.values(), c.values);
    }  // the streaming writers pass on what they hold
    EXPECT_EQ(bytes, Hex(c.hex));
    qkxdr::TextWriter whole;
    ASSERT_TRUE(qkxdr::json::from_json(c.json, whole));
    EXPECT_EQ(text, whole.text());
  }
  // The 8-bit strings of the exported interface, as its own writers take
  // them: each byte a unit of its value in binary, sign-extended in text.
  std::vector<uint8_t> bytes;
  std::u16string text;
  {
    qkxdr::BinaryStreamWriter binary([&bytes](const uint8_t* data, size_t n) {
      bytes.insert(bytes.end(), data, data + n);
      return true;
    });
    qkxdr::TextStreamWriter units([&text](const char16_t* data, size_t n) {
      text.append(data, n);
      return true;
    });
    qkxdr::json::PassingWriter(binary).get()->WriteStringA("a\xE9");
    qkxdr::json::PassingWriter(units).get()->WriteStringA("a\xE9");
  }
  EXPECT_EQ(bytes, Hex("A8 82 E1 69 81"));
  EXPECT_EQ(text, u"\"a\xFFE9\"");
}

// Fed in pieces, a problem is reported at its place in the whole text,
// which the converter still holds, and can tell as a line and a column
// (of characters): a misplaced byte as soon as it comes, a value held
// beyond the limit (here 16 bytes) at its start. The first problem sticks.
TEST(Json, StreamConverterRefusesAsTheTextComes) {
  const struct {
    std::vector<std::string_view> pieces;
    ErrorCode code;
    size_t offset;
    uint64_t line;
    uint64_t column;
    const char* detail;
    Options options = {};
  } kCases[] = {
      {{"1\n[2,\n", "3]\n[x", "never fed"}, ErrorCode::malformed, 10, 4, 2, "not a JSON value"},
      {{"1\n", "\0\0\0"sv, "never fed"}, ErrorCode::malformed, 2, 2, 1, "a zero byte"},
      {{"[1, \"a", "\x01", "never fed"}, ErrorCode::malformed, 6, 1, 7, "a control character"},
      {{"[\"\xC3\xA9\", \xC3", "\xA9", "never fed"},
       ErrorCode::malformed,
       7,
       1,
       7,
       "not a JSON value"},
      {{"7\n\xFF", "never fed"}, ErrorCode::malformed, 2, 2, 1, "not UTF-8"},
      {{"1\n2 ", "]", "never fed"}, ErrorCode::malformed, 4, 2, 3, "a second value on the line"},
      {{"[1]\n[2] 3\n"}, ErrorCode::malformed, 8, 2, 5, "a second value on the line"},
      {{"\xEF\xBB", "\xBF[1, x"}, ErrorCode::malformed, 7, 1, 6, "not a JSON value"},
      {{"\xEF", "\xBB\xBF[1,\n", "x"}, ErrorCode::malformed, 7, 2, 1, "not a JSON value"},
      {{"\xEF\xBB"}, ErrorCode::malformed, 0, 1, 1, "not UTF-8"},
      {{"[1,\n", "2"}, ErrorCode::truncated, 5, 2, 2, "the text ends inside a value"},
      {{"[1, 2]\n[\"\xC3\x28\"]\n"}, ErrorCode::malformed, 9, 2, 3, "not UTF-8"},
      {{"[1]\n[[[[[[[[[[", "[[[[[[[[", "never fed"},
       ErrorCode::too_large,
       4,
       2,
       1,
       "a top-level value of more than 16 bytes"},
      {{"[1, 2, 3, 4, 5, 6, 7]"},
       ErrorCode::too_large,
       0,
       1,
       1,
       "an array of more than 16 bytes",
       kArray},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.detail);
    qkxdr::BinaryWriter out;
    qkxdr::json::StreamConverter converter(out, c.options, 16);
    qkxdr::Result<void> result;
    for (const std::string_view piece : c.pieces) {
      result = converter.feed(piece);
      if (!result) break;
    }
    if (result) result = converter.finish();
    ASSERT_FALSE(result);
    const qkxdr::Error& e = result.error();
    EXPECT_EQ(e.code(), c.code) << e.message();
    EXPECT_EQ(e.offset(), c.offset) << e.message();
    EXPECT_NE(e.detail().find(c.detail), std::string::npos) << e.message();
    EXPECT_LE(converter.held_offset(), e.offset());
    EXPECT_LE(e.offset(), converter.held_offset() + converter.held().size());
    const qkxdr::json::StreamConverter::Place place = converter.place(e.offset());
    EXPECT_EQ(place.line, c.line);
    EXPECT_EQ(place.column, c.column);
    EXPECT_EQ(converter.feed("1\n").error().message(), e.message());
  }
  qkxdr::BinaryWriter out;
  qkxdr::json::StreamConverter converter(out, {}, 16);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(converter.feed("[1, 2, 3, 4, 5]\n"));
  EXPECT_TRUE(converter.finish());
}

}  // namespace
