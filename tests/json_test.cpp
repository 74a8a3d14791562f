// The JSON converter both ways: accepted and refused texts, streams JSON
// cannot hold, the worked examples of docs/format.md.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "QkXDR.hpp"
#include "qkxdr/json.hpp"
#include "utf8.h"

namespace {

using qkxdr::json::Error;
using qkxdr::json::Layout;
using qkxdr::json::Options;
using qkxdr::json::Others;

const Options kArray{Layout::Array};
const Options kConvert{Layout::Lines, Others::Convert};

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (std::string token; in >> token;)
    bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

// The binary encoding of the JSON text; `error` tells why there is none.
std::vector<uint8_t> ToBinary(const std::string& json, Error* error, Options options = {}) {
  qkxdr::BinaryWriter out;
  if (!qkxdr::json::from_json(json, out, options, error)) return {};
  return out.bytes();
}

// The JSON of a binary stream, or "@index: why" when there is none.
std::string ToJson(const std::vector<uint8_t>& bytes, Options options = {}) {
  qkxdr::BinaryReader in(bytes);
  std::string json;
  Error error;
  if (qkxdr::json::to_json(in, &json, options, &error)) return json;
  return "@" + std::to_string(error.offset) + ": " + error.message;
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
      {"\n\n 7 \r\n\t\"x\"  \n\n", "54 8E A8 81 F8", "7\n\"x\"\n"},
      {" [1E22, -0, 0e+1, 1.5E-3, -1e-400, 5e-324, 0.0001e-400, 1e-99999999999999999999 ] ",
       nullptr, "[1e+22,0,0.0,0.0015,-0.0,5e-324,0.0,0.0]\n"},
      {"[9223372036854775807,-9223372036854775808,4294967296]\n", nullptr},
      {"[\"\\u00e9\\b\\f\\r\\t\\u000e\xC2\x80\", \"\\ud834\\udd1e\",\"\\uDC00\\uD800x\"]", nullptr,
       "[\"\xC3\xA9\\b\\f\\r\\t\\u000E\xC2\x80\",\"\xF0\x9D\x84\x9E\",\"\\uDC00\\uD800x\"]\n"},
      {"[[1], {\"$blob\": \"AA==\"}]", nullptr, "[[1],{\"$blob\":\"AA==\"}]\n", kArray},
      {"{\"$double\": \"NaN:7ff8000000000000\"}", nullptr, "{\"$double\":\"NaN\"}\n"},
      {"{\"a\": {\"b\": [true, false, null]}, \"\": {}}", nullptr,
       "[[\"a\",[[\"b\",[1,0,[]]]]],[\"\",[]]]\n", kConvert},
      {"{\"$blob\": 1}", nullptr, "[[\"$blob\",1]]\n", kConvert},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    Error error;
    const std::vector<uint8_t> bytes = ToBinary(c.json, &error, c.options);
    EXPECT_EQ(error.message, "");
    EXPECT_EQ(bytes, c.hex ? Hex(c.hex) : bytes);
    EXPECT_EQ(ToJson(bytes, c.options), c.back ? c.back : c.json);
  }
}

// Refused at the problem's byte; a value no type holds at the start of its
// top-level value, with its path.
TEST(Json, RefusedTextsNameTheirPlace) {
  const struct {
    const char* json;
    size_t offset;
    const char* message;
    Options options = {};
  } kCases[] = {
      {"\xEF\xBB\xBF", 0, "Invalid value"},  // a byte-order mark
      {"[1,]", 3, "Invalid value"},
      {"[NaN]", 1, "Invalid value"},
      {"[\"abc\\q\"]", 5, "Invalid escape"},
      {"[\"\\u12G4\"]", 2, "Incorrect hex digit"},
      {"]", 0, "Invalid value"},
      {"/* c */ 1", 0, "Invalid value"},
      {"[1]x", 3, "a second value on the line"},
      {"[] []", 3, "a second value on the line"},
      {"1\n\xC3\x28", 2, "not UTF-8"},
      {"\"\xED\xA0\x80\"", 1, "not UTF-8"},
      {"\"\\uD800\\u0041\xFF\"", 13, "not UTF-8"},
      {"[\"\\uD800\", \"\\q\"]", 12, "Invalid escape"},
      {"7\n[99999999999999999999]", 3, "an integer beyond 64 bits: 99999999999999999999"},
      {"[9223372036854775808]", 1, "an integer beyond 64 bits"},
      {"[18e307]", 1, "a number beyond the range of a double: 18e307"},
      {"1\n[2, [true]]", 2, "/1/0: true, which QkXDR has no type for"},
      {"[null, false]", 0, "/0: null, which QkXDR has no type for"},
      {"[false]", 0, "/0: false, which QkXDR has no type for"},
      {"{\"a\": 1}", 0, "an object, which QkXDR has no type for"},
      {"{\"a\": [\"\\u0000\"]}", 0, "/a/0: a string holding U+0000", kConvert},
      {"{\"k\\u0000\": 1}", 0, "/k\0: a string holding U+0000", kConvert},
      {"{\"$blob\": \"AAA\"}", 0, "a \"$blob\" that is not base64"},
      {"{\"$blob\": \"A===\"}", 0, "not base64"},
      {"{\"$blob\": \"A*==\"}", 0, "not base64"},
      {"{\"$double\": \"NaN:7FF0000000000000\"}", 0, "names no double: \"NaN:7FF0000000000000\""},
      {"{\"$double\": \"NaN:7FF00000000000000\"}", 0, "names no double"},
      {"{\"$double\": \"nan:7ff8000000000000\"}", 0, "names no double"},
      {"1", 0, "the text is not one array", kArray},
      {"[1] [2]", 4, "must not be followed by other values", kArray},
      {"", 0, "empty", kArray},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    Error error;
    ToBinary(c.json, &error, c.options);
    EXPECT_EQ(error.offset, c.offset) << error.message;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
  }
}

// What a stream can hold and JSON cannot is refused at the value's index;
// deep nesting needs no deep call stack, either way.
TEST(Json, StreamsJsonCannotHoldAndDeepNesting) {
  EXPECT_EQ(ToJson(Hex("54 82 2A")), "@1: an array end with no open array");
  EXPECT_EQ(ToJson(Hex("01 54 82 2A")), "@4: the stream ends with 1 array still open");
  EXPECT_EQ(ToJson(Hex("01 54 82")), "@3: the stream ends with 2 arrays still open");
  EXPECT_EQ(ToJson(Hex("54 82 FD")), "@1: the reader cannot read this value");
  const std::string json = std::string(200000, '[') + std::string(200000, ']') + "\n";
  Error error;
  EXPECT_EQ(ToJson(ToBinary(json, &error)), json) << error.message;
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
    Error error;
    EXPECT_EQ(ToBinary(json, &error, kArray), bytes) << error.message;
    EXPECT_EQ(ToJson(bytes, kArray), json + "\n");
    if (cell[4] == "—") continue;
    const std::string utf8 = cell[5];
    std::u16string text;
    qkxdr::tool::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()),
                             reinterpret_cast<const uint8_t*>(utf8.data() + utf8.size()), &text);
    qkxdr::TextWriter out;
    ASSERT_TRUE(qkxdr::json::from_json(json, out, kArray, &error));
    EXPECT_EQ(out.text(), text);
  }
  EXPECT_GE(rows, 10);
}

}  // namespace
