// The code units of a string as 16-bit varints, 8 or 16 at a time where the
// processor allows: a unit below 0x80 is the one byte unit | 0x80, and
// strings of such units are the common case.

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

// Calls step(i) on blocks of kBlock units covering [0, n), n >= kBlock:
// i = 0, kBlock, 2 * kBlock... and a last block that ends at n, over units
// the one before covers too, until a step returns false. Returns how many
// units from the first lie in blocks that all returned true.
template <size_t kBlock, typename Step>
QKXDR_INLINE size_t EachBlock(size_t n, Step step) {
  size_t i = 0;
  for (; n - i > kBlock; i += kBlock) {
    if (!step(i)) return i;
  }
  return step(n - kBlock) ? n : n - kBlock;
}

// Whether unit u takes one byte: below 0x80, and with kNoZero not 0.
template <bool kNoZero, typename Unit>
constexpr bool IsOneByteUnit(Unit u) {
  using Code = std::make_unsigned_t<Unit>;
  return static_cast<Code>(u) < 0x80 && (!kNoZero || u != 0);
}

#if defined(QKXDR_SIMD_SSE2)
// The bytes (or the 8 UTF-16 units) at s as one-byte varints, their mask
// of bytes that are one-byte units (a bit for each lane byte).
template <bool kNoZero>
QKXDR_INLINE __m128i OneByteVarints(__m128i bytes, uint32_t* ok) {
  const __m128i good = kNoZero ? _mm_cmpgt_epi8(bytes, _mm_setzero_si128())
                               : _mm_cmpgt_epi8(bytes, _mm_set1_epi8(-1));
  *ok = static_cast<uint32_t>(_mm_movemask_epi8(good));
  return _mm_or_si128(bytes, _mm_set1_epi8(-0x80));
}

inline size_t PutOneByteBlocks(const char* s, size_t n, uint8_t* dst, bool no_zero) {
  const auto load16 = [s](size_t i) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
  };
  const auto load8 = [s](size_t i) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
  };
  uint32_t ok;
  if (n >= 16) {
    return EachBlock<16>(n, [&](size_t i) {
      const __m128i v =
          no_zero ? OneByteVarints<true>(load16(i), &ok) : OneByteVarints<false>(load16(i), &ok);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
      return ok == 0xFFFF;
    });
  }
  return EachBlock<8>(n, [&](size_t i) {
    const __m128i v =
        no_zero ? OneByteVarints<true>(load8(i), &ok) : OneByteVarints<false>(load8(i), &ok);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), v);
    return (ok & 0xFF) == 0xFF;
  });
}

inline size_t PutOneByteBlocks(const char16_t* s, size_t n, uint8_t* dst, bool) {
  return EachBlock<8>(n, [s, dst](size_t i) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
    const auto ok = _mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128()));
    const __m128i bytes = _mm_or_si128(_mm_packus_epi16(units, units), _mm_set1_epi8(-0x80));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), bytes);
    return ok == 0xFFFF;
  });
}

// Stores the low 7 bits of each byte of `bytes` (kLanes of them) as a unit.
template <size_t kLanes>
QKXDR_INLINE void StoreLowBits(__m128i bytes, uint8_t* out) {
  const __m128i low = _mm_and_si128(bytes, _mm_set1_epi8(0x7F));
  if constexpr (kLanes == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), low);
  }
}
template <size_t kLanes>
QKXDR_INLINE void StoreLowBits(__m128i bytes, char16_t* out) {
  const __m128i low = _mm_and_si128(bytes, _mm_set1_epi8(0x7F));
  auto* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst, _mm_unpacklo_epi8(low, _mm_setzero_si128()));
  if constexpr (kLanes == 16)
    _mm_storeu_si128(dst + 1, _mm_unpackhi_epi8(low, _mm_setzero_si128()));
}

template <typename Unit>
size_t GetOneByteBlocks(const uint8_t* p, size_t n, Unit* out) {
  if (n >= 16) {
    return EachBlock<16>(n, [p, out](size_t i) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      StoreLowBits<16>(bytes, out + i);
      return _mm_movemask_epi8(bytes) == 0xFFFF;
    });
  }
  return EachBlock<8>(n, [p, out](size_t i) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i));
    StoreLowBits<8>(bytes, out + i);
    return (_mm_movemask_epi8(bytes) & 0xFF) == 0xFF;
  });
}
#endif

// Writes units from the first of the n at s as one-byte varints (unit |
// 0x80) at dst, which has room for n bytes, while they take one byte
// (IsOneByteUnit); returns how many it wrote (n when all). It may write
// bytes after them, which mean nothing.
template <bool kNoZero, typename Unit>
size_t PutOneByteUnits(const Unit* s, size_t n, uint8_t* dst) {
  static_assert(!kNoZero || sizeof(Unit) == 1, "zero refused in 8-bit units only");
#if defined(QKXDR_SIMD_SSE2)
  if (n >= 8) return PutOneByteBlocks(s, n, dst, kNoZero);
#endif
  for (size_t i = 0; i < n; ++i) {
    if (!IsOneByteUnit<kNoZero>(s[i])) return i;
    dst[i] = static_cast<uint8_t>(s[i] | 0x80);
  }
  return n;
}

// Decodes bytes from the first of the n at p as one-byte varints into out
// while they are (bit 7 set); returns how many (n when all). It may store
// units after them, which mean nothing.
template <typename Unit>
size_t GetOneByteUnits(const uint8_t* p, size_t n, Unit* out) {
#if defined(QKXDR_SIMD_SSE2)
  if (n >= 8) return GetOneByteBlocks(p, n, out);
#endif
  for (size_t i = 0; i < n; ++i) {
    if ((p[i] & 0x80) == 0) return i;
    out[i] = static_cast<Unit>(p[i] & 0x7F);
  }
  return n;
}

inline uint8_t* PutUnitVarint(uint8_t* dst, char16_t unit) { return PutVarint16(dst, unit); }
inline uint8_t* PutUnitVarint(uint8_t* dst, char unit) {
  return PutVarint8(dst, static_cast<uint8_t>(unit));
}

// Writes the units of s[0..n) as PutVarint16 (UTF-16 units) or PutVarint8
// (bytes) does, one after another, at dst, which has room for the longest
// varint of every unit; returns the end. Units that all take one byte, the
// common case, are written in blocks.
template <typename Unit>
uint8_t* PutUnitVarints(const Unit* s, size_t n, uint8_t* dst) {
  size_t i = PutOneByteUnits<false>(s, n, dst);
  for (dst += i; i < n; ++i) dst = PutUnitVarint(dst, s[i]);
  return dst;
}

// Decodes up to n units at p with GetVarint16, storing each (all 16 bits, or
// the low 8) at out, and stops early at e; returns the position after the
// last unit decoded. Units that all take one byte are decoded in blocks.
template <typename Unit>
const uint8_t* GetUnitVarints(const uint8_t* p, const uint8_t* e, Unit* out, uint32_t n) {
  size_t i = static_cast<size_t>(e - p) >= n ? GetOneByteUnits(p, n, out) : 0;
  for (p += i; i < n && p < e; ++i) {
    uint16_t unit;
    p = GetVarint16(p, e, &unit);
    out[i] = static_cast<Unit>(unit);
  }
  return p;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_UNIT_VARINTS_H_
