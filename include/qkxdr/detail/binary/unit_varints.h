// The code units of a string as 16-bit varints, eight at a time where the
// processor allows: a unit below 0x80 is the one byte unit | 0x80, and runs
// of such units are the common case.

#ifndef QKXDR_DETAIL_BINARY_UNIT_VARINTS_H_
#define QKXDR_DETAIL_BINARY_UNIT_VARINTS_H_

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/binary/coding.h"

#if defined(QKXDR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace qkxdr::impl {

// Units handled together, and four groups of those per round: a string of
// up to kRoundUnits units takes one round, with no branch on its length.
constexpr size_t kUnitLanes = 8;
constexpr size_t kRoundUnits = 4 * kUnitLanes;

// Where the four groups of eight of a round starting at unit i begin among
// n units (n >= 8): groups past the end are moved back to end at n, over
// units that an earlier group of the round covers too.
struct Round {
  Round(size_t i, size_t n) {
    for (size_t k = 0; k < 4; ++k)
      at[k] = i + k * kUnitLanes < n - kUnitLanes ? i + k * kUnitLanes : n - kUnitLanes;
  }
  size_t at[4];
};

#if defined(QKXDR_SIMD_SSE2)
// The 8 units at s as their one-byte varints, in the low half; *small is
// 0xFFFF when all of them are below 0x80, and only then is the result right.
template <bool kNoZero = false>
inline __m128i OneByteVarints(const char16_t* s, uint32_t* small) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  *small = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())));
  return _mm_or_si128(_mm_packus_epi16(units, units), _mm_set1_epi8(-0x80));
}

// The same for 8 bytes (the high half all small); with kNoZero a zero byte
// is not small either.
template <bool kNoZero = false>
inline __m128i OneByteVarints(const char* s, uint32_t* small) {
  const __m128i units = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
  const __m128i big = kNoZero ? _mm_cmpgt_epi8(_mm_set1_epi8(1), units) : units;
  *small = (static_cast<uint32_t>(_mm_movemask_epi8(big)) & 0xFF) ^ 0xFFFF;
  return _mm_or_si128(units, _mm_set1_epi8(-0x80));
}

// Stores the low 7 bits of each of the 8 bytes in the low half as a unit.
inline void StoreLowBits(__m128i bytes, char16_t* out) {
  const __m128i units = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_and_si128(units, _mm_set1_epi16(0x7F)));
}
inline void StoreLowBits(__m128i bytes, uint8_t* out) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_and_si128(bytes, _mm_set1_epi8(0x7F)));
}
#endif

inline uint8_t* PutUnitVarint(uint8_t* dst, char16_t unit) { return PutVarint16(dst, unit); }
inline uint8_t* PutUnitVarint(uint8_t* dst, char unit) {
  return PutVarint8(dst, static_cast<uint8_t>(unit));
}

// Whether unit u takes one byte: below 0x80, and with kNoZero not 0.
template <bool kNoZero, typename Unit>
constexpr bool IsOneByteUnit(Unit u) {
  using Code = std::make_unsigned_t<Unit>;
  return static_cast<Code>(u) < 0x80 && (!kNoZero || u != 0);
}

// Writes units from the first of the n at s as one-byte varints (unit |
// 0x80) at dst, which has room for n bytes, while they take one byte
// (IsOneByteUnit); returns how many it wrote (n when all). It may write
// bytes after them, which mean nothing. Whole rounds at a time where the
// processor allows.
template <bool kNoZero, typename Unit>
size_t PutOneByteUnits(const Unit* s, size_t n, uint8_t* dst) {
  static_assert(!kNoZero || sizeof(Unit) == 1, "zero refused in 8-bit units only");
  size_t i = 0;
#if defined(QKXDR_SIMD_SSE2)
  for (; n >= kUnitLanes && i < n; i += kRoundUnits) {
    const Round r(i, n);
    uint32_t small[4];
    const __m128i b0 = OneByteVarints<kNoZero>(s + r.at[0], &small[0]);
    const __m128i b1 = OneByteVarints<kNoZero>(s + r.at[1], &small[1]);
    const __m128i b2 = OneByteVarints<kNoZero>(s + r.at[2], &small[2]);
    const __m128i b3 = OneByteVarints<kNoZero>(s + r.at[3], &small[3]);
    if ((small[0] & small[1] & small[2] & small[3]) != 0xFFFF) return i;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r.at[0]), b0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r.at[1]), b1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r.at[2]), b2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + r.at[3]), b3);
  }
  if (i >= n) return n;
#endif
  for (; i < n; ++i) {
    if (!IsOneByteUnit<kNoZero>(s[i])) return i;
    dst[i] = static_cast<uint8_t>(s[i] | 0x80);
  }
  return n;
}

// Writes the units of s[0..n) as PutVarint16 (UTF-16 units) or PutVarint8
// (bytes) does, one after another, at dst, which has room for the longest
// varint of every unit; returns the end. Units that take one byte, the
// common case, are written in rounds; from the first round that has
// another, one unit at a time.
template <typename Unit>
uint8_t* PutUnitVarints(const Unit* s, size_t n, uint8_t* dst) {
  size_t i = PutOneByteUnits<false>(s, n, dst);
  for (dst += i; i < n; ++i) dst = PutUnitVarint(dst, s[i]);
  return dst;
}

// Decodes up to n units at p with GetVarint16, storing each (all 16 bits, or
// the low 8) at out, and stops early at e; returns the position after the
// last unit decoded. Rounds of one-byte varints are taken whole; from the
// first round that has another, one unit at a time.
template <typename Unit>
const uint8_t* GetUnitVarints(const uint8_t* p, const uint8_t* e, Unit* out, uint32_t n) {
  size_t i = 0;
#if defined(QKXDR_SIMD_SSE2)
  const bool whole = static_cast<size_t>(e - p) >= n;
  for (; whole && n >= kUnitLanes && i < n; i += kRoundUnits) {
    const Round r(i, n);
    const auto load = [p](size_t at) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + at));
    };
    const __m128i b0 = load(r.at[0]), b1 = load(r.at[1]), b2 = load(r.at[2]), b3 = load(r.at[3]);
    // Every byte a varint's last: bit 7 set in all of them.
    const __m128i all = _mm_and_si128(_mm_and_si128(b0, b1), _mm_and_si128(b2, b3));
    if ((_mm_movemask_epi8(all) & 0xFF) != 0xFF) break;
    StoreLowBits(b0, out + r.at[0]);
    StoreLowBits(b1, out + r.at[1]);
    StoreLowBits(b2, out + r.at[2]);
    StoreLowBits(b3, out + r.at[3]);
  }
  if (n != 0 && i >= n) return p + n;
  p += i;
#endif
  for (; i < n && p < e; ++i) {
    uint16_t unit;
    p = GetVarint16(p, e, &unit);
    out[i] = static_cast<Unit>(unit);
  }
  return p;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_UNIT_VARINTS_H_
