// Decimal text of 32- and 64-bit integers, two digits at a time.

#ifndef QKXDR_SRC_TEXT_INT_FORMAT_H_
#define QKXDR_SRC_TEXT_INT_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace qkxdr::impl {

// Longest text FormatInt64 writes: "-9223372036854775808".
constexpr uint32_t kMaxIntText = 20;

// "00", "01", ..., "99".
inline constexpr char kDigitPairs[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Number of decimal digits of v (1 for zero).
inline uint32_t DecimalLength(uint64_t v) {
  uint32_t n = 1;
  for (uint64_t limit = 10; n < 20 && v >= limit; limit *= 10) ++n;
  return n;
}

// Writes the two digits of n < 100 at p.
inline void PutDigitPair(char16_t* p, unsigned n) {
  const char* pair = kDigitPairs + 2 * size_t{n};
  p[0] = static_cast<char16_t>(pair[0]);
  p[1] = static_cast<char16_t>(pair[1]);
}

// Writes the digits of v, no leading zeros, at dst; returns the end. U is an
// unsigned type: 32-bit values use 32-bit division.
template <typename U>
inline char16_t* PutDecimal(char16_t* dst, U v) {
  char16_t* const end = dst + DecimalLength(v);
  char16_t* p = end;
  while (v >= 100) {
    p -= 2;
    PutDigitPair(p, static_cast<unsigned>(v % 100));
    v /= 100;
  }
  if (v >= 10) {
    PutDigitPair(p - 2, static_cast<unsigned>(v));
  } else {
    p[-1] = static_cast<char16_t>(u'0' + v);
  }
  return end;
}

// Writes v in decimal, "-" first when negative, at dst (room for kMaxIntText
// units); returns the end.
inline char16_t* FormatInt32(int32_t v, char16_t* dst) {
  const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  if (v < 0) *dst++ = u'-';
  return PutDecimal(dst, magnitude);
}

inline char16_t* FormatInt64(int64_t v, char16_t* dst) {
  // cppcheck-suppress redundantAssignment ; false positive: one assignment
  const uint64_t magnitude =
      v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  if (v < 0) *dst++ = u'-';
  return PutDecimal(dst, magnitude);
}

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_INT_FORMAT_H_
