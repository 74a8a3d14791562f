// QkXDRTextParse: which handler calls each text gives, where the parse
// stops, and that it neither reports endlessly nor reads past the end.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "text_test_util.h"

namespace {

// Records every call as a short string ("[", "]", "i:1", "r:2.5", "s:a<000A>")
// and answers true until the call numbered stop_at (counted from 0).
class RecordingHandler final : public QkXDRTextHandler {
 public:
  explicit RecordingHandler(size_t stop_at = SIZE_MAX) : stop_at_(stop_at) {}

  bool OnDouble(double v) override { return Record("r:" + DoubleText(v)); }
  bool OnInt(int32_t v) override { return Record("i:" + std::to_string(v)); }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    EXPECT_EQ(*end, u'\0') << "a zero unit follows the string";
    return Record("s:" + Printable(begin, end));
  }
  bool OnBeginArray() override { return Record("["); }
  bool OnEndArray() override { return Record("]"); }

  std::vector<std::string> calls;

 private:
  bool Record(const std::string& call) {
    calls.push_back(call);
    return calls.size() != stop_at_ + 1;
  }

  size_t stop_at_;
};

// The calls for the text, parsed from a heap block of exactly its size.
std::vector<std::string> Parse(const std::u16string& text, size_t stop_at = SIZE_MAX) {
  const auto copy = ExactCopy(text);
  RecordingHandler handler(stop_at);
  QkXDRTextParse(&handler, copy.get(), static_cast<uint32_t>(text.size()));
  return handler.calls;
}

TEST(TextParse, ReportsEachValueAndStopsWhereItMust) {
  struct Row {
    std::u16string text;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {u"", {}},
      {u" \t ", {}},
      {u"[1,'a',2.5]", {"[", "i:1", "s:a", "r:2.5", "]"}},
      {u"1 2 3", {"i:1", "i:2", "i:3"}},
      {u"1 ", {"i:1"}},
      {u"1,", {"i:1"}},
      {u"4294967297,-1", {"i:1", "i:-1"}},
      {u"1,true,2", {"i:1"}},
      {u"1,,2", {"i:1"}},
      {u"1:2", {"i:1"}},
      {u"{'a':1}", {}},
      {u"null", {}},
      {u"abc,1", {}},
      {u"[}]", {"["}},
      {u"[1]]", {"[", "i:1", "]", "]"}},
      {u"'a\\nb'", {"s:a<000A>b"}},
      {u"'a\\u0000b',''", {"s:a<0000>b", "s:"}},
      {u"1.,100.,1.e+010,-1.5e-007",
       {"r:1", "r:100", "r:10000000000", "r:-1.4999999999999999e-07"}},
      {u"'0XDEAD'", {"s:0XDEAD"}},
      {u"[[],[[]]]", {"[", "[", "]", "[", "[", "]", "]", "]"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Parse(row.text), row.calls) << Printable(row.text);
  }
  RecordingHandler handler;
  QkXDRTextParse(&handler, nullptr, 0);
  EXPECT_TRUE(handler.calls.empty());
}

TEST(TextParse, HandlerStopsAtEachCall) {
  const std::u16string text = u"[1,'a',2.5,[]],7";
  const std::vector<std::string> all = Parse(text);
  ASSERT_EQ(all.size(), 8u);
  for (size_t stop_at = 0; stop_at < all.size(); ++stop_at) {
    const std::vector<std::string> calls = Parse(text, stop_at);
    EXPECT_EQ(calls, std::vector<std::string>(all.begin(), all.begin() + stop_at + 1));
  }
}

// A handler that always goes on gets at most one call per unit of text, on
// random text heavy in the format's punctuation and on every cut of it.
TEST(TextParse, RandomAndTruncatedText) {
  std::mt19937 random(99);
  for (int round = 0; round < 600; ++round) {
    const std::u16string text = RandomText(random, 30);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      EXPECT_LE(Parse(text.substr(0, cut)).size(), cut);
    }
  }
}

}  // namespace
