// The text writer through its factories: the written form of every kind of
// value, the comma rule, growth of the buffer and its size limit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <random>
#include <string>

#include "QkXDR.h"
#include "test_values.h"
#include "text/text_streams.h"

namespace test_values {
namespace {

// The text so far; GetData is null exactly when it is empty.
template <typename W>
std::u16string Text(W* w) {
  const auto* data = static_cast<const char16_t*>(w->GetData());
  EXPECT_EQ(data == nullptr, w->GetSize() == 0);
  EXPECT_EQ(w->GetSize() % 2, 0u);
  return data == nullptr ? u"" : std::u16string(data, w->GetSize() / 2);
}

// The text of a new writer after the values; releases it.
template <typename W>
std::u16string Written(W* w, const Values& values) {
  for (const Value& v : values) Write(w, v);
  const std::u16string text = Text(w);
  w->Release();
  return text;
}

// The text of each sequence, from both generations where the first has all
// its writes.
TEST(TextWriter, WrittenForms) {
  // Controls, DEL, Latin-1, a surrogate pair, U+FFFF and "/" need no escape.
  const std::u16string kPlain = {0x0001, 0x0009, 0x007F, 0x00E9, 0xD83D, 0xDE00, 0xFFFF, u'/'};
  const struct {
    Values values;
    std::u16string text;
  } cases[] = {
      {{}, u""},
      {{I32(1), I32(-2)}, u"1,-2"},
      {{kBegin, kEnd}, u"[]"},
      {{kBegin, I32(1), kEnd, I32(2)}, u"[1],2"},
      {{kBegin, kBegin, kEnd, I32(3), kEnd}, u"[[],3]"},
      {{I32(1), kBegin, I32(2), I32(3), kEnd, kEnd}, u"1,[2,3]]"},
      {{kEnd, kEnd, I32(1), kBegin, kBegin}, u"]],1,[["},
      {{Str(u"\"'\\\n\r\t")}, u"\"\\\"\\'\\\\\\n\\r\t\""},
      {{Str(u"")}, u"\"\""},
      {{Str(std::u16string(u"ab\0cd", 5))}, u"\"ab\""},  // stops at a zero unit
      {{Str(kPlain)}, u"\"" + kPlain + u"\""},
      {{I32(INT32_MIN), I32(INT32_MAX), I32(0), I32(-1), I32(10), I32(99), I32(100)},
       u"-2147483648,2147483647,0,-1,10,99,100"},
      {{I64(INT64_MIN), I64(INT64_MAX), I64(0), I64(-10), I64(1000000000000000000)},
       u"-9223372036854775808,9223372036854775807,0,-10,1000000000000000000"},
      {{Dbl(2.5), Dbl(-0.25), Dbl(3.14159265358979), Dbl(0.1), Dbl(1.0), Dbl(100.0), Dbl(0.0)},
       u"2.5,-0.25,3.141592654,0.1,1.,100.,0."},
      {{Dbl(1e10), Dbl(0.05), Dbl(1.5e-7), Dbl(0.5), Dbl(1e100), Dbl(-0.0), Dbl(1e9)},
       u"1.e+010,5.e-002,1.5e-007,0.5,1.e+100,-0.,1000000000"},
      {{Dbl(INFINITY), Dbl(-INFINITY), Dbl(NAN)}, u"1.e+999,-1.e+999,0.e+999"},
      // A blob has no comma in front and leaves the comma rule as it was.
      {{I32(1), Blob({0x01, 0xAB}), I32(2)}, u"1\"0X01AB\",2"},
      {{kBegin, Blob({}), I32(2)}, u"[\"0X\"2"},
      {{Blob({0x00, 0xFF, 0x10, 0x9C})}, u"\"0X00FF109C\""},
      {{Blob({1}), Blob({2}), I32(3)}, u"\"0X01\"\"0X02\"3"},
      {{I32(1), Blob({0x7F}), kBegin, kEnd}, u"1\"0X7F\",[]"},
      {{kBegin, kEnd, Blob({1}), I32(2)}, u"[]\"0X01\",2"},
      // 8-bit strings are widened by sign extension.
      {{StrA("\xE9")}, u"\"\uFFE9\""},
      {{StrA("a\"'\\\n\r\x7F\x80\xFF")}, u"\"a\\\"\\'\\\\\\n\\r\u007F\uFF80\uFFFF\""},
      {{Str(u"a"), Dbl(0.5), I64(7), kBegin, StrA("b"), kEnd, Dbl(-0.0)},
       u"\"a\",0.5,7,[\"b\"],-0."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Written(QkXDRCreateTextOStream2(), c.values), c.text) << Printable(c.text);
    bool first_generation = true;
    for (const Value& v : c.values) first_generation = first_generation && FirstGeneration(v.kind);
    if (first_generation) {
      EXPECT_EQ(Written(QkXDRCreateTextOStream(), c.values), c.text) << Printable(c.text);
    }
  }
}

// Null strings write "", a null slot or a view on null data "0X".
TEST(TextWriter, NullPointersWriteEmptyValues) {
  QkXDROStream2* w = QkXDRCreateTextOStream2();
  QkXDRBinary no_data{};
  QkXDRBinaryAttach(&no_data, nullptr, 10);
  w->WriteInt(1);
  w->WriteString(nullptr);
  w->WriteStringA(nullptr);
  w->WriteBinary(nullptr);
  w->WriteBinary(&no_data);
  w->WriteInt(2);
  EXPECT_EQ(Text(w), u"1,\"\",\"\"\"0X\"\"0X\",2");
  w->Release();
}

using Writer = qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream2>;

Writer* NewWriter() { return static_cast<Writer*>(QkXDRCreateTextOStream2()); }

// A string on a new writer, where its worst case may not fit, gives the
// same units as after a long text, where it does: 256 units fit the inner
// room even when every unit could have been escaped; growth is to one and a
// half times the size then needed (257 units: 385).
TEST(TextWriter, StringsAreTheSameWhateverTheRoom) {
  const char16_t alphabet[] = u"ab\"'\\\n\r\t\u00E9\uFFFF";
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::u16string s(round < 2 ? 254 + round : random() % 600, u'x');
    for (char16_t& unit : s)
      unit = round < 2 ? unit : alphabet[random() % (std::size(alphabet) - 1)];
    Writer* fresh = NewWriter();
    fresh->WriteString(s.c_str());
    const std::u16string alone = Text(fresh);
    EXPECT_EQ(fresh->imp.buffer().capacity(), alone.size() > 256 ? alone.size() * 3 / 2 : 256);
    fresh->Release();
    Writer* roomy = NewWriter();
    roomy->WriteString(std::u16string(3000, u'z').c_str());
    const std::u16string before = Text(roomy);
    roomy->WriteString(s.c_str());
    EXPECT_EQ(Text(roomy), before + u"," + alone);
    EXPECT_EQ(roomy->imp.buffer().capacity(), 4503u) << "no growth needed";
    roomy->Release();
  }
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

}  // namespace
}  // namespace test_values
