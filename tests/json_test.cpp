// The JSON converter: byte-exact vectors both ways, JSON texts that convert
// and come back as the same JSON value, texts refused at their place, and
// the round trip of random streams.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "QkXDR.hpp"
#include "qkxdr/json.hpp"
#include "test_util.h"
#include "tool_random_values.h"
#include "utf8.h"

namespace {

using qkxdr::json::Error;
using qkxdr::json::Layout;
using qkxdr::json::Options;
using qkxdr::json::Others;

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

std::string ToJson(const std::vector<uint8_t>& bytes, Options options = {}) {
  qkxdr::BinaryReader in(bytes);
  std::string json;
  Error error;
  EXPECT_TRUE(qkxdr::json::to_json(in, &json, options, &error)) << error.message;
  return json;
}

// Each JSON text, in the form the converter writes, and its binary encoding.
TEST(Json, ByteExactBothWays) {
  const struct {
    const char* json;
    const char* hex;
  } kCases[] = {
      {"[7,\"ab\"]\n", "00 54 8E A8 82 E1 E2 2A"},
      {"1.0\n", "7E 00 00 00 00 00 00 F0 3F"},
      {"-0.0\n", "7E 00 00 00 00 00 00 00 80"},
      {"0.1\n", "7E 9A 99 99 99 99 99 B9 3F"},
      {"9223372036854775807\n", "54 7E 7F 7F 7F 7F 7F 7F 7F 7F 81"},
      {"-2147483648\n", "54 7F 7F 7F 7F 8F"},
      {"{\"$double\":\"NaN\"}\n", "7E 00 00 00 00 00 00 F8 7F"},
      {"{\"$double\":\"NaN:FFF0000000000001\"}\n", "7E 01 00 00 00 00 00 F0 FF"},
      {"{\"$double\":\"-Infinity\"}\n", "7E 00 00 00 00 00 00 F0 FF"},
      {"{\"$blob\":\"3q2+7w==\"}\n", "D2 84 DE AD BE EF"},
      {"{\"$blob\":\"\"}\n", "D2 80"},
      {"\"\\uD800\\n\\u001F\\\"\"\n", "A8 84 00 30 83 8A 9F A2"},
      {"\"\xF0\x9F\x98\x80\"\n", "A8 82 3D 30 83 00 3C 83"},
      {"[]\n[[]]\n", "00 2A 01 2B"},
  };
  for (const auto& c : kCases) {
    Error error;
    EXPECT_EQ(ToBinary(c.json, &error), Hex(c.hex)) << c.json << error.message;
    EXPECT_EQ(ToJson(Hex(c.hex)), c.json);
  }
  EXPECT_EQ(ToJson(Hex("00 54 82 2A 54 84")), "[1]\n2\n");
  EXPECT_EQ(ToJson(Hex("00 54 82 2A 54 84"), {Layout::Array}), "[[1],2]\n");
  EXPECT_EQ(ToJson({}, {Layout::Array}), "[]\n");
}

// JSON texts that convert, and the JSON written back: the same JSON value.
TEST(Json, AcceptedTextsComeBackAsTheSameValue) {
  const struct {
    const char* json;
    const char* back;
    Options options;
  } kCases[] = {
      {" [1E22, -0, 0e+1, 1.5E-3, -1e-400, 5e-324 ] ", "[1e+22,0,0.0,0.0015,-0.0,5e-324]\n", {}},
      {"[0.0001e-400, 1e-99999999999999999999]", "[0.0,0.0]\n", {}},
      {"[-9223372036854775808, 4294967296]", "[-9223372036854775808,4294967296]\n", {}},
      {"[\"\\u00e9\\/\\b\\f\\r\\t\", \"\\ud834\\udd1e\", \"\\uDC00\\uD800x\"]",
       "[\"\xC3\xA9/\\b\\f\\r\\t\",\"\xF0\x9D\x84\x9E\",\"\\uDC00\\uD800x\"]\n",
       {}},
      {"\n\n 7 \r\n\t\"x\"  \n\n", "7\n\"x\"\n", {}},
      {"", "", {}},
      {"\xEF\xBB\xBF", nullptr, {}},  // a byte-order mark is not JSON
      {"[[1], {\"$blob\": \"AA==\"}]", "[[1],{\"$blob\":\"AA==\"}]\n", {Layout::Array}},
      {"[]", "[]\n", {Layout::Array}},
      {"{\"$double\": \"nan:7ff8000000000000\"}", nullptr, {}},
      {"{\"$double\": \"NaN:7ff8000000000000\"}", "{\"$double\":\"NaN\"}\n", {}},
      {"{\"a\": {\"b\": [true, false, null]}, \"\": {}}",
       "[[\"a\",[[\"b\",[1,0,[]]]]],[\"\",[]]]\n",
       {Layout::Lines, Others::Convert}},
      {"{\"$blob\": 1}", "[[\"$blob\",1]]\n", {Layout::Lines, Others::Convert}},
  };
  for (const auto& c : kCases) {
    Error error;
    qkxdr::BinaryWriter out;
    const bool converted = qkxdr::json::from_json(c.json, out, c.options, &error);
    EXPECT_EQ(converted, c.back != nullptr) << c.json << ": " << error.message;
    if (converted) {
      EXPECT_EQ(ToJson(out.bytes(), c.options), c.back) << c.json;
    }
  }
}

// Texts that are not JSON, or hold what no QkXDR type holds: refused at
// the byte where the problem is (for a value no type holds, the start of
// its top-level value, with the path to it in the message).
TEST(Json, RefusedTextsNameTheirPlace) {
  const struct {
    const char* json;
    size_t offset;
    const char* message;
    Options options;
  } kCases[] = {
      {"[1,]", 3, "Invalid value", {}},
      {"[1 2]", 3, "Missing a comma", {}},
      {"[01]", 2, "Missing a comma", {}},
      {"[.5, -, --1, 1e, NaN]", 1, "Invalid value", {}},
      {"[1.5.5]", 4, "Missing a comma", {}},
      {"[\"abc\\q\"]", 5, "Invalid escape", {}},
      {"[\"\\u12G4\"]", 2, "Incorrect hex digit", {}},
      {"[\"a\tb\"]", 3, "Invalid escape", {}},
      {"\"abc", 4, "Missing a closing quotation mark", {}},
      {"{\"a\" 1}", 5, "Missing a colon", {}},
      {"[1,2", 4, "Missing a comma or ']'", {}},
      {"]", 0, "Invalid value", {}},
      {"[1.]", 3, "Miss fraction part", {}},
      {"[1e+]", 4, "Miss exponent", {}},
      {"['a']", 1, "Invalid value", {}},
      {"/* c */ 1", 0, "Invalid value", {}},
      {"\"a\nb\"", 2, "Invalid escape", {}},
      {"[1]x", 3, "a second value on the line", {}},
      {"[] []", 3, "a second value on the line", {}},
      {"1\n\xC3\x28", 2, "not UTF-8", {}},
      {"\"\xED\xA0\x80\"", 1, "not UTF-8", {}},
      {"\"\\uD800\\u0041\xFF\"", 13, "not UTF-8", {}},
      {"[\"\\uD800\", \"\\q\"]", 12, "Invalid escape", {}},
      {"7\n[99999999999999999999]", 3, "an integer beyond 64 bits: 99999999999999999999", {}},
      {"[9223372036854775808]", 1, "an integer beyond 64 bits", {}},
      {"[1e400]", 1, "Number too big", {}},
      {"[18e307]", 1, "a number beyond the range of a double: 18e307", {}},
      {"1\n[2, [true]]", 2, "/1/0: true, which QkXDR has no type for", {}},
      {"[null, false]", 0, "/0: null, which QkXDR has no type for", {}},
      {"[false]", 0, "/0: false, which QkXDR has no type for", {}},
      {"{\"a\": 1}", 0, "an object, which QkXDR has no type for", {}},
      {"{\"a\": [\"\\u0000\"]}",
       0,
       "/a/0: a string holding U+0000",
       {Layout::Lines, Others::Convert}},
      {"{\"k\\u0000\": 1}", 0, "/k\0: a string holding U+0000", {Layout::Lines, Others::Convert}},
      {"{\"$blob\": \"AAA\"}", 0, "a \"$blob\" that is not base64", {}},
      {"{\"$blob\": \"A===\"}", 0, "not base64", {}},
      {"{\"$blob\": \"A*==\"}", 0, "not base64", {}},
      {"{\"$double\": \"NaN:7FF0000000000000\"}",
       0,
       "names no double: \"NaN:7FF0000000000000\"",
       {}},
      {"{\"$double\": \"NaN:7FF00000000000000\"}", 0, "names no double", {}},
      {"{\"$double\": \"inf\"}", 0, "names no double", {}},
      {"1", 0, "the text is not one array", {Layout::Array}},
      {"[1] [2]", 4, "must not be followed by other values", {Layout::Array}},
      {"", 0, "empty", {Layout::Array}},
  };
  for (const auto& c : kCases) {
    Error error;
    qkxdr::BinaryWriter out;
    EXPECT_FALSE(qkxdr::json::from_json(c.json, out, c.options, &error)) << c.json;
    EXPECT_EQ(error.offset, c.offset) << c.json << ": " << error.message;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << c.json << ": " << error.message;
  }
}

// What a stream can hold and JSON cannot: refused at the value's index.
TEST(Json, StreamsJsonCannotHold) {
  const struct {
    const char* hex;
    size_t index;
    const char* message;
  } kCases[] = {
      {"54 82 2A", 1, "an array end with no open array"},
      {"01 54 82 2A", 4, "the stream ends with 1 array still open"},
      {"01 54 82", 3, "the stream ends with 2 arrays still open"},
      {"54 82 FD", 1, "the reader cannot read this value"},
  };
  for (const auto& c : kCases) {
    const std::vector<uint8_t> bytes = Hex(c.hex);
    qkxdr::BinaryReader in(bytes);
    std::string json;
    Error error;
    EXPECT_FALSE(qkxdr::json::to_json(in, &json, {}, &error)) << c.hex;
    EXPECT_EQ(error.offset, c.index) << c.hex;
    EXPECT_EQ(error.message, c.message) << c.hex;
  }
}

// Deep nesting needs no deep call stack, either way.
TEST(Json, DeepNesting) {
  const size_t kDepth = 200000;
  const std::string json = std::string(kDepth, '[') + std::string(kDepth, ']') + "\n";
  Error error;
  EXPECT_EQ(ToJson(ToBinary(json, &error)), json) << error.message;
}

// QkXDR to JSON to QkXDR gives the same bytes, in both layouts, for random
// streams with every kind of value, special doubles and strings with
// unpaired surrogates, controls and quotes among them.
TEST(Json, RandomStreamsRoundTrip) {
  static const double kDoubles[] = {-0.0,
                                    5e-324,
                                    1.7976931348623157e308,
                                    0.1,
                                    1e21,
                                    123456789.0,
                                    FromBits(0x7FF0000000000001),
                                    FromBits(0xFFF8000000000000),
                                    FromBits(0x7FF8000000000000),
                                    FromBits(0x7FF0000000000000),
                                    FromBits(0xFFF0000000000000)};
  static const std::u16string kPieces[] = {u"\xD800",
                                           u"\xDFFF"
                                           u"a",
                                           u"\"\\/\n\x01\x1F\x7F", u"\U0001F600",
                                           u"\xDBFF\xDBFF\xDC00"};
  std::mt19937 random(16);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> blobs;
    std::vector<qkxdr::tool::Value> values = RandomValues(random, 60, &blobs);
    for (qkxdr::tool::Value& v : values) {
      if (random() % 3 == 0) v.real = kDoubles[random() % std::size(kDoubles)];
      if (random() % 3 == 0) v.text += kPieces[random() % std::size(kPieces)];
    }
    const std::string written = Written(values, QkXDRCreateOStream2());
    const std::vector<uint8_t> bytes(written.begin(), written.end());
    for (const Layout layout : {Layout::Lines, Layout::Array}) {
      Error error;
      EXPECT_EQ(ToBinary(ToJson(bytes, {layout}), &error, {layout}), bytes) << error.message;
    }
  }
}

