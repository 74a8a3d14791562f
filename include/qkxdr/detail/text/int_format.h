// Decimal text of 32- and 64-bit integers, two digits at a time and without
// a branch on the number of digits or on the sign.

#ifndef QKXDR_DETAIL_TEXT_INT_FORMAT_H_
#define QKXDR_DETAIL_TEXT_INT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qkxdr/detail/base/bits.h"

namespace qkxdr::impl {

// Longest text FormatInt64 writes: "-9223372036854775808".
constexpr uint32_t kMaxIntText = 20;

// Units FormatInt32 and FormatInt64 may store at dst: they write whole
// groups of digits, past the end of the text.
constexpr uint32_t kIntTextRoom = 24;

// "00", "01", ..., "99".
inline constexpr char16_t kDigitPairs[] =
    u"0001020304050607080910111213141516171819"
    u"2021222324252627282930313233343536373839"
    u"4041424344454647484950515253545556575859"
    u"6061626364656667686970717273747576777879"
    u"8081828384858687888990919293949596979899";

constexpr uint32_t kPowersOfTen32[] = {1,      10,      100,      1000,      10000,
                                       100000, 1000000, 10000000, 100000000, 1000000000};

// Number of decimal digits of v (1 for zero): from its bit width, less one
// when v is below the smallest number of the guessed length.
inline uint32_t DecimalLength(uint32_t v) {
  const uint32_t guess = BitWidth(v | 1) * 1233 >> 12;  // floor(width * log10(2))
  return guess + ((v | 1) >= kPowersOfTen32[guess]);
}

// Writes the two digits of n < 100 at p.
inline void PutDigitPair(char16_t* p, uint32_t n) {
  std::memcpy(p, kDigitPairs + 2 * size_t{n}, 2 * sizeof(char16_t));
}

// Writes the 8 digits of v < 10^8, leading zeros included, at p.
inline void PutEightDigits(char16_t* p, uint32_t v) {
  const uint32_t high = v / 10000;
  const uint32_t low = v % 10000;
  PutDigitPair(p, high / 100);
  PutDigitPair(p + 2, high % 100);
  PutDigitPair(p + 4, low / 100);
  PutDigitPair(p + 6, low % 100);
}

// Writes the digits of v, no leading zeros, at dst, which has room for 10
// units; returns the end of the digits. All ten are formed, leading zeros
// included, and the significant ones moved to the front with one fixed-size
// copy.
inline char16_t* PutDecimal(char16_t* dst, uint32_t v) {
  char16_t digits[20] = {};
  PutDigitPair(digits, v / 100000000);
  PutEightDigits(digits + 2, v % 100000000);
  const uint32_t length = DecimalLength(v);
  std::memcpy(dst, digits + 10 - length, 10 * sizeof(char16_t));
  return dst + length;
}

// The same for 64 bits, with room for 26 units: groups of eight digits
// after the leading ones.
inline char16_t* PutDecimal(char16_t* dst, uint64_t v) {
  if (v <= UINT32_MAX) return PutDecimal(dst, static_cast<uint32_t>(v));
  const uint64_t top = v / 100000000;
  const auto last = static_cast<uint32_t>(v % 100000000);
  if (top <= UINT32_MAX) {
    dst = PutDecimal(dst, static_cast<uint32_t>(top));
  } else {
    dst = PutDecimal(dst, static_cast<uint32_t>(top / 100000000));
    PutEightDigits(dst, static_cast<uint32_t>(top % 100000000));
    dst += 8;
  }
  PutEightDigits(dst, last);
  return dst + 8;
}

// Writes v in decimal, "-" first when negative, at dst, which has room for
// kIntTextRoom units; returns the end of the text.
inline char16_t* FormatInt32(int32_t v, char16_t* dst) {
  const uint32_t bits = static_cast<uint32_t>(v);
  const uint32_t sign = bits >> 31;
  *dst = u'-';
  return PutDecimal(dst + sign, (bits ^ (0 - sign)) + sign);
}

inline char16_t* FormatInt64(int64_t v, char16_t* dst) {
  const uint64_t bits = static_cast<uint64_t>(v);
  const uint64_t sign = bits >> 63;
  *dst = u'-';
  return PutDecimal(dst + sign, (bits ^ (0 - sign)) + sign);
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_INT_FORMAT_H_
