// XDRAssert's Windows layer, checked in a child process: a vectored exception
// handler copies what reaches the debugger output to standard error, and the
// process must end with the assertion-failure exception.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "library/assert.h"

namespace qkxdr::impl {
namespace {

constexpr DWORD kWideDebugString = 0x4001000A;
constexpr DWORD kNarrowDebugString = 0x40010006;

LONG CALLBACK EchoDebugOutput(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == kWideDebugString) {
    std::fprintf(stderr, "debugger output: %ls\n",
                 reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]));
  } else if (record->ExceptionCode == kNarrowDebugString) {
    std::fprintf(stderr, "debugger output: %s\n",
                 reinterpret_cast<const char*>(record->ExceptionInformation[1]));
  } else if (record->ExceptionCode == STATUS_ASSERTION_FAILURE) {
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), STATUS_ASSERTION_FAILURE);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(XDRAssertDeathTest, ReportsToDebuggerAndRaises) {
  EXPECT_EXIT(
      {
        AddVectoredExceptionHandler(1, EchoDebugOutput);
        SetLastError(5);
        XDRAssert(false, "ret->imp");
      },
      testing::ExitedWithCode(static_cast<int>(STATUS_ASSERTION_FAILURE)),
      "debugger output: ret->imp \\(5\\)");
}

}  // namespace
}  // namespace qkxdr::impl
