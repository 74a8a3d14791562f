// Parts of the qkxdr tool: its walk of texts, and its conversions between
// UTF-8 and UTF-16.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "test_values.h"
#include "text_walk.h"
#include "utf8.h"

namespace test_values {
namespace {

using namespace qkxdr::tool;

// Walks a text from a file, in UTF-16LE; whether it is well formed, the
// values counted and the messages.
struct Walked {
  bool ok = false;
  uint64_t values = 0;
  std::string messages;
};

Walked WalkText(const std::u16string& text) {
  const std::string path = testing::TempDir() + "walked.txt";
  std::string bytes;
  Utf16ToUtf16Le(text.data(), text.data() + text.size(), &bytes);
  std::ofstream(path, std::ios::binary) << bytes;
  Options options;
  options.input = path;
  options.utf16 = true;
  TextWalk walk(options);
  int status;
  testing::internal::CaptureStderr();
  Walked walked;
  walked.ok = walk.Run([](const TextItem&) { return true; }, false, &status);
  walked.values = walk.values();
  walked.messages = testing::internal::GetCapturedStderr();
  return walked;
}

std::string AtByte(size_t unit, const char* what) {
  return "(byte " + std::to_string(2 * unit) + "): " + what;
}

// A writer's text walks clean, with its values counted; a word put where a
// value starts is refused there; a text cut inside a string leaves the
// string open where it starts.
TEST(TextWalkTest, FindsAWordBetweenValuesAndATextCutInAString) {
  Generator random(3);
  for (int round = 0; round < 100; ++round) {
    const Values values = random.Sequence(30);
    const std::u16string text = TextOf(Encode(QkXDRCreateTextOStream2(), values));
    std::vector<size_t> starts;  // after "[" and ","
    std::vector<std::pair<size_t, size_t>> strings;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'[' || text[i] == u',') starts.push_back(i + 1);
      if (text[i] != u'"') continue;
      const size_t open = i;
      for (++i; text[i] != u'"'; ++i) i += text[i] == u'\\';
      strings.emplace_back(open, i);
    }
    const Walked clean = WalkText(text);
    EXPECT_EQ(std::make_tuple(clean.ok, clean.values, clean.messages),
              std::make_tuple(true, uint64_t{values.size()}, std::string()));

    const size_t at = starts[random.Below(static_cast<uint32_t>(starts.size()))];
    const Walked word = WalkText(text.substr(0, at) + u"oops, " + text.substr(at));
    EXPECT_FALSE(word.ok);
    EXPECT_NE(word.messages.find(AtByte(at, "not a value the reader accepts: \"oops,")),
              std::string::npos)
        << word.messages;
    if (strings.empty()) continue;
    const auto [open, close] = strings[random.Below(static_cast<uint32_t>(strings.size()))];
    const Walked cut =
        WalkText(text.substr(0, open + 1 + random.Below(static_cast<uint32_t>(close - open))));
    EXPECT_NE(cut.messages.find(AtByte(open, "the string that starts here has no closing quote")),
              std::string::npos)
        << cut.messages;
  }
}

// Each invalid UTF-8 sequence becomes one U+FFFD, and each unpaired surrogate
// on the way back; a count of units maps back to the bytes that made them.
TEST(Utf8Test, InvalidSequencesBecomeReplacements) {
  const std::u16string R(1, kReplacementChar);
  const struct {
    std::string bytes;
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
    std::u16string units;
    const auto* p = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(Utf8ToUtf16(p, p + c.bytes.size(), &units), c.replaced) << c.bytes;
    EXPECT_EQ(units, c.units) << c.bytes;
  }
  const std::u16string units = u"\xD800x\xDC00\xD83D\xDE00\xD83D";
  std::string bytes;
  EXPECT_EQ(Utf16ToUtf8(units.data(), units.data() + units.size(), &bytes), 3u);
  EXPECT_EQ(bytes, "\xEF\xBF\xBDx\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD");

  const std::string text = "a\xF0\x9F\x98\x80\xFF\xC3\xA9";  // a, a pair, a replacement, e-acute
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t kBytes[] = {0, 1, 1, 5, 6, 8, 8};  // a pair is never split
  for (size_t n = 0; n < 7; ++n) {
    EXPECT_EQ(Utf8BytesForUnits(p, p + text.size(), n), kBytes[n]) << n;
  }
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
  std::u16string units;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_EQ(Utf8ToUtf16(p, p + bytes.size(), &units), 0u);
  std::u32string back;
  for (const char16_t* u = units.data(); u < units.data() + units.size();) {
    uint32_t cp;
    u = NextCodePoint(u, units.data() + units.size(), &cp);
    back.push_back(cp);
  }
  EXPECT_EQ(back, points);
  std::string again;
  EXPECT_EQ(Utf16ToUtf8(units.data(), units.data() + units.size(), &again), 0u);
  EXPECT_EQ(again, bytes);
}

}  // namespace
}  // namespace test_values
