// Windows layer of XDRAssert: a message box, the same text on the debugger
// output, then the assertion-failure exception, which stops an attached
// debugger and otherwise ends the process unless a handler takes it.

#include <windows.h>

#include <cstdlib>

#include "qkxdr/detail/base/assert.h"

namespace qkxdr::impl {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 units");

void ReportAssertFailure(const char* message) {
  const DWORD code = GetLastError();
  char16_t units[kAssertTextUnits];
  FormatAssertText(message, static_cast<int32_t>(code), units);
  wchar_t text[kAssertTextUnits];
  for (uint32_t i = 0; i < kAssertTextUnits; ++i) text[i] = static_cast<wchar_t>(units[i]);
  MessageBoxW(nullptr, text, L"QkXDR Error", MB_OK);
  OutputDebugStringW(text);
  RaiseException(STATUS_ASSERTION_FAILURE, 0, 0, nullptr);
  std::abort();  // a handler resumed execution: there is no way on from here
}

}  // namespace qkxdr::impl
