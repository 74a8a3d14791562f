// The text readers of both generations, through the exported factories:
// type codes, conversions at their limits, strings, blobs, Skip, objects,
// and reading malformed, random and truncated text without overreading.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "sbuf/binary.h"
#include "test_allocator.h"
#include "text_test_util.h"

namespace {

// A reader over a copy of the text in a heap block of exactly its size, so
// that AddressSanitizer catches any read beyond the end. Released on scope
// exit.
template <typename Stream>
class Reader {
 public:
  explicit Reader(const std::u16string& text) : text_(ExactCopy(text)) {
    const auto length = static_cast<uint32_t>(text.size());
    if constexpr (std::is_same_v<Stream, QkXDRIStream>) {
      stream_ = QkXDRCreateTextIStream(text_.get(), length);
    } else {
      stream_ = QkXDRCreateTextIStream2(text_.get(), length);
    }
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() { stream_->Release(); }

  Stream* operator->() { return stream_; }

 private:
  std::unique_ptr<char16_t[]> text_;
  Stream* stream_ = nullptr;
};

using Reader1 = Reader<QkXDRIStream>;
using Reader2 = Reader<QkXDRIStream2>;

std::vector<uint8_t> BlobBytes(const QkXDRBinary* slot) {
  const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(slot));
  return std::vector<uint8_t>(data, data + QkXDRBinarySize(slot));
}

TEST(TextReader, EmptyTextHasNoCurrentValue) {
  for (const std::u16string text : {u"", u"  ", u" , "}) {
    Reader1 first(text);
    EXPECT_FALSE(first->IsValid());
    EXPECT_EQ(first->PeekType(), QkXDRType::None);
    EXPECT_EQ(first->ReadType(), QkXDRType::None);
    EXPECT_EQ(first->PeekType(), QkXDRType::None);
    Reader2 second(text);
    EXPECT_FALSE(second->IsValid());
    EXPECT_EQ(second->PeekType(), QkXDRType2::None);
    EXPECT_EQ(second->ReadType(), QkXDRType2::None);
    int32_t v = 99;
    EXPECT_FALSE(second->ReadInt(&v));
    EXPECT_FALSE(second->ReadBeginArray());
    EXPECT_FALSE(second->ReadEndArray());
    second->Skip();
    EXPECT_EQ(v, 99);
  }
  QkXDRIStream* null_text = QkXDRCreateTextIStream(nullptr, 0);
  ASSERT_NE(null_text, nullptr);
  EXPECT_FALSE(null_text->IsValid());
  null_text->Release();
}

TEST(TextReader, ArrayOfIntAndString) {
  Reader1 reader(u"[7,'ab']");
  EXPECT_EQ(reader->PeekType(), QkXDRType::ArrayBegin);
  EXPECT_TRUE(reader->ReadBeginArray());
  int32_t v = 0;
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 7);
  TestAllocator allocator;
  EXPECT_EQ(reader->PeekType(), QkXDRType::String);
  EXPECT_TRUE(reader->ReadString(&allocator));
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{2});
  EXPECT_EQ(allocator.Last<char16_t>(3), (std::vector<char16_t>{u'a', u'b', 0xCCCC}))
      << "no terminator is written";
  EXPECT_EQ(reader->PeekType(), QkXDRType::ArrayEnd);
  EXPECT_TRUE(reader->ReadEndArray());
  EXPECT_FALSE(reader->IsValid());
}

