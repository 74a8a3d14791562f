// XDRAssert's POSIX layer: the report goes to standard error, then abort().

#include <gtest/gtest.h>

#include <cerrno>

#include "library/assert.h"

namespace qkxdr::impl {
namespace {

TEST(XDRAssertDeathTest, ReportsAndStops) {
  EXPECT_DEATH(
      {
        errno = 5;
        XDRAssert(false, "ret->imp");
      },
      "QkXDR Error: ret->imp \\(5\\)");
}

}  // namespace
}  // namespace qkxdr::impl