// The text form converts the same way: its reader and writer are used.
TEST(Json, TextForm) {
  const std::u16string text = u"[1,2.5,\"a\",\"0X01AB\"],-7";
  qkxdr::TextReader in(text);
  std::string json;
  Error error;
  ASSERT_TRUE(qkxdr::json::to_json(in, &json, {}, &error));
  EXPECT_EQ(json, "[1,2.5,\"a\",{\"$blob\":\"Aas=\"}]\n-7\n");
  qkxdr::TextWriter out;
  ASSERT_TRUE(qkxdr::json::from_json(json, out, {}, &error));
  EXPECT_EQ(out.text(), u"[1,2.5,\"a\"\"0X01AB\"],-7");
}

// The worked examples of docs/format.md: each row's values, as a JSON array
// of the stream's values, give the row's binary bytes and text, and the bytes
// give the JSON back.
TEST(Json, FormatDocExamples) {
  std::ifstream doc(QKXDR_SOURCE_DIR "/docs/format.md");
  ASSERT_TRUE(doc) << "docs/format.md";
  std::string line;
  while (std::getline(doc, line) && line != "## Worked examples") {
  }
  const Options array{Layout::Array};
  int rows = 0;
  while (std::getline(doc, line)) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    for (size_t at = 2, bar; (bar = line.find(" | ", at)) != std::string::npos; at = bar + 3) {
      cells.push_back(line.substr(at, bar - at));
    }
    cells.push_back(line.substr(line.rfind(" | ") + 3, line.size() - line.rfind(" | ") - 5));
    ASSERT_EQ(cells.size(), 3U) << line;
    const auto code = [](const std::string& cell) { return cell.substr(1, cell.size() - 2); };
    const std::string json = code(cells[0]);
    const std::vector<uint8_t> bytes =
        cells[1][0] == '`' ? Hex(code(cells[1])) : std::vector<uint8_t>();
    Error error;
    EXPECT_EQ(ToBinary(json, &error, array), bytes) << line << error.message;
    EXPECT_EQ(ToJson(bytes, array), json + "\n") << line;
    if (cells[2] != "—") {
      qkxdr::TextWriter text;
      ASSERT_TRUE(qkxdr::json::from_json(json, text, array, &error)) << line;
      std::u16string expected;
      if (cells[2][0] == '`') {
        const std::string utf8 = code(cells[2]);
        qkxdr::tool::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()),
                                 reinterpret_cast<const uint8_t*>(utf8.data() + utf8.size()),
                                 &expected);
      }
      EXPECT_EQ(text.text(), expected) << line;
    }
    ++rows;
  }
  EXPECT_GE(rows, 10);
}

}  // namespace
