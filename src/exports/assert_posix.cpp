// POSIX layer of XDRAssert: there is no message box, so the report goes to
// standard error as "QkXDR Error: <text>" and the process aborts, which stops
// an attached debugger at the failure.

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "qkxdr/detail/base/assert.h"

namespace qkxdr::impl {

void ReportAssertFailure(const char* message) {
  const int code = errno;
  char16_t text[kAssertTextUnits];
  FormatAssertText(message, code, text);
  std::fprintf(stderr, "%s: ", kAssertTitle);
  for (const char16_t* unit = text; *unit != 0; ++unit) {
    std::fputc(*unit < 0x80 ? static_cast<int>(*unit) : '?', stderr);
  }
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace qkxdr::impl