// The type codes of every kind of token, in both generations.
TEST(TextReader, TypeCodes) {
  struct Row {
    std::u16string text;
    QkXDRType first;
    QkXDRType2 second;
  };
  const Row rows[] = {
      {u"[", QkXDRType::ArrayBegin, QkXDRType2::ArrayBegin},
      {u"]", QkXDRType::ArrayEnd, QkXDRType2::ArrayEnd},
      {u"12", QkXDRType::Int, QkXDRType2::Int},
      {u"1.", QkXDRType::Double, QkXDRType2::Double},
      {u"1e", QkXDRType::Double, QkXDRType2::Double},
      {u"'x'", QkXDRType::String, QkXDRType2::String},
      {u"'0XDEAD'", QkXDRType::String, QkXDRType2::Binary},
      {u"'0x'", QkXDRType::String, QkXDRType2::Binary},
      {u"'\\u0030x1'", QkXDRType::String, QkXDRType2::Binary},  // decoded text counts
      {u"'0'", QkXDRType::String, QkXDRType2::String},
      {u"'x0'", QkXDRType::String, QkXDRType2::String},
      {u"'0y12'", QkXDRType::String, QkXDRType2::String},
      {u"'0\u0178'", QkXDRType::String, QkXDRType2::String},
      {u"0x12", QkXDRType::Int, QkXDRType2::Int},  // a number, then a word
      {u"true", QkXDRType::None, QkXDRType2::None},
      {u"false", QkXDRType::None, QkXDRType2::None},
      {u"null", QkXDRType::None, QkXDRType2::None},
      {u"abc", QkXDRType::None, QkXDRType2::None},
      {u"{", QkXDRType::None, QkXDRType2::None},
      {u"}", QkXDRType::None, QkXDRType2::None},
      {u":", QkXDRType::None, QkXDRType2::None},
  };
  for (const Row& row : rows) {
    Reader1 first(row.text);
    EXPECT_EQ(first->PeekType(), row.first) << Printable(row.text);
    EXPECT_EQ(first->IsValid(), row.first != QkXDRType::None);
    EXPECT_EQ(first->ReadType(), row.first);
    Reader2 second(row.text);
    EXPECT_EQ(second->PeekType(), row.second) << Printable(row.text);
    EXPECT_EQ(second->IsValid(), row.second != QkXDRType2::None);
    EXPECT_EQ(second->ReadType(), row.second);
  }
}

TEST(TextReader, ValuesEndAtSeparatorsAndGaps) {
  for (const std::u16string text : {u"1 ", u"1,", u"1 ,\t"}) {
    Reader1 reader(text);
    int32_t v = 0;
    EXPECT_TRUE(reader->ReadInt(&v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(reader->IsValid());
    EXPECT_FALSE(reader->ReadInt(&v));
  }
  // A doubled comma or a ":" leaves None current; ReadType moves past it.
  for (const std::u16string text : {u"1,,2", u"1:2", u"1,true,2", u"1 abc 2"}) {
    Reader2 reader(text);
    int32_t v = 0;
    EXPECT_TRUE(reader->ReadInt(&v));
    EXPECT_FALSE(reader->IsValid());
    EXPECT_FALSE(reader->ReadInt(&v));
    EXPECT_EQ(reader->ReadType(), QkXDRType2::None);
    EXPECT_TRUE(reader->ReadInt(&v));
    EXPECT_EQ(v, 2);
  }
}

// Each number read as 32-bit, 64-bit and double; boundaries of the ranges.
TEST(TextReader, NumberConversions) {
  constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
  struct Row {
    std::u16string text;
    int32_t as_int;
    int64_t as_int64;
    double as_double;
  };
  const Row rows[] = {
      {u"7", 7, 7, 7.0},
      {u"-7", -7, -7, -7.0},
      {u"1.5", 1, 1, 1.5},
      {u"-1.5", -1, -1, -1.5},
      {u"-1.9", -1, -1, -1.9},
      {u"-0.0", 0, 0, 0.0},
      {u"3e9", kMin32, 3000000000, 3e9},
      {u"4294967297", 1, 4294967297, 4294967297.0},
      {u"2147483648", kMin32, 2147483648, 2147483648.0},
      {u"-2147483649", 2147483647, -2147483649, -2147483649.0},
      {u"2147483647.9", 2147483647, 2147483647, 2147483647.9},
      {u"2147483648.", kMin32, 2147483648, 2147483648.0},
      {u"-2147483648.9", kMin32, -2147483648, -2147483648.9},
      {u"-2147483649.", kMin32, -2147483649, -2147483649.0},
      {u"9223372036854775807", -1, INT64_MAX, 9223372036854775808.0},
      {u"9223372036854774784.", kMin32, 9223372036854774784, 9223372036854774784.0},
      {u"1e19", kMin32, kMin64, 1e19},
      {u"-1e19", kMin32, kMin64, -1e19},
      {u"1.e+999", kMin32, kMin64, INFINITY},
      {u"-1.e+999", kMin32, kMin64, -INFINITY},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Printable(row.text));
    Reader2 reader(row.text);
    int32_t as_int = 0;
    int64_t as_int64 = 0;
    double as_double = 0;
    // Every width reads every number, and each read consumes it.
    EXPECT_TRUE(reader->ReadInt(&as_int));
    EXPECT_FALSE(reader->IsValid());
    EXPECT_EQ(as_int, row.as_int);
    Reader2 reader64(row.text);
    EXPECT_TRUE(reader64->ReadInt64(&as_int64));
    EXPECT_EQ(as_int64, row.as_int64);
    Reader1 reader_double(row.text);
    EXPECT_TRUE(reader_double->ReadDouble(&as_double));
    EXPECT_EQ(as_double, row.as_double);
  }
  Reader2 nan(u"0.e+999,0.e+999,0.e+999");
  int32_t as_int = 0;
  int64_t as_int64 = 0;
  double as_double = 0;
  EXPECT_TRUE(nan->ReadInt(&as_int));
  EXPECT_TRUE(nan->ReadInt64(&as_int64));
  EXPECT_TRUE(nan->ReadDouble(&as_double));
  EXPECT_EQ(as_int, kMin32);
  EXPECT_EQ(as_int64, kMin64);
  EXPECT_TRUE(std::isnan(as_double));
}

// A read of the wrong kind changes nothing: not the output, not the token.
TEST(TextReader, WrongKindChangesNothing) {
  for (const std::u16string text :
       {u"'abc'", u"'0x12'", u"[", u"]", u"true", u"null", u"abc", u"{"}) {
    Reader2 reader(text);
    const QkXDRType2 type = reader->PeekType();
    int32_t as_int = 5;
    int64_t as_int64 = 5;
    double as_double = 5;
    EXPECT_FALSE(reader->ReadInt(&as_int));
    EXPECT_FALSE(reader->ReadInt64(&as_int64));
    EXPECT_FALSE(reader->ReadDouble(&as_double));
    EXPECT_EQ(as_int, 5);
    EXPECT_EQ(as_int64, 5);
    EXPECT_EQ(as_double, 5.0);
    EXPECT_EQ(reader->PeekType(), type);
  }
  Reader1 reader(u"'abc',4");
  int32_t v = 0;
  EXPECT_FALSE(reader->ReadInt(&v));
  EXPECT_FALSE(reader->ReadBeginArray());
  TestAllocator allocator;
  EXPECT_TRUE(reader->ReadString(&allocator));
  EXPECT_EQ(allocator.Last<char16_t>(3), (std::vector<char16_t>{u'a', u'b', u'c'}));
  EXPECT_FALSE(reader->ReadString(&allocator));
  EXPECT_EQ(allocator.requests.size(), 1u);
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 4);
}

