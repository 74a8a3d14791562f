// The C++ layer: the value each write makes of each C++ type, reads in both
// encodings and the error of each failure, string round trips, ownership of
// streams and blobs, parse_text's handlers.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

// The public headers compile where <windows.h> has defined these.
#define min(a, b) ((a) < (b) ? (a) : (b))
#define max(a, b) ((a) > (b) ? (a) : (b))
#include "QkXDR.hpp"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/json.hpp"
#include "test_util.h"
#undef min
#undef max

namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using qkxdr::ErrorCode;
using qkxdr::Latin1;

#if SIZE_MAX > UINT32_MAX
constexpr size_t k4G = size_t{1} << 32;  // one more than a 32-bit count
#endif

// Readers refuse temporaries whose storage would die before them.
static_assert(!std::is_constructible_v<qkxdr::BinaryReader, std::vector<uint8_t>>);
static_assert(!std::is_constructible_v<qkxdr::BinaryReader, const std::string&>);
static_assert(!std::is_constructible_v<qkxdr::TextReader, std::u16string>);
static_assert(!std::is_copy_constructible_v<qkxdr::Writer>);
static_assert(std::is_nothrow_move_constructible_v<qkxdr::Blob>);

// Each write as the text it makes; false and nothing written for what has
// no form.
TEST(CppWriter, WritesEachTypeAsItsValue) {
  const char16_t zero_inside[] = u"ab\0cd";
  const Bytes bytes{1, 2, 0xAB};
  const std::array<std::byte, 2> raw{};
  const std::tuple<const char*, std::function<bool(qkxdr::Writer&)>, std::u16string> kCases[] = {
    {"int8", [](auto& w) { return w.write(int8_t{-128}); }, u"-128"},
    {"uint16", [](auto& w) { return w.write(uint16_t{65535}); }, u"65535"},
    {"int32 min", [](auto& w) { return w.write(INT32_MIN); }, u"-2147483648"},
    {"uint32 over", [](auto& w) { return w.write(uint32_t{1} << 31); }, u"2147483648"},
    {"int64 below", [](auto& w) { return w.write(int64_t{INT32_MIN} - 1); }, u"-2147483649"},
    {"uint64 max signed", [](auto& w) { return w.write(uint64_t{INT64_MAX}); },
     u"9223372036854775807"},
    {"uint64 above", [](auto& w) { return w.write(uint64_t{INT64_MAX} + 1); }, u""},
    {"double", [](auto& w) { return w.write(0.5); }, u"0.5"},
    {"float", [](auto& w) { return w.write(1.5f); }, u"1.5"},
    {"literal", [](auto& w) { return w.write(u"hi"); }, u"\"hi\""},
    {"u16string", [](auto& w) { return w.write(std::u16string(u"\u4e2d")); }, u"\"\u4e2d\""},
    {"view copied", [](auto& w) { return w.write(std::u16string_view(u"abc", 2)); }, u"\"ab\""},
    {"view with zero", [&](auto& w) { return w.write(std::u16string_view(zero_inside, 5)); }, u""},
    {"null", [](auto& w) { return w.write(static_cast<const char16_t*>(nullptr)); }, u""},
    {"UTF-8", [](auto& w) { return w.write("Z\xC3\xBCrich \xE2\x98\x83"); },
     u"\"Z\u00fcrich \u2603\""},
    {"UTF-8 view", [](auto& w) { return w.write(std::string_view("xyz", 2)); }, u"\"xy\""},
    {"UTF-8 with zero", [](auto& w) { return w.write(std::string("a\0b", 3)); }, u""},
    {"UTF-8 null", [](auto& w) { return w.write(static_cast<const char*>(nullptr)); }, u""},
    {"Latin1", [](auto& w) { return w.write(Latin1{"\xE9t\xE9"}); }, u"\"\u00e9t\u00e9\""},
    {"Latin1 with zero", [](auto& w) { return w.write(Latin1{std::string("a\0", 2)}); }, u""},
    {"vector", [&](auto& w) { return w.write(bytes); }, u"\"0X0102AB\""},
    {"std::byte", [&](auto& w) { return w.write(raw); }, u"\"0X0000\""},
    {"no bytes", [](auto& w) { return w.write(nullptr, 0); }, u"\"0X\""},
    {"null bytes", [](auto& w) { return w.write(nullptr, 3); }, u""},
#if SIZE_MAX > UINT32_MAX
    {"4 GiB", [&](auto& w) { return w.write(bytes.data(), k4G); }, u""},
#endif
    {"array", [](auto& w) { return w.begin_array() && w.end_array(); }, u"[]"},
  };
  for (const auto& [name, write, text] : kCases) {
    SCOPED_TRACE(name);
    qkxdr::TextWriter writer;
    EXPECT_EQ(write(writer), !text.empty());
    EXPECT_EQ(writer.text(), text);
    qkxdr::Writer empty;
    EXPECT_FALSE(write(empty));
  }
}

