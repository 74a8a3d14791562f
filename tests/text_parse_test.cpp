// QkXDRTextParse: which handler calls each text gives, and where the parse
// stops.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "QkXDR.h"
#include "test_util.h"
#include "test_values.h"

namespace test_values {
namespace {

// The calls for the text, parsed from a heap block of exactly its size.
Values Parse(const std::u16string& text, size_t stop_at = SIZE_MAX) {
  const auto copy = ExactCopy(text);
  Recorder recorder(stop_at);
  QkXDRTextParse(&recorder, copy.get(), static_cast<uint32_t>(text.size()));
  return recorder.events;
}

// Values and array brackets are reported; a literal, a word, a gap or an
// object ends the parse, and so does a bracket that closes nothing.
TEST(TextParse, ReportsEachValueAndStopsWhereItMust) {
  const struct {
    std::u16string text;
    Values calls;
  } cases[] = {
      {u"", {}},
      {u" \t ", {}},
      {u"[1,'a',2.5]", {kBegin, I32(1), Str(u"a"), Dbl(2.5), kEnd}},
      {u"1 2 3", {I32(1), I32(2), I32(3)}},
      {u"1 ", {I32(1)}},
      {u"1,", {I32(1)}},
      {u"4294967297,-1", {I32(1), I32(-1)}},
      {u"1,true,2", {I32(1)}},
      {u"1,,2", {I32(1)}},
      {u"1:2", {I32(1)}},
      {u"{'a':1}", {}},
      {u"abc,1", {}},
      {u"[}]", {kBegin}},
      {u"[1]]", {kBegin, I32(1), kEnd, kEnd}},
      {u"'a\\nb'", {Str(u"a\nb")}},
      {u"'a\\u0000b',''", {Str(std::u16string(u"a\0b", 3)), Str(u"")}},
      {u"1.,100.,1.e+010,-1.5e-007", {Dbl(1), Dbl(100), Dbl(1e10), Dbl(-1.5e-7)}},
      {u"'0XDEAD'", {Str(u"0XDEAD")}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.text), c.calls) << Printable(c.text);
  Recorder recorder;
  QkXDRTextParse(&recorder, nullptr, 0);
  EXPECT_TRUE(recorder.events.empty());
}

// A handler that answers false at any call ends the parse there.
TEST(TextParse, HandlerStopsAtEachCall) {
  const std::u16string text = u"[1,'a',2.5,[]],7";
  const Values all = Parse(text);
  ASSERT_EQ(all.size(), 8u);
  for (size_t stop_at = 0; stop_at < all.size(); ++stop_at) {
    EXPECT_EQ(Parse(text, stop_at), Values(all.begin(), all.begin() + stop_at + 1));
  }
}

}  // namespace
}  // namespace test_values
