#include "qkxdr/detail/base/assert.h"

#include <cstdio>

namespace qkxdr::impl {

void XDRAssert(bool condition, const char* message) {
  if (!condition) ReportAssertFailure(message);
}

void FormatAssertText(const char* message, int32_t code, char16_t (&text)[kAssertTextUnits]) {
  char narrow[kAssertTextUnits] = {};
  std::snprintf(narrow, sizeof narrow, "%s (%d)", message, static_cast<int>(code));
  for (uint32_t i = 0; i < kAssertTextUnits; ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(narrow[i]));
  }
}

}  // namespace qkxdr::impl
