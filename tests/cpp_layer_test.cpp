// The C++ layer: the value each write makes of each C++ type, reads in both
// encodings, ownership of streams and blobs, parse_text's handlers.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "QkXDR.hpp"

namespace {

using Log = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

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
    {"view with zero", [&](auto& w) { return w.write(std::u16string_view(zero_inside, 5)); },
     u"\"ab\""},
    {"null", [](auto& w) { return w.write(static_cast<const char16_t*>(nullptr)); }, u""},
    {"8-bit view", [](auto& w) { return w.write(std::string_view("xyz", 2)); }, u"\"xy\""},
    {"8-bit string", [](auto& w) { return w.write(std::string("\xE9")); }, u"\"\uffe9\""},
    {"8-bit null", [](auto& w) { return w.write(static_cast<const char*>(nullptr)); }, u""},
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

// Reads give the current value as the type asked for, or std::nullopt and
// stay where they were; blobs outlive their reader. A moved-from owner is
// empty; assigning one releases what the target had.
TEST(CppReader, ReadsAndTheirFailures) {
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
    EXPECT_EQ(r.peek_type(), qkxdr::Type::ArrayBegin);
    EXPECT_EQ(r.read_int(), std::nullopt);
    EXPECT_FALSE(r.end_array());
    EXPECT_TRUE(r.begin_array());
    EXPECT_EQ(r.read_u16string(), std::nullopt);
    EXPECT_EQ(r.read_int(), 7);
    r.skip();  // the rest of the array, its end included
    EXPECT_EQ(r.read_bytes(), std::nullopt);
    EXPECT_EQ(r.read_u16string(), u"a\u4e2d");
    EXPECT_EQ(r.read_int64(), -5000000000);
    EXPECT_EQ(r.read_double(), 2.5);
    std::optional<qkxdr::Blob> blob = r.read_blob();
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
  // A string cut short is padded; one longer than the input is refused.
  const uint8_t cut[] = {0xA8, 0x83, 0xE1};
  EXPECT_EQ(qkxdr::BinaryReader(cut, sizeof cut).read_u16string(), std::u16string(u"a\0\0", 3));
  EXPECT_EQ(qkxdr::BinaryReader(cut, sizeof cut).read_string(), std::string("a\0\0", 3));
  const uint8_t too_long[] = {0xA8, 0x68, 0x87, 0xE1};
  qkxdr::BinaryReader reader(too_long, sizeof too_long);
  EXPECT_EQ(reader.read_u16string(), std::nullopt);
  EXPECT_FALSE(reader.valid());
  EXPECT_EQ(qkxdr::BinaryReader(too_long, sizeof too_long).read_string(), std::nullopt);
}

// Empty and moved-from readers read nothing; factories and Blob::view refuse.
TEST(CppReader, EmptyAndRefused) {
  std::vector<qkxdr::Reader> empty(2);
  empty[1] = qkxdr::TextReader(u"7");
  EXPECT_EQ(qkxdr::Reader(std::move(empty[1])).read_int(), 7);
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
    EXPECT_FALSE(r.read_int() || r.read_int64() || r.read_double() || r.read_u16string() ||
                 r.read_string() || r.read_bytes());
    r.skip();
  }
  const uint8_t bytes[] = {1};
  EXPECT_EQ(qkxdr::Blob::view(bytes, 0).data(), bytes);
  EXPECT_EQ(qkxdr::Blob::view(nullptr, 3).data(), nullptr);
#if SIZE_MAX > UINT32_MAX
  EXPECT_EQ(qkxdr::Blob::view(bytes, k4G).data(), nullptr);
#endif
}

// Handlers go on after void, stop on false; what they throw reaches the caller.
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
  EXPECT_THROW(qkxdr::parse_text(u"1 'boom' 2", events), std::runtime_error);
  EXPECT_EQ(log, Log{"i1"});
}

}  // namespace
