// The qkxdr tool's conversions between UTF-8 and UTF-16.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "utf8.h"

namespace {

using namespace qkxdr::tool;

std::u16string ToUtf16(const std::string& bytes, size_t* replaced) {
  std::u16string units;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  *replaced = Utf8ToUtf16(p, p + bytes.size(), &units);
  return units;
}

TEST(Utf8Test, InvalidSequencesBecomeOneReplacementEach) {
  const std::u16string R(1, kReplacementChar);
  const struct {
    const char* bytes;
    std::u16string units;
    size_t replaced;
  } kCases[] = {
      {"a\xC3\xA9\xE2\x82\xAC", u"a\u00E9\u20AC", 0},
      {"\xF0\x9F\x98\x80", u"\U0001F600", 0},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", 0},
      {"\x80z", R + u"z", 1},                      // a continuation byte alone
      {"\xC0\xAF", R + R, 2},                      // overlong: C0 starts nothing
      {"\xE0\x80\xAF", R + R + R, 3},              // overlong three-byte form
      {"\xED\xA0\x80", R + R + R, 3},              // an encoded surrogate
      {"\xF4\x90\x80\x80", R + R + R + R, 4},      // beyond U+10FFFF
      {"\xF5\xFF", R + R, 2},                      // bytes that never start anything
      {"\xE2\x82z\xF0\x9F\x98", R + u"z" + R, 2},  // cut short, in the middle and at the end
  };
  for (const auto& c : kCases) {
    size_t replaced;
    EXPECT_EQ(ToUtf16(c.bytes, &replaced), c.units) << c.bytes;
    EXPECT_EQ(replaced, c.replaced) << c.bytes;
  }
}

TEST(Utf8Test, UnitCountsMapBackToBytes) {
  const std::string text = "a\xF0\x9F\x98\x80\xFF\xC3\xA9";  // a, a pair, a replacement, e-acute
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t kBytes[] = {0, 1, 1, 5, 6, 8, 8};  // a pair is never split
  for (size_t units = 0; units < 7; ++units) {
    EXPECT_EQ(Utf8BytesForUnits(p, p + text.size(), units), kBytes[units]) << units;
  }
}

TEST(Utf8Test, UnpairedSurrogatesBecomeReplacements) {
  const std::u16string units = u"\xD800x\xDC00\xD83D\xDE00\xD83D";
  std::string bytes;
  EXPECT_EQ(Utf16ToUtf8(units.data(), units.data() + units.size(), &bytes), 3u);
  EXPECT_EQ(bytes, "\xEF\xBF\xBDx\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(Utf8Test, EveryCodePointSurvivesBothWays) {
  std::mt19937 random(23);
  std::u32string points;
  std::string bytes;
  for (int i = 0; i < 20000; ++i) {
    uint32_t cp = random() % (i % 2 ? 0x110000 : 0x800);
    if (IsSurrogate(cp)) cp = 0xFFFD;
    points.push_back(cp);
    AppendUtf8(cp, &bytes);
  }
  size_t replaced;
  const std::u16string units = ToUtf16(bytes, &replaced);
  EXPECT_EQ(replaced, 0u);
  std::u32string back;
  for (const char16_t* p = units.data(); p < units.data() + units.size();) {
    uint32_t cp;
    p = NextCodePoint(p, units.data() + units.size(), &cp);
    back.push_back(cp);
  }
  EXPECT_EQ(back, points);
  std::string again;
  EXPECT_EQ(Utf16ToUtf8(units.data(), units.data() + units.size(), &again), 0u);
  EXPECT_EQ(again, bytes);
}

}  // namespace
