// The text writer through its factories: the written form of every kind of
// value, the comma rule, growth of the buffer and its size limit.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "text/text_ostream.h"

namespace qkxdr::impl {
namespace {

// One write operation, replayed on either generation.
struct Op {
  enum Kind { kString, kStringA, kInt, kInt64, kDouble, kBinary, kBegin, kEnd } kind;
  std::u16string text;  // kString
  std::string bytes;    // kStringA; kBinary: the bytes of a view on them
  int64_t integer;
  double real;
  bool null;       // null string pointer; kBinary: null slot pointer
  bool null_data;  // kBinary: a view on a null pointer with `integer` bytes

  bool Shared() const { return kind != kStringA && kind != kInt64 && kind != kBinary; }
};

Op Str(std::u16string s) { return {Op::kString, std::move(s), "", 0, 0, false, false}; }
Op StrA(std::string s) { return {Op::kStringA, u"", std::move(s), 0, 0, false, false}; }
Op Int(int32_t v) { return {Op::kInt, u"", "", v, 0, false, false}; }
Op Int64(int64_t v) { return {Op::kInt64, u"", "", v, 0, false, false}; }
Op Dbl(double v) { return {Op::kDouble, u"", "", 0, v, false, false}; }
Op Blob(std::string bytes) { return {Op::kBinary, u"", std::move(bytes), 0, 0, false, false}; }
Op BlobWithoutData(uint32_t size) { return {Op::kBinary, u"", "", size, 0, false, true}; }
Op Begin() { return {Op::kBegin, u"", "", 0, 0, false, false}; }
Op End() { return {Op::kEnd, u"", "", 0, 0, false, false}; }
Op Null(Op::Kind kind) { return {kind, u"", "", 0, 0, true, false}; }

template <typename W>
void Play(W* w, const Op& op) {
  constexpr bool kSecond = std::is_same_v<W, QkXDROStream2>;
  switch (op.kind) {
    case Op::kString:
      w->WriteString(op.null ? nullptr : op.text.c_str());
      break;
    case Op::kInt:
      w->WriteInt(static_cast<int32_t>(op.integer));
      break;
    case Op::kDouble:
      w->WriteDouble(op.real);
      break;
    case Op::kBegin:
      w->BeginArray();
      break;
    case Op::kEnd:
      w->EndArray();
      break;
    default:
      if constexpr (kSecond) {
        if (op.kind == Op::kStringA) w->WriteStringA(op.null ? nullptr : op.bytes.c_str());
        if (op.kind == Op::kInt64) w->WriteInt64(op.integer);
        if (op.kind == Op::kBinary && op.null) w->WriteBinary(nullptr);
        if (op.kind == Op::kBinary && !op.null) {
          QkXDRBinary slot{};
          if (op.null_data) {
            QkXDRBinaryAttach(&slot, nullptr, static_cast<uint32_t>(op.integer));
          } else {
            QkXDRBinaryAttach(&slot, op.bytes.data(), static_cast<uint32_t>(op.bytes.size()));
          }
          w->WriteBinary(&slot);
          QkXDRBinaryFree(&slot);
        }
      } else {
        ADD_FAILURE() << "not a first-generation write";
      }
  }
}

// The text so far; checks that GetData is null exactly when it is empty.
template <typename W>
std::u16string Text(W* w) {
  const uint32_t size = w->GetSize();
  EXPECT_EQ(size % 2, 0u);
  EXPECT_EQ(w->GetData() == nullptr, size == 0);
  const char16_t* data = static_cast<const char16_t*>(w->GetData());
  return data == nullptr ? u"" : std::u16string(data, size / 2);
}

template <typename W>
std::u16string Written(W* w, const std::vector<Op>& ops) {
  for (const Op& op : ops) Play(w, op);
  std::u16string text = Text(w);
  w->Release();
  return text;
}

TEST(TextWriter, WrittenForms) {
  const double inf = std::numeric_limits<double>::infinity();
  // Controls, DEL, Latin-1, a surrogate pair, U+FFFF and "/" need no escape.
  const std::u16string kOtherUnits = {0x0001, 0x0009, 0x007F, 0x00E9, 0xD83D, 0xDE00, 0xFFFF, u'/'};
  const struct {
    const char* name;
    std::vector<Op> ops;
    std::u16string text;
  } cases[] = {
      {"new writer", {}, u""},
      {"ints", {Int(1), Int(-2)}, u"1,-2"},
      {"empty array", {Begin(), End()}, u"[]"},
      {"array then value", {Begin(), Int(1), End(), Int(2)}, u"[1],2"},
      {"nested", {Begin(), Begin(), End(), Int(3), End()}, u"[[],3]"},
      {"value then array", {Int(1), Begin(), Int(2), Int(3), End(), End()}, u"1,[2,3]]"},
      {"lone close", {End()}, u"]"},
      {"unbalanced", {End(), End(), Int(1), Begin(), Begin()}, u"]],1,[["},
      {"escapes", {Str(u"\"'\\\n\r\t")}, u"\"\\\"\\'\\\\\\n\\r\t\""},
      {"empty string", {Str(u"")}, u"\"\""},
      {"null string", {Int(1), Null(Op::kString), Int(2)}, u"1,\"\",2"},
      {"stops at zero", {Str(std::u16string(u"ab\0cd", 5))}, u"\"ab\""},
      {"other units unchanged", {Str(kOtherUnits)}, u"\"" + kOtherUnits + u"\""},
      {"int extremes",
       {Int(INT32_MIN), Int(INT32_MAX), Int(0), Int(-1), Int(10), Int(99), Int(100)},
       u"-2147483648,2147483647,0,-1,10,99,100"},
      {"int64 extremes",
       {Int64(INT64_MIN), Int64(INT64_MAX), Int64(0), Int64(-10), Int64(1000000000000000000)},
       u"-9223372036854775808,9223372036854775807,0,-10,1000000000000000000"},
      {"doubles",
       {Dbl(2.5), Dbl(-0.25), Dbl(3.14159265358979), Dbl(0.1), Dbl(1.0), Dbl(100.0), Dbl(0.0)},
       u"2.5,-0.25,3.141592654,0.1,1.,100.,0."},
      {"double exponents",
       {Dbl(1e10), Dbl(0.05), Dbl(1.5e-7), Dbl(0.5), Dbl(1e100), Dbl(-0.0), Dbl(1e9)},
       u"1.e+010,5.e-002,1.5e-007,0.5,1.e+100,-0.,1000000000"},
      {"not finite", {Dbl(inf), Dbl(-inf), Dbl(std::nan(""))}, u"1.e+999,-1.e+999,0.e+999"},
      {"blob without comma", {Int(1), Blob("\x01\xAB"), Int(2)}, u"1\"0X01AB\",2"},
      {"empty blob in array", {Begin(), Blob(""), Int(2)}, u"[\"0X\"2"},
      {"blob digits", {Blob(std::string("\x00\xFF\x10\x9C", 4))}, u"\"0X00FF109C\""},
      {"blobs in a row", {Blob("\x01"), Blob("\x02"), Int(3)}, u"\"0X01\"\"0X02\"3"},
      {"blob before array", {Int(1), Blob("\x7F"), Begin(), End()}, u"1\"0X7F\",[]"},
      {"blob after array", {Begin(), End(), Blob("\x01"), Int(2)}, u"[]\"0X01\",2"},
      {"null blob", {Null(Op::kBinary), Int(1)}, u"\"0X\"1"},
      {"blob without data", {BlobWithoutData(10), Int(1)}, u"\"0X\"1"},
      {"8-bit widened", {StrA("\xE9")}, u"\"\uFFE9\""},
      {"8-bit escapes",
       {StrA("a\"'\\\n\r\x7F\x80\xFF")},
       u"\"a\\\"\\'\\\\\\n\\r\u007F\uFF80\uFFFF\""},
      {"null 8-bit string", {Null(Op::kStringA), StrA("")}, u"\"\",\"\""},
      {"mixed",
       {Str(u"a"), Dbl(0.5), Int64(7), Begin(), StrA("b"), End(), Dbl(-0.0)},
       u"\"a\",0.5,7,[\"b\"],-0."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Written(QkXDRCreateTextOStream2(), c.ops), c.text);
    bool shared = true;
    for (const Op& op : c.ops) shared = shared && op.Shared();
    if (shared) {
      EXPECT_EQ(Written(QkXDRCreateTextOStream(), c.ops), c.text);
    }
  }
}

using Writer = QkXDRTextOStreamImp<QkXDROStream2>;

Writer* NewWriter() { return static_cast<Writer*>(QkXDRCreateTextOStream2()); }

TEST(TextWriter, GrowsWhenTheTextPassesTheRoom) {
  const std::u16string units(255, u'x');
  Writer* w = NewWriter();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->text().capacity(), 256u);
  w->WriteString(units.c_str());
  EXPECT_EQ(w->text().capacity(), 385u);
  EXPECT_TRUE(w->text().on_heap());
  EXPECT_EQ(w->GetSize(), 514u);
  EXPECT_EQ(Text(w), u"\"" + units + u"\"");
  w->Release();

