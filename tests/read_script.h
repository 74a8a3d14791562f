// Reading sessions as scripts (read_script::Run, see fuzz/reader_script.h),
// with the readers' properties checked as test expectations.

#ifndef QKXDR_TESTS_READ_SCRIPT_H_
#define QKXDR_TESTS_READ_SCRIPT_H_

#include <gtest/gtest.h>

#define READER_CHECK(condition) EXPECT_TRUE(condition) << #condition
#include "../fuzz/reader_script.h"

#endif  // QKXDR_TESTS_READ_SCRIPT_H_