TEST(TextReader, Strings) {
  TestAllocator allocator;
  Reader2 reader(u"'','','\u00e9\u4e2d\\n','a\\u0000b','xy','xy'");
  EXPECT_TRUE(reader->ReadString(&allocator));
  EXPECT_TRUE(allocator.requests.empty()) << "no buffer for an empty string";
  EXPECT_TRUE(reader->ReadStringA(&allocator));
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{0});
  EXPECT_TRUE(reader->ReadStringA(&allocator));
  EXPECT_EQ(allocator.requests.back(), 3u);
  EXPECT_EQ(allocator.Last<uint8_t>(4), (std::vector<uint8_t>{0xE9, 0x2D, 0x0A, 0xCC}));
  EXPECT_TRUE(reader->ReadString(&allocator));
  EXPECT_EQ(allocator.Last<char16_t>(3), (std::vector<char16_t>{u'a', 0, u'b'}));

  // Without a buffer the string is lost, but the read succeeds and moves on.
  TestAllocator refusing(true);
  EXPECT_TRUE(reader->ReadString(&refusing));
  EXPECT_TRUE(reader->ReadStringA(&refusing));
  EXPECT_EQ(refusing.requests, (std::vector<uint32_t>{2, 2}));
  EXPECT_FALSE(reader->IsValid());
}