  // 256 units fit the room, even though every unit could have been escaped.
  w = NewWriter();
  w->WriteString(std::u16string(254, u'x').c_str());
  EXPECT_FALSE(w->text().on_heap());
  EXPECT_EQ(w->GetSize(), 512u);
  w->Release();
}

// A string written on a fresh writer, where its worst case may not fit, and
// after a long text, where it does, gives the same units; growth is to one
// and a half times the exact size.
TEST(TextWriter, StringsAreTheSameWhateverTheRoom) {
  const char16_t alphabet[] = u"ab\"'\\\n\r\t\u00E9\uFFFF";
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::u16string s(rng() % 600, u'a');
    for (char16_t& unit : s) unit = alphabet[rng() % (sizeof alphabet / 2 - 1)];

    Writer* fresh = NewWriter();
    fresh->WriteString(s.c_str());
    const std::u16string alone = Text(fresh);
    if (alone.size() > 256) {
      EXPECT_EQ(fresh->text().capacity(), alone.size() * 3 / 2);
    }
    fresh->Release();

    Writer* roomy = NewWriter();
    roomy->WriteString(std::u16string(3000, u'z').c_str());
    const std::u16string before = Text(roomy);
    roomy->WriteString(s.c_str());
    EXPECT_EQ(Text(roomy), before + u"," + alone);
    EXPECT_EQ(roomy->text().capacity(), 4503u) << "no growth needed";
    roomy->Release();
  }
}

