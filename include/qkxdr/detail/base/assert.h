// The internal check that reports a broken invariant and stops the process.

#ifndef QKXDR_DETAIL_BASE_ASSERT_H_
#define QKXDR_DETAIL_BASE_ASSERT_H_

#include <cstdint>

namespace qkxdr::impl {

constexpr uint32_t kAssertTextUnits = 1024;
constexpr char kAssertTitle[] = "QkXDR Error";

// When `condition` is false, reports "<message> (<last OS error>)" under the
// title "QkXDR Error" and stops the process. Does nothing otherwise.
void XDRAssert(bool condition, const char* message);

// Writes "<message> (<code>)" into `text`, zero-filled and cut to fit with its
// terminating zero.
void FormatAssertText(const char* message, int32_t code, char16_t (&text)[kAssertTextUnits]);

// Platform layer: reads the calling thread's last OS error code, shows the
// report, hands it to an attached debugger where there is one, and stops.
[[noreturn]] void ReportAssertFailure(const char* message);

}  // namespace qkxdr::impl

// Checks an invariant of inline code that programs outside the library
// compile too. Inside the library (QKXDR_BUILDING) a broken one goes to
// XDRAssert with `message`; elsewhere XDRAssert, which is not exported, is
// out of reach and the check is left out.
#if defined(QKXDR_BUILDING)
#define QKXDR_CHECK(condition, message) ::qkxdr::impl::XDRAssert(condition, message)
#else
#define QKXDR_CHECK(condition, message) static_cast<void>(0)
#endif

#endif  // QKXDR_DETAIL_BASE_ASSERT_H_