TEST(TextReader, Blobs) {
  struct Row {
    std::u16string text;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {u"'0XDEAD'", {0xDE, 0xAD}},
      {u"'0x0123456789abcdefABCDEF'",
       {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
      {u"'0xabc'", {0xAB}},  // the last unpaired digit is ignored
      {u"'0xZZ'", {0x00}},
      {u"'0xg1 1'", {0x01, 0x01}},
      {u"'0x\u0141\u0131'", {0xA1}},  // low 7 bits: U+0141 counts as "A", U+0131 as "1"
      {u"'0X\\u0046f'", {0xFF}},
  };
  for (const Row& row : rows) {
    Reader2 reader(row.text);
    QkXDRBinary slot{};
    EXPECT_TRUE(reader->ReadBinary(&slot));
    EXPECT_EQ(BlobBytes(&slot), row.bytes);
    EXPECT_FALSE(reader->IsValid());
    QkXDRBinaryFree(&slot);
  }

  // An empty blob owns a block: size 0 with a real data pointer. Whatever the
  // slot held before is released.
  const uint8_t old_bytes[] = {1, 2, 3};
  QkXDRBinary slot{};
  QkXDRBinaryAttach(&slot, old_bytes, 3);
  Reader2 reader(u"'0x'");
  EXPECT_TRUE(reader->ReadBinary(&slot));
  EXPECT_EQ(QkXDRBinarySize(&slot), 0u);
  EXPECT_NE(QkXDRBinaryData(&slot), nullptr);
  EXPECT_NE(QkXDRBinaryData(&slot), old_bytes);
  EXPECT_EQ(static_cast<const sbuf::deep_binary*>(sbuf::Held(&slot))->references(), 1u);
  QkXDRBinaryFree(&slot);
}

TEST(TextReader, BlobTextOutlivesTheReaderAndIsAlsoAString) {
  QkXDRBinary slot{};
  TestAllocator allocator;
  {
    Reader2 reader(u"'0XDEAD','0XDEAD'");
    EXPECT_TRUE(reader->ReadBinary(&slot));
    EXPECT_EQ(reader->PeekType(), QkXDRType2::Binary);
    EXPECT_TRUE(reader->ReadString(&allocator));
  }
  EXPECT_EQ(BlobBytes(&slot), (std::vector<uint8_t>{0xDE, 0xAD}));
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{6});
  EXPECT_EQ(allocator.Last<char16_t>(6),
            (std::vector<char16_t>{u'0', u'X', u'D', u'E', u'A', u'D'}));
  QkXDRBinaryFree(&slot);

  Reader1 first(u"'0XDEAD'");
  EXPECT_EQ(first->PeekType(), QkXDRType::String);
}

TEST(TextReader, ReadBinaryRefusesOtherValues) {
  const uint8_t bytes[] = {9};
  for (const std::u16string text : {u"'DEAD'", u"'0'", u"12", u"1.5", u"[", u"null", u""}) {
    QkXDRBinary slot{};
    QkXDRBinaryAttach(&slot, bytes, 1);
    Reader2 reader(text);
    const QkXDRType2 type = reader->PeekType();
    EXPECT_FALSE(reader->ReadBinary(&slot));
    EXPECT_EQ(QkXDRBinaryData(&slot), bytes) << "the slot is untouched";
    EXPECT_EQ(reader->PeekType(), type);
    QkXDRBinaryFree(&slot);
  }
}

// What is current after Skip, from each kind of position: the value that is
// then current as an integer, or nothing.
TEST(TextReader, Skip) {
  struct Row {
    std::u16string text;
    int begins;                  // ReadBeginArray calls before Skip
    int ints;                    // then ReadInt calls
    std::vector<int32_t> after;  // the integers read after Skip
    bool valid_after;            // IsValid right after Skip
  };
  const Row rows[] = {
      {u"[1,[2,3],4],5", 1, 0, {5}, true},  // on a value
      {u"[1,[2,3],4],5", 1, 1, {5}, true},  // on a nested "["
      {u"[[1,2],3],4", 2, 1, {3}, true},    // inside the nested array
      {u"[1],2", 1, 1, {2}, true},          // on a "]": that "]" alone
      {u"[1,2],3", 0, 0, {}, false},        // at the top level: all of it
      {u"1,2,3", 0, 1, {}, false},
      {u"[1,true,2],3", 1, 0, {}, false},  // stops at a literal
      {u"[1,{a:1}],2", 1, 0, {}, false},   // and at an object
      {u"[1,,2],3", 1, 0, {}, false},      // and at a gap
      {u"[1,[2,", 1, 0, {}, false},        // unterminated
      {u"", 0, 0, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Printable(row.text));
    Reader1 reader(row.text);
    int32_t v = 0;
    for (int i = 0; i < row.begins; ++i) ASSERT_TRUE(reader->ReadBeginArray());
    for (int i = 0; i < row.ints; ++i) ASSERT_TRUE(reader->ReadInt(&v));
    reader->Skip();
    EXPECT_EQ(reader->IsValid(), row.valid_after);
    std::vector<int32_t> after;
    while (reader->ReadInt(&v)) after.push_back(v);
    EXPECT_EQ(after, row.after);
  }
  // Skip stops at the literal and leaves it current; ReadType passes it.
  Reader2 reader(u"[1,true,2],3");
  ASSERT_TRUE(reader->ReadBeginArray());
  reader->Skip();
  EXPECT_EQ(reader->ReadType(), QkXDRType2::None);
  reader->Skip();
  int32_t v = 0;
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 3);
}

