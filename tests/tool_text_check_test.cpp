// The qkxdr tool's check of texts: it finds the first problem where it is,
// through the library's text reader alone.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text_check.h"
#include "tool_random_values.h"

namespace {

using qkxdr::tool::CheckText;
using qkxdr::tool::TextCheck;
using qkxdr::tool::TextFault;

std::u16string RandomText(std::mt19937& random, size_t* values) {
  std::vector<uint8_t> blobs;
  const std::vector<qkxdr::tool::Value> list = RandomValues(random, 30, &blobs);
  *values = list.size();
  const std::string bytes = Written(list, QkXDRCreateTextOStream2());
  std::u16string text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), bytes.size());
  return text;
}

// Where each value starts, and where each string or blob starts and ends:
// strings hold letters only, so "[", "," and quotes are always structure.
struct Places {
  std::vector<size_t> values;
  std::vector<std::pair<size_t, size_t>> strings;
};

Places FindPlaces(const std::u16string& text) {
  Places places;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'[' || text[i] == u',') places.values.push_back(i + 1);
    if (text[i] != u'"') continue;
    const size_t close = text.find(u'"', i + 1);
    places.strings.emplace_back(i, close);
    i = close;
  }
  return places;
}

template <typename T>
const T& Pick(std::mt19937& random, const std::vector<T>& choices) {
  return choices[random() % choices.size()];
}

TEST(TextCheckTest, FindsAWordBetweenValuesAndATextCutInAString) {
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    size_t values;
    std::u16string text = RandomText(random, &values);
    const TextCheck clean = CheckText(&text);
    EXPECT_EQ(clean.fault, TextFault::None);
    EXPECT_EQ(clean.values, values);
    const Places places = FindPlaces(text);

    std::u16string worded = text;
    const size_t at = Pick(random, places.values);
    worded.insert(at, u"oops, ");
    const std::u16string before = worded;
    const TextCheck word = CheckText(&worded);
    EXPECT_EQ(word.fault, TextFault::Unreadable);
    EXPECT_EQ(word.unit, at) << "round " << round;
    EXPECT_EQ(worded, before);  // the scratch space is given back

    const auto [open, close] = Pick(random, places.strings);
    std::u16string cut = text.substr(0, open + 1 + random() % (close - open));
    const TextCheck string = CheckText(&cut);
    EXPECT_EQ(string.fault, TextFault::OpenString);
    EXPECT_EQ(string.unit, open) << "round " << round;
  }
}

TEST(TextCheckTest, NamesEachKindOfProblem) {
  const struct {
    std::u16string text;
    TextFault fault;
    size_t unit;
    uint64_t values;
  } kCases[] = {
      {u"", TextFault::None, 0, 0},
      {u" [1, 'a', 2.5e3] 7 , ", TextFault::None, 0, 6},
      {u"[1, {2}]", TextFault::Unreadable, 4, 2},
      {u"1 ,, 2", TextFault::Unreadable, 3, 1},
      {u"[1]] 2", TextFault::UnbalancedEnd, 3, 3},
      {u"[\"a\\\"b", TextFault::OpenString, 1, 1},
      {u"[[1, 2] ", TextFault::UnclosedArrays, 8, 5},
  };
  for (const auto& c : kCases) {
    std::u16string text = c.text;
    const TextCheck check = CheckText(&text);
    EXPECT_EQ(check.fault, c.fault) << c.unit;
    EXPECT_EQ(check.unit, c.unit) << c.unit;
    EXPECT_EQ(check.values, c.values) << c.unit;
  }
}

}  // namespace
