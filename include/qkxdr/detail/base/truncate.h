// Conversion of doubles to integers by truncation toward zero, with one
// defined result for everything that has no integer of the target width.

#ifndef QKXDR_DETAIL_BASE_TRUNCATE_H_
#define QKXDR_DETAIL_BASE_TRUNCATE_H_

#include <cmath>
#include <cstdint>
#include <limits>

namespace qkxdr::impl {

// The double truncated toward zero; the smallest Int for NaN, the infinities
// and values whose truncation lies outside Int's range. The range
// [-2^(bits-1), 2^(bits-1)) has exact doubles as bounds and is tested on the
// truncated double (false for NaN), so the cast never leaves its defined range.
template <typename Int>
inline Int TruncateToInteger(double d) {
  constexpr Int kMin = (std::numeric_limits<Int>::min)();
  constexpr double kLow = static_cast<double>(kMin);
  const double t = std::trunc(d);
  return t >= kLow && t < -kLow ? static_cast<Int>(t) : kMin;
}

inline int32_t TruncateToInt32(double d) { return TruncateToInteger<int32_t>(d); }
inline int64_t TruncateToInt64(double d) { return TruncateToInteger<int64_t>(d); }

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_TRUNCATE_H_