// Strings are copied in runs between escapes, several units at a time: an
// escape at any position of strings of every length up to past four runs,
// and plain units on either side of it, come out as escaping unit by unit
// gives.
TEST(TextWriter, EscapesAtEveryPosition) {
  const std::u16string escaped = u"\"'\\\n\r";
  const std::u16string letters = u"\"'\\nr";
  for (size_t length = 1; length <= 41; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      for (size_t e = 0; e < escaped.size(); ++e) {
        // Plain units that differ from the escaped ones by one bit.
        std::u16string s(length, u'#');
        for (size_t i = 0; i < length; ++i) s[i] = static_cast<char16_t>(u'(' + i % 8);
        std::u16string expected = u"\"" + s.substr(0, at);
        if (at < length) {
          s[at] = escaped[e];
          expected += std::u16string{u'\\', letters[e]} + s.substr(at + 1);
        }
        expected += u"\"";
        SCOPED_TRACE(testing::Message() << "length " << length << " escape at " << at);
        EXPECT_EQ(Written(QkXDRCreateTextOStream2(), {Str(s)}), expected);
        if (at == length) break;  // no escape: once is enough
      }
    }
  }
}

// Integers of every length, written in a row, match the standard library's
// decimal form.
TEST(TextWriter, IntegersMatchStandardDecimal) {
  std::mt19937_64 rng(11);
  QkXDROStream2* w = QkXDRCreateTextOStream2();
  std::u16string expected;
  for (int i = 0; i < 20000; ++i) {
    const int shift = static_cast<int>(rng() % 64);
    const bool wide = i % 2 == 0;
    const int64_t v = static_cast<int64_t>(rng()) >> shift;
    const int64_t written = wide ? v : static_cast<int32_t>(v);
    if (wide) {
      w->WriteInt64(written);
    } else {
      w->WriteInt(static_cast<int32_t>(written));
    }
    if (i != 0) expected += u',';
    for (char c : std::to_string(written)) expected += static_cast<char16_t>(c);
  }
  for (uint64_t p = 1; p <= 1000000000000000000; p *= 10) {
    for (const int64_t v :
         {static_cast<int64_t>(p), static_cast<int64_t>(p) - 1, -static_cast<int64_t>(p)}) {
      w->WriteInt64(v);
      expected += u',';
      for (char c : std::to_string(v)) expected += static_cast<char16_t>(c);
    }
  }
  EXPECT_EQ(Text(w), expected);
  w->Release();
}

// A blob too large for the text's limit throws before anything is written;
// sizes whose doubled count wraps in 32 bits are caught too.
TEST(TextWriter, OversizedWriteLeavesTheText) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  QkXDROStream2* w = QkXDRCreateTextOStream2();
  w->WriteInt(1);
  for (const uint32_t size : {0x3FFFFFFEu, 0x7FFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    QkXDRBinary slot{};
    QkXDRBinaryAttach(&slot, bytes, size);
    EXPECT_THROW(w->WriteBinary(&slot), std::bad_alloc) << size;
    QkXDRBinaryFree(&slot);
    EXPECT_EQ(Text(w), u"1");
  }
  w->WriteInt(2);
  EXPECT_EQ(Text(w), u"1,2");
  w->Release();
}

}  // namespace
}  // namespace qkxdr::impl
