// Bit widths and trailing zeros of unsigned integers.

#ifndef QKXDR_DETAIL_BASE_BITS_H_
#define QKXDR_DETAIL_BASE_BITS_H_

#include <cstdint>

namespace qkxdr::impl {

// The number of bits up to the highest set one of x, which must not be 0.
inline uint32_t BitWidth(uint64_t x) {
#if defined(__GNUC__)
  return 64 - static_cast<uint32_t>(__builtin_clzll(x));
#else
  uint32_t width = 0;
  for (; x != 0; x >>= 1) ++width;
  return width;
#endif
}

// The number of zero bits below the lowest set one of x, which must not be 0.
inline uint32_t CountTrailingZeros(uint32_t x) {
#if defined(__GNUC__)
  return static_cast<uint32_t>(__builtin_ctz(x));
#else
  uint32_t n = 0;
  for (; (x & 1) == 0; x >>= 1) ++n;
  return n;
#endif
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_BITS_H_
