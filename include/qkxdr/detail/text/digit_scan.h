// Runs of decimal digits in UTF-16 text, eight units at a time where the
// processor allows: their count and their value, without a branch per digit.

#ifndef QKXDR_DETAIL_TEXT_DIGIT_SCAN_H_
#define QKXDR_DETAIL_TEXT_DIGIT_SCAN_H_

#include <array>
#include <cstdint>

#include "qkxdr/detail/base/compiler.h"

#if defined(QKXDR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace qkxdr::impl {

// Ten to the power k, for k <= 8.
constexpr uint32_t kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

#if defined(QKXDR_SIMD_SSE2)
// The inverse of 5^k modulo 2^64, for k <= 8: x * 10^k shifted right by k
// and multiplied by it gives x back.
constexpr uint64_t InverseOfFivePower(int k) {
  uint64_t a = 1;
  for (int i = 0; i < k; ++i) a *= 5;
  uint64_t x = a;  // correct to 3 bits for odd a; each step doubles that
  for (int i = 0; i < 5; ++i) x *= 2 - a * x;
  return x;
}

constexpr std::array<uint64_t, 9> BuildInversesOfFivePowers() {
  std::array<uint64_t, 9> inverses{};
  for (int k = 0; k <= 8; ++k) inverses[k] = InverseOfFivePower(k);
  return inverses;
}

inline constexpr std::array<uint64_t, 9> kInversesOfFivePowers = BuildInversesOfFivePowers();

// The 8 units at s, less "0" (wrapping).
inline __m128i DigitLanes(const char16_t* s) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  return _mm_sub_epi16(units, _mm_set1_epi16('0'));
}

// The number of leading lanes of DigitLanes that are digits (0 to 8): a
// unit is a digit when, less "0", it is at most 9.
inline uint32_t LeadingDigits(__m128i digits) {
  const __m128i is_digit =
      _mm_cmpeq_epi16(_mm_subs_epu16(digits, _mm_set1_epi16(9)), _mm_setzero_si128());
  const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(is_digit));
  return static_cast<uint32_t>(__builtin_ctz(~mask | 0x10000)) / 2;
}

// The number of leading digits among the 8 units at s (0 to 8), and in
// *value the number they spell.
inline uint32_t EightDigits(const char16_t* s, uint32_t* value) {
  const __m128i digits = DigitLanes(s);
  const uint32_t count = LeadingDigits(digits);
  // Lanes from the count on are cleared; the eight lanes then spell the
  // number followed by 8 - count zeros, which are divided out at the end.
  const __m128i lane = _mm_set_epi16(7, 6, 5, 4, 3, 2, 1, 0);
  const __m128i kept =
      _mm_and_si128(digits, _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<short>(count)), lane));
  const __m128i pairs = _mm_madd_epi16(kept, _mm_set_epi16(1, 10, 1, 10, 1, 10, 1, 10));
  const __m128i fours =
      _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), _mm_set_epi16(1, 100, 1, 100, 1, 100, 1, 100));
  const auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(fours));
  const auto low = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(fours, 4)));
  const uint32_t shift = 8 - count;
  *value =
      static_cast<uint32_t>((uint64_t{high * 10000 + low} >> shift) * kInversesOfFivePowers[shift]);
  return count;
}
#endif

// Reads the decimal digits at cur, up to end, into *accumulator: for each,
// accumulator * 10 + its value, modulo 2^64. Returns the position after them.
inline const char16_t* ReadDigits(const char16_t* cur, const char16_t* end, uint64_t* accumulator) {
  uint64_t a = *accumulator;
#if defined(QKXDR_SIMD_SSE2)
  while (end - cur >= 8) {
    uint32_t value;
    const uint32_t count = EightDigits(cur, &value);
    a = a * kPowersOfTen[count] + value;
    cur += count;
    if (count < 8) {
      *accumulator = a;
      return cur;
    }
  }
#endif
  for (; cur < end; ++cur) {
    const uint32_t digit = static_cast<uint32_t>(*cur) - u'0';
    if (digit > 9) break;
    a = a * 10 + digit;
  }
  *accumulator = a;
  return cur;
}

// Where the decimal digits at cur, up to end, end: ReadDigits without
// their value.
inline const char16_t* SkipDigits(const char16_t* cur, const char16_t* end) {
#if defined(QKXDR_SIMD_SSE2)
  while (end - cur >= 8) {
    const uint32_t count = LeadingDigits(DigitLanes(cur));
    cur += count;
    if (count < 8) return cur;
  }
#endif
  while (cur < end && static_cast<uint32_t>(*cur) - u'0' < 10) ++cur;
  return cur;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_DIGIT_SCAN_H_
