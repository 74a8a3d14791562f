#include "library/assert.h"

#include <gtest/gtest.h>

#include <string>

namespace qkxdr::impl {
namespace {

std::u16string Format(const std::string& message, int32_t code) {
  char16_t text[kAssertTextUnits];
  FormatAssertText(message.c_str(), code, text);
  return text;
}

TEST(XDRAssert, TextFormat) {
  EXPECT_EQ(Format("ret->imp", 5), u"ret->imp (5)");
  EXPECT_EQ(Format("f <= dc.l", -1), u"f <= dc.l (-1)");
  const std::u16string cut = Format(std::string(2000, 'x'), 7);
  EXPECT_EQ(cut.size(), kAssertTextUnits - 1) << "cut to fit with its terminator";
}

TEST(XDRAssert, TrueConditionDoesNothing) { XDRAssert(true, "never shown"); }

}  // namespace
}  // namespace qkxdr::impl