// Reads give the current value as the type asked for, or an Error and stay
// where they were; blobs outlive their reader. A moved-from owner is empty;
// assigning one releases what the target had.
TEST(CppReader, ReadsAndOwners) {
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    qkxdr::Writer w =
        binary ? qkxdr::Writer(qkxdr::BinaryWriter()) : qkxdr::Writer(qkxdr::TextWriter());
    {
      auto array = w.array();  // ends with its scope
      w.write(7);
      w.begin_array();
      w.write(8);
      w.end_array();
      w.write(9);
    }
    w.write(u"a\u4e2d");
    w.write(int64_t{-5000000000});
    w.write(2.5);
    w.write(Bytes{0xDE, 0xAD});
    qkxdr::Writer& same = w;
    w = std::move(same);  // keeps its stream
    w.write(3);
    const qkxdr::Writer moved(std::move(w));
    EXPECT_FALSE(w || w.write(3));
    const Bytes bytes = moved.bytes();
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    qkxdr::Reader r =
        binary ? qkxdr::Reader(qkxdr::BinaryReader(bytes)) : qkxdr::Reader(qkxdr::TextReader(text));
    EXPECT_FALSE(r.read_int() || r.end_array());
    EXPECT_TRUE(r.begin_array());
    EXPECT_EQ(r.read_int().value(), 7);
    r.skip();  // the rest of the array, its end included
    EXPECT_EQ(r.read_u16string().value(), u"a\u4e2d");
    EXPECT_EQ(r.read_int64().value(), -5000000000);
    EXPECT_EQ(r.read_double().value(), 2.5);
    qkxdr::Result<qkxdr::Blob> blob = r.read_blob();
    EXPECT_EQ(r.read_type(), qkxdr::Type::Int);
    EXPECT_FALSE(r.valid());
    r = qkxdr::Reader();
    EXPECT_FALSE(r);
    ASSERT_TRUE(blob);
    std::vector<qkxdr::Blob> many(40, *blob);  // copies share the bytes; growth moves them
    many.push_back(std::move(*blob));
    EXPECT_TRUE(blob->empty() && blob->data() == nullptr);
    *blob = many.back();
    const qkxdr::Blob& itself = *blob;
    *blob = itself;
    EXPECT_EQ(blob->data(), many.front().data());
    many.clear();
    EXPECT_EQ(blob->to_vector(), (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(blob->data() + 4 == bytes.data() + bytes.size(), binary);  // 3 in 2 bytes follows
    *blob = qkxdr::Blob();
    EXPECT_TRUE(blob->empty() && blob->to_vector().empty());
  }
}

// Each read's Error on binary inputs: the code and the detail. A string cut
// short reads as padded with zero units: refused as truncated, never padded.
TEST(CppReader, ReadErrors) {
  using Read = std::function<qkxdr::Error(qkxdr::Reader&)>;
  const auto error = [](auto result) { return result.error(); };
  const Read kInt = [&](auto& r) { return error(r.read_int()); };
  const Read kInt64 = [&](auto& r) { return error(r.read_int64()); };
  const Read kDouble = [&](auto& r) { return error(r.read_double()); };
  const Read kU16 = [&](auto& r) { return error(r.read_u16string()); };
  const Read kUtf8 = [&](auto& r) { return error(r.read_string()); };
  const Read kLatin1 = [&](auto& r) { return error(r.read_latin1()); };
  const Read kBlob = [&](auto& r) { return error(r.read_blob()); };
  const Read kBytes = [&](auto& r) { return error(r.read_bytes()); };
  const Read kBegin = [&](auto& r) { return error(r.begin_array()); };
  const Read kEnd = [&](auto& r) { return error(r.end_array()); };
  const std::string zero(qkxdr::impl::kZeroUnitDetail);
  const std::tuple<const char*, Read, ErrorCode, std::string> kCases[] = {
      {"A8 81 E1", kInt, ErrorCode::type_mismatch, "expected Int, found String"},
      {"A8 81 E1", kInt64, ErrorCode::type_mismatch, "expected Int, found String"},
      {"D2 81 01", kDouble, ErrorCode::type_mismatch, "expected Double, found Binary"},
      {"54 82", kU16, ErrorCode::type_mismatch, "expected String, found Int"},
      {"00 2A", kUtf8, ErrorCode::type_mismatch, "expected String, found ArrayBegin"},
      {"D2 81 01", kLatin1, ErrorCode::type_mismatch, "expected String, found Binary"},
      {"A8 81 E1", kBlob, ErrorCode::type_mismatch, "expected Binary, found String"},
      {"54 82", kBytes, ErrorCode::type_mismatch, "expected Binary, found Int"},
      {"54 82", kBegin, ErrorCode::type_mismatch, "expected ArrayBegin, found Int"},
      {"00 2A", kEnd, ErrorCode::type_mismatch, "expected ArrayEnd, found ArrayBegin"},
      {"A8 83 E1", kU16, ErrorCode::truncated, "String cut short by the end of the input"},
      {"A8 83 E1", kUtf8, ErrorCode::truncated, "String cut short"},
      {"A8 83 E1", kLatin1, ErrorCode::truncated, "String cut short"},
      {"A8 68 87 E1", kU16, ErrorCode::truncated, "more units than the whole input holds"},
      {"7E 00 00", kDouble, ErrorCode::truncated, "Double cut short by the end of the input"},
      {"D2 85 01", kBytes, ErrorCode::truncated, "Binary cut short"},
      {"A8 82 80 E1", kU16, ErrorCode::unsupported, zero},
      {"A9 81 80 81 E1", kUtf8, ErrorCode::unsupported, zero},
      {"A8 81 2C C1", kLatin1, ErrorCode::out_of_range, "a unit above U+00FF"},
      {"FD", kInt, ErrorCode::malformed, "a value of no known type"},
      {"", kInt, ErrorCode::no_value, "an empty reader"},
      {"54 82", [&](auto& r) { return r.read_type(), error(r.read_int()); }, ErrorCode::no_value,
       "no current value"},
  };
  for (const auto& [hex, read, code, detail] : kCases) {
    SCOPED_TRACE(hex);
    const Bytes bytes = Hex(hex);
    qkxdr::BinaryReader r(bytes);
    const qkxdr::Error e = read(r);
    EXPECT_EQ(e.code(), code) << e.message();
    EXPECT_NE(e.detail().find(detail), std::string::npos) << e.detail();
    EXPECT_TRUE(e.offset() == qkxdr::Error::kNoOffset && e.path().empty());
  }
}

// Any UTF-16 units, as UTF-8, come back as the same UTF-8 in both encodings;
// Latin1 keeps its bytes.
TEST(CppReader, StringsRoundTrip) {
  std::mt19937 random(7);
  std::vector<std::u16string> strings = {u"Z\u00fcrich \u2603", u"\U0001D11E", u"\xD800x\xDC00"};
  for (int i = 0; i < 200; ++i) {
    std::u16string s(random() % 6, u'x');
    for (char16_t& unit : s) unit = static_cast<char16_t>(1 + random() % 0xFFFF);
    strings.push_back(s);
  }
  for (const bool binary : {false, true}) {
    for (const std::u16string& units : strings) {
      qkxdr::Writer w = binary ? qkxdr::Writer(qkxdr::BinaryWriter()) : qkxdr::TextWriter();
      std::string utf8;
      qkxdr::impl::Utf16ToUtf8(units, &utf8);
      ASSERT_TRUE(w.write(utf8) && w.write(Latin1{"\xE9\x01\xFF"}));
      const Bytes bytes = w.bytes();
      std::u16string text(bytes.size() / 2, u'\0');
      std::memcpy(text.data(), bytes.data(), text.size() * 2);
      qkxdr::Reader r =
          binary ? qkxdr::Reader(qkxdr::BinaryReader(bytes)) : qkxdr::TextReader(text);
      if (units.size() > 1 && units[0] == u'0' && (units[1] | 0x20) == u'x') continue;  // a blob
      EXPECT_EQ(r.read_string().value(), utf8);
      EXPECT_EQ(r.read_latin1().value(), Latin1{"\xE9\x01\xFF"});
    }
  }
}

// Empty and moved-from readers read nothing; factories and Blob::view refuse.
TEST(CppReader, EmptyAndRefused) {
  std::vector<qkxdr::Reader> empty(2);
  empty[1] = qkxdr::TextReader(u"7");
  EXPECT_EQ(qkxdr::Reader(std::move(empty[1])).read_int().value(), 7);
  const Bytes none;
  empty.push_back(qkxdr::BinaryReader(none));
  empty.push_back(qkxdr::BinaryReader(nullptr, 4));
#if SIZE_MAX > UINT32_MAX
  empty.push_back(qkxdr::BinaryReader("\x54\x82", k4G + 2));  // not cut to 2 bytes
#endif
  for (qkxdr::Reader& r : empty) {
    EXPECT_FALSE(r || r.valid() || r.begin_array() || r.end_array());
    EXPECT_EQ(r.peek_type(), qkxdr::Type::None);
    EXPECT_EQ(r.read_type(), qkxdr::Type::None);
    EXPECT_EQ(r.read_bytes().error().code(), ErrorCode::no_value);
    r.skip();
  }
  const uint8_t bytes[] = {1};
  EXPECT_EQ(qkxdr::Blob::view(bytes, 0).data(), bytes);
  EXPECT_EQ(qkxdr::Blob::view(nullptr, 3).data(), nullptr);
#if SIZE_MAX > UINT32_MAX
  EXPECT_EQ(qkxdr::Blob::view(bytes, k4G).data(), nullptr);
#endif
}

// Handlers go on after void, stop on false; what they throw reaches the
// caller; a string holding U+0000 stops the parse with an Error.
TEST(CppParse, HandlersAndTheirAnswers) {
  Log log;
  const auto events = qkxdr::TextEvents{
      [&](double v) { log.push_back("d" + std::to_string(v)); },
      [&](int32_t v) { return log.push_back("i" + std::to_string(v)), v != 3; },
      [&](std::u16string_view s) {
        s == u"boom" ? throw std::runtime_error("boom")
                     : log.push_back("s" + std::to_string(s.size()));
      },
      [&] { log.push_back("["); },
      [&] { return log.push_back("]"), true; },
  };
  EXPECT_TRUE(qkxdr::parse_text(u"[1,'ab',[2.5]] 3 4", events));
  EXPECT_EQ(log, (Log{"[", "i1", "s2", "[", "d2.500000", "]", "]", "i3"}));
  log.clear();
  EXPECT_THROW(static_cast<void>(qkxdr::parse_text(u"1 'boom' 2", events)), std::runtime_error);
  EXPECT_EQ(log, Log{"i1"});
  const qkxdr::Result<void> zero = qkxdr::parse_text(u"1 'a\\u0000' 2", events);
  EXPECT_EQ(zero.error().detail(), qkxdr::impl::kZeroUnitDetail);
  EXPECT_EQ(log, (Log{"i1", "i1"}));
}

}  // namespace
