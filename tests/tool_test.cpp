// Parts of the qkxdr tool: its own walk over the binary encoding, its check
// of texts, and its conversions between UTF-8 and UTF-16.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "test_values.h"
#include "text_walk.h"
#include "utf8.h"
#include "wire_walker.h"

namespace test_values {
namespace {

using namespace qkxdr::tool;
using testing::HasSubstr;  // test_values' Value and Blob come first

// The items of a walk over a block of exactly the bytes' size, so that
// AddressSanitizer sees any read beyond them.
std::vector<WireItem> Walk(const uint8_t* data, size_t size) {
  const std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
  if (size != 0) std::memcpy(exact.get(), data, size);
  std::vector<WireItem> items;
  WireWalker walker(exact.get(), exact.get() + size);
  for (WireItem item; items.size() <= 42 * size + 2 && walker.Next(&item);) {
    EXPECT_TRUE(item.offset <= item.end && item.end <= size);
    EXPECT_TRUE(items.empty() || items.back().offset <= item.offset);
    items.push_back(item);
  }
  EXPECT_LE(items.size(), 42 * size + 2) << "the walk does not end";
  return items;
}

// Whether the item shows the value that was written.
bool Shows(const WireItem& item, const Value& v, const uint8_t* bytes) {
  static const WireKind kKinds[] = {WireKind::ArrayBegin, WireKind::ArrayEnd, WireKind::Int,
                                    WireKind::Int,        WireKind::Double,   WireKind::String,
                                    WireKind::String,     WireKind::Binary};
  std::u16string units;
  if (item.kind == WireKind::String) {
    DecodeUnits(bytes + item.data, bytes + item.end, item.number, &units);
  }
  if (item.kind == WireKind::Binary) units.assign(bytes + item.data, bytes + item.end);
  const bool integer = v.kind == Kind::Int || v.kind == Kind::Int64;
  return item.kind == kKinds[static_cast<int>(v.kind)] && units == v.units &&
         (!integer || UnZigZag(item.number) == v.i) &&
         (v.kind != Kind::Double || std::memcmp(&item.number, &v.d, 8) == 0);
}

// A cut stream ends with at most one value cut short, then at most the
// report of the arrays left open.
TEST(WireWalkerTest, ShowsWhatTheWriterWroteAndAnyCutOfIt) {
  Generator random(5);
  for (int round = 0; round < 40; ++round) {
    const Values values = random.Sequence(50);
    const Bytes bytes = Encode(QkXDRCreateOStream2(), values);
    const std::vector<WireItem> items = Walk(bytes.data(), bytes.size());
    ASSERT_EQ(items.size(), values.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].fault, WireFault::None) << i;
      EXPECT_TRUE(Shows(items[i], values[i], bytes.data())) << "value " << i << " round " << round;
    }
    for (size_t size = 0; size < bytes.size(); size += 1 + random.Below(8)) {
      size_t faults = 0;
      for (const WireItem& item : Walk(bytes.data(), size)) {
        const bool ends =
            item.fault == WireFault::Truncated || item.fault == WireFault::UnclosedArrays;
        EXPECT_TRUE(item.fault == WireFault::None ? faults == 0 : ends) << "cut at " << size;
        faults += item.fault != WireFault::None;
      }
      EXPECT_LE(faults, 2u);
    }
  }
}

// Walks over pieces of random bytes, each going on where the one before
// stopped as the tool reads its input, give the items of one walk.
TEST(WireWalkerTest, RandomBytesStayWithinBoundsAndWalkAlikeInPieces) {
  const auto fields = [](const WireItem& i) {
    return std::make_tuple(i.offset, i.data, i.end, i.tag, i.kind, i.index, i.count, i.depth,
                           i.fault, i.number, i.present);
  };
  std::mt19937 random(17);
  for (int round = 0; round < 2000; ++round) {
    Bytes bytes(random() % 40);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(random() % 4 ? random() : 0xFC + random() % 4);
    std::vector<size_t> cuts(random() % 4);
    for (size_t& cut : cuts) cut = random() % (bytes.size() + 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(bytes.size());
    std::vector<decltype(fields(WireItem()))> whole, pieces;
    for (const WireItem& item : Walk(bytes.data(), bytes.size())) whole.push_back(fields(item));
    WireWalker::Resume at;
    for (size_t k = 0; k < cuts.size(); ++k) {
      const Bytes piece(bytes.begin() + static_cast<std::ptrdiff_t>(at.offset),
                        bytes.begin() + static_cast<std::ptrdiff_t>(cuts[k]));
      WireWalker walker(piece.data(), piece.data() + piece.size(), at, k + 1 == cuts.size());
      for (WireItem item; walker.Next(&item);) pieces.push_back(fields(item));
      at = walker.Stopped();
    }
    EXPECT_EQ(pieces, whole) << round;
  }
}

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
    EXPECT_THAT(word.messages, HasSubstr(AtByte(at, "not a value the reader accepts: \"oops,")))
        << round;
    if (strings.empty()) continue;
    const auto [open, close] = strings[random.Below(static_cast<uint32_t>(strings.size()))];
    const Walked cut =
        WalkText(text.substr(0, open + 1 + random.Below(static_cast<uint32_t>(close - open))));
    EXPECT_THAT(cut.messages,
                HasSubstr(AtByte(open, "the string that starts here has no closing quote")))
        << round;
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
