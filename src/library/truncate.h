// Conversion of doubles to integers by truncation toward zero, with one
// defined result for everything that has no integer of the target width.

#ifndef QKXDR_SRC_LIBRARY_TRUNCATE_H_
#define QKXDR_SRC_LIBRARY_TRUNCATE_H_

#include <cstdint>
#include <limits>

namespace qkxdr::impl {

// The double truncated toward zero; INT32_MIN for NaN, the infinities and
// values whose truncation lies outside the 32-bit range. The range is tested
// on the double (false for NaN), so the cast never leaves its defined range.
inline int32_t TruncateToInt32(double d) {
  if (d > -2147483649.0 && d < 2147483648.0) return static_cast<int32_t>(d);
  return std::numeric_limits<int32_t>::min();
}

// The double truncated toward zero; INT64_MIN for NaN, the infinities and
// values outside the 64-bit range (both bounds are exact doubles: -2^63, 2^63).
inline int64_t TruncateToInt64(double d) {
  if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return static_cast<int64_t>(d);
  return std::numeric_limits<int64_t>::min();
}

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_LIBRARY_TRUNCATE_H_