TEST(TextReader, SkipTenThousandLevels) {
  const std::u16string text =
      std::u16string(10000, u'[') + u"1" + std::u16string(10000, u']') + u"]7";
  Reader1 reader(text);
  reader->Skip();  // closes the root at the last "]"
  int32_t v = 0;
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 7);
}

TEST(TextReader, ObjectsReadAsTheirMembers) {
  Reader1 reader(u"{'a':1}");
  EXPECT_EQ(reader->PeekType(), QkXDRType::None);
  EXPECT_EQ(reader->ReadType(), QkXDRType::None);
  int32_t v = 0;
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(reader->PeekType(), QkXDRType::None);  // the "}"
  EXPECT_EQ(reader->ReadType(), QkXDRType::None);
  EXPECT_FALSE(reader->IsValid());

  Reader2 nested(u"{a:[1,'x'],b:{c:2.5}}");
  EXPECT_EQ(nested->ReadType(), QkXDRType2::None);
  EXPECT_TRUE(nested->ReadBeginArray());
  EXPECT_TRUE(nested->ReadInt(&v));
  EXPECT_EQ(nested->ReadType(), QkXDRType2::String);
  EXPECT_TRUE(nested->ReadEndArray());
  EXPECT_EQ(nested->ReadType(), QkXDRType2::None);  // "{" of b
  double d = 0;
  EXPECT_TRUE(nested->ReadDouble(&d));
  EXPECT_EQ(d, 2.5);
}

TEST(TextReader, ClosingTheRootArray) {
  Reader1 reader(u"]1]");
  EXPECT_EQ(reader->PeekType(), QkXDRType::ArrayEnd);
  EXPECT_TRUE(reader->ReadEndArray());
  int32_t v = 0;
  EXPECT_TRUE(reader->ReadInt(&v));
  EXPECT_EQ(v, 1);
  EXPECT_EQ(reader->PeekType(), QkXDRType::None) << "nothing is left to close";
  EXPECT_FALSE(reader->ReadEndArray());
}

// Doubles written with a trailing decimal point read back whole, once each.
TEST(TextReader, WholeDoublesReadOnce) {
  Reader2 reader(u"1.,100.,1.e+010,-0.");
  std::vector<double> values;
  double d = 0;
  while (reader->PeekType() == QkXDRType2::Double && reader->ReadDouble(&d)) values.push_back(d);
  EXPECT_EQ(values, (std::vector<double>{1.0, 100.0, 1e10, 0.0}));
  EXPECT_FALSE(reader->IsValid());
}

// Random text heavy in the format's punctuation, and every cut of a well-formed
// text, read by a fixed mix of operations in exact-size blocks: no overread,
// and no read succeeds more often than there are units to consume.
TEST(TextReader, RandomAndTruncatedText) {
  std::mt19937 random(7);
  std::vector<std::u16string> texts;
  for (int i = 0; i < 400; ++i) texts.push_back(RandomText(random, 30));
  const std::u16string written = u"[1,\"a\\nb\",-2.5,1.e+010\"0XDEAD\",[3,[]],\"\\'\\\\\"],4";
  for (size_t cut = 0; cut <= written.size(); ++cut) texts.push_back(written.substr(0, cut));

  for (const std::u16string& text : texts) {
    Reader2 reader(text);
    TestAllocator allocator;
    QkXDRBinary slot{};
    int32_t i32;
    int64_t i64;
    double d;
    size_t successes = 0;
    for (size_t op = 0; op < 3 * text.size() + 3; ++op) {
      switch (op % 9) {
        case 0:
          successes += reader->ReadInt(&i32);
          break;
        case 1:
          successes += reader->ReadString(&allocator);
          break;
        case 2:
          successes += reader->ReadBinary(&slot);
          break;
        case 3:
          successes += reader->ReadBeginArray();
          break;
        case 4:
          successes += reader->ReadStringA(&allocator);
          break;
        case 5:
          successes += reader->ReadInt64(&i64) + reader->ReadDouble(&d);
          break;
        case 6:
          successes += reader->ReadEndArray();
          break;
        case 7:
          reader->Skip();
          break;
        default:
          successes += reader->ReadType() != QkXDRType2::None;
          break;
      }
    }
    EXPECT_LE(successes, text.size());
    QkXDRBinaryFree(&slot);
  }
}

}  // namespace
