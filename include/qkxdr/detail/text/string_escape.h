// Which units of a string the text writer escapes, and copying the runs of
// units between them.

#ifndef QKXDR_DETAIL_TEXT_STRING_ESCAPE_H_
#define QKXDR_DETAIL_TEXT_STRING_ESCAPE_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "qkxdr/detail/base/compiler.h"

#if defined(QKXDR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace qkxdr::impl {

constexpr std::array<char16_t, 0x80> BuildEscapeLetters() {
  std::array<char16_t, 0x80> letters{};
  letters[u'\n'] = u'n';
  letters[u'\r'] = u'r';
  letters[u'"'] = u'"';
  letters[u'\''] = u'\'';
  letters[u'\\'] = u'\\';
  return letters;
}

// The unit written after a backslash for each unit that takes one.
inline constexpr std::array<char16_t, 0x80> kEscapeLetters = BuildEscapeLetters();

// The unit written after a backslash for `unit`, or 0 when it is written as
// it stands. A table rather than a switch: no branch on the unit's value.
inline char16_t EscapeLetter(char16_t unit) { return unit < 0x80 ? kEscapeLetters[unit] : 0; }

// A unit of a string as the text writer takes it: UTF-16 units as they are,
// bytes by sign extension (0x80..0xFF become U+FF80..U+FFFF).
inline char16_t Widen(char16_t unit) { return unit; }
inline char16_t Widen(char byte) { return static_cast<char16_t>(static_cast<signed char>(byte)); }

// Copies s[0..n) to dst, each unit widened, up to the first unit that takes
// an escape; returns the number of units copied (n when none takes one).
template <typename Unit>
size_t CopyPlainUnitsOneByOne(const Unit* s, size_t n, char16_t* dst) {
  for (size_t i = 0; i < n; ++i) {
    const char16_t unit = Widen(s[i]);
    if (EscapeLetter(unit) != 0) return i;
    dst[i] = unit;
  }
  return n;
}

// As CopyPlainUnitsOneByOne for bytes.
inline size_t CopyPlainUnits(const char* s, size_t n, char16_t* dst) {
  return CopyPlainUnitsOneByOne(s, n, dst);
}

#if defined(QKXDR_SIMD_SSE2)
// Copies the eight units at s + at to dst + at; returns the lanes of those
// that take an escape, two mask bits per unit.
inline uint32_t CopyEightUnits(const char16_t* s, size_t at, char16_t* dst) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + at), units);
  const __m128i hits =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('\n')),
                                _mm_cmpeq_epi16(units, _mm_set1_epi16('\r'))),
                   _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('"')),
                                             _mm_cmpeq_epi16(units, _mm_set1_epi16('\''))),
                                _mm_cmpeq_epi16(units, _mm_set1_epi16('\\'))));
  return static_cast<uint32_t>(_mm_movemask_epi8(hits));
}
#endif

// As CopyPlainUnitsOneByOne for UTF-16, eight units at a time where the
// processor allows. dst must have room for n units; those after the first
// escaped unit may be overwritten.
inline size_t CopyPlainUnits(const char16_t* s, size_t n, char16_t* dst) {
#if defined(QKXDR_SIMD_SSE2)
  constexpr size_t kLanes = 8;
  if (n >= kLanes) {
    // Chunks of eight from the start, four per round, none beyond the last
    // eight units. A chunk moved back to end at n overlaps units already
    // copied, which are plain, so the first escape found is the first of
    // all. A string of up to 32 units takes one round, with no branch on its
    // length.
    const size_t last = n - kLanes;
    for (size_t i = 0;; i += 4 * kLanes) {
      for (size_t k = i; k < i + 4 * kLanes; k += kLanes) {
        const size_t at = k < last ? k : last;
        const uint32_t lanes = CopyEightUnits(s, at, dst);
        if (lanes != 0) return at + static_cast<size_t>(__builtin_ctz(lanes)) / 2;
      }
      if (i + 4 * kLanes >= n) return n;
    }
  }
#endif
  return CopyPlainUnitsOneByOne(s, n, dst);
}

// Units of s[0..n) once escaped, quotation marks not included.
template <typename Unit>
uint64_t EscapedLength(const Unit* s, size_t n) {
  uint64_t units = n;
  for (size_t i = 0; i < n; ++i) units += EscapeLetter(Widen(s[i])) != 0;
  return units;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_STRING_ESCAPE_H_
