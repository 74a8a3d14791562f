// Runs of integers as varints, by kernels for each instruction set:
//
//   scalar     every processor; the reference the others are tested against
//   sse2       every x86 processor this library builds for (the 32-bit
//              DLL's included), chosen at compile time
//   avx2       x86 with AVX2, chosen at run time
//   avx2_bmi2  the same with BMI2's bit gathers, where they are fast
//
// Every kernel gives the scalar kernel's results, bit for bit: the vector
// ones differ only in how many values they take at once.
//
// The vector kernels find where varints end from a block of 16 or 32 bytes
// at once (the bit 7 of each byte marks a varint's last byte): a block of
// one-byte varints is decoded or encoded whole; otherwise each value is
// gathered from the word at its start, its length known without a chain
// of dependent loads.

#ifndef QKXDR_DETAIL_BINARY_INT_KERNELS_H_
#define QKXDR_DETAIL_BINARY_INT_KERNELS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "qkxdr/detail/base/bits.h"
#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/varint_word.h"

#if defined(QKXDR_SIMD_SSE2)
#include <emmintrin.h>
#endif
#if defined(QKXDR_SIMD_RUNTIME_X86)
#include <immintrin.h>
#endif

namespace qkxdr::impl {

enum class IntKernel : uint8_t { scalar, sse2, avx2, avx2_bmi2 };

// Integer types that the vector kernels take; others always use the scalar
// one.
template <typename T>
inline constexpr bool kHasIntKernels = std::is_integral_v<T>&& std::is_signed_v<T> &&
                                       (sizeof(T) == 4 || sizeof(T) == 8);

// The varint of an integer as WriteNumber writes it, into kMaxVarint64
// bytes of room.
template <typename T>
inline uint8_t* PutIntVarint(uint8_t* dst, T v) {
  if constexpr (kFitsInt32<T>) {
    return PutVarintInRoom(dst, ZigZag32(static_cast<int32_t>(v)));
  } else {
    return PutVarintInRoom(dst, ZigZag64(static_cast<int64_t>(v)));
  }
}

namespace scalar {

// Decodes up to k varints at *p into out while each ends within the word at
// its start (the 8 bytes of [*p, e) from there) and T holds its value
// (HoldsInt). Returns how many, with *p moved past them; the value it stops
// at is left for a read of its own.
template <typename T>
size_t GetInts(const uint8_t** p, const uint8_t* e, T* out, size_t k) {
  const uint8_t* at = *p;
  size_t i = 0;
  for (uint64_t u; i < k && e - at >= kWordSize; ++i) {
    const uint8_t* const next = GetVarintWord(at, &u);
    if (next == nullptr || !HoldsInt<T>(UnZigZag64(u))) break;
    out[i] = static_cast<T>(UnZigZag64(u));
    at = next;
  }
  *p = at;
  return i;
}

// Writes the varints of the k integers at v as WriteNumber does, at dst,
// which has room for kMaxVarint64 bytes a value; returns their end.
template <typename T>
uint8_t* PutInts(const T* v, size_t k, uint8_t* dst) {
  for (size_t i = 0; i < k; ++i) dst = PutIntVarint(dst, v[i]);
  return dst;
}

}  // namespace scalar

// The shape shared by the vector kernels, over an instruction set's Isa:
//   kBlock                      bytes looked at together (16 or 32)
//   Stops(p)                    bit i set when p[i] ends a varint
//   OneByteInts(p, out)         the kBlock one-byte varints at p, decoded
//   PutOneByteInts(v, dst)      16 int32 values as one-byte varints, when
//                               all of them are; false, nothing written, else
//   Gather(word, n)             the value of the n-byte varint at the start
//                               of word (n <= 8)
//   PutVarint(dst, v)           as PutIntVarint
namespace generic {

// The bits of the first n bytes of a block.
inline uint64_t FirstBytes(size_t n) { return (uint64_t{1} << n) - 1; }

// The varints that end in the block at *p (whose stop bits are `stops`),
// decoded into out, at most k. *p moves to the first varint not decoded.
// False when it stops at a varint it cannot take: one longer than a word or
// of a value that T does not hold.
template <typename Isa, typename T>
bool GetBlockInts(const uint8_t** p, uint32_t stops, T* out, size_t k, size_t* done) {
  const uint8_t* const block = *p;
  uint32_t start = 0;
  size_t i = 0;
  bool taken = true;
  for (; stops != 0 && i < k; stops &= stops - 1) {
    const uint32_t end = CountTrailingZeros(stops);
    const uint32_t length = end + 1 - start;
    if (length > kWordSize) {
      taken = false;
      break;
    }
    const int64_t v = UnZigZag64(Isa::Gather(LoadWord(block + start), length));
    if (!HoldsInt<T>(v)) {
      taken = false;
      break;
    }
    out[i++] = static_cast<T>(v);
    start = end + 1;
  }
  *p = block + start;
  *done = i;
  return taken && start != 0;
}

template <typename Isa, typename T>
size_t GetInts(const uint8_t** p, const uint8_t* e, T* out, size_t k) {
  size_t i = 0;
  // Every varint that starts in a block has the word at its start in the input.
  while (i < k && static_cast<size_t>(e - *p) >= Isa::kBlock + kWordSize) {
    const uint32_t stops = Isa::Stops(*p);
    const size_t want = k - i < Isa::kBlock ? k - i : Isa::kBlock;
    if ((stops & FirstBytes(want)) == FirstBytes(want)) {
      if (want == Isa::kBlock) {
        Isa::OneByteInts(*p, out + i);
      } else {
        T values[Isa::kBlock];
        Isa::OneByteInts(*p, values);
        std::memcpy(out + i, values, want * sizeof(T));
      }
      i += want;
      *p += want;
      continue;
    }
    size_t done;
    const bool more = GetBlockInts<Isa>(p, stops, out + i, k - i, &done);
    i += done;
    if (!more) break;
  }
  return i + scalar::GetInts(p, e, out + i, k - i);
}

template <typename Isa, typename T>
uint8_t* PutInts(const T* v, size_t k, uint8_t* dst) {
  constexpr size_t kLanes = 16;
  for (size_t i = 0; i < k;) {
    if (sizeof(T) == 4 && k - i >= kLanes && Isa::PutOneByteInts(v + i, dst)) {
      i += kLanes;
      dst += kLanes;
      continue;
    }
    for (const size_t end = k - i < kLanes ? k : i + kLanes; i < end; ++i) {
      dst = Isa::PutVarint(dst, v[i]);
    }
  }
  return dst;
}

}  // namespace generic

#if defined(QKXDR_SIMD_SSE2)
namespace sse2 {

// Widens the 16 signed bytes of x to T, stored at out.
template <typename T>
QKXDR_INLINE void StoreWidened(__m128i x, T* out) {
  auto* dst = reinterpret_cast<__m128i*>(out);
  const __m128i sign8 = _mm_cmpgt_epi8(_mm_setzero_si128(), x);
  const __m128i halves[2] = {_mm_unpacklo_epi8(x, sign8), _mm_unpackhi_epi8(x, sign8)};
  for (size_t h = 0; h < 2; ++h) {
    const __m128i sign16 = _mm_srai_epi16(halves[h], 15);
    const __m128i quarters[2] = {_mm_unpacklo_epi16(halves[h], sign16),
                                 _mm_unpackhi_epi16(halves[h], sign16)};
    for (size_t q = 0; q < 2; ++q) {
      if constexpr (sizeof(T) == 4) {
        _mm_storeu_si128(dst + 2 * h + q, quarters[q]);
      } else {
        const __m128i sign32 = _mm_srai_epi32(quarters[q], 31);
        _mm_storeu_si128(dst + 4 * h + 2 * q, _mm_unpacklo_epi32(quarters[q], sign32));
        _mm_storeu_si128(dst + 4 * h + 2 * q + 1, _mm_unpackhi_epi32(quarters[q], sign32));
      }
    }
  }
}

// The 16 one-byte varints at p as signed bytes: the zigzag mapping undone.
QKXDR_INLINE __m128i OneByteValues(const uint8_t* p) {
  const __m128i u =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8(0x7F));
  const __m128i half = _mm_and_si128(_mm_srli_epi16(u, 1), _mm_set1_epi8(0x3F));
  const __m128i odd = _mm_sub_epi8(_mm_setzero_si128(), _mm_and_si128(u, _mm_set1_epi8(1)));
  return _mm_xor_si128(half, odd);
}

// The zigzag mapping of 4 int32 values.
QKXDR_INLINE __m128i ZigZag(const int32_t* v) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
  return _mm_xor_si128(_mm_slli_epi32(x, 1), _mm_srai_epi32(x, 31));
}

QKXDR_INLINE bool PutOneByteInts(const int32_t* v, uint8_t* dst) {
  const __m128i z0 = ZigZag(v), z1 = ZigZag(v + 4), z2 = ZigZag(v + 8), z3 = ZigZag(v + 12);
  const __m128i all = _mm_or_si128(_mm_or_si128(z0, z1), _mm_or_si128(z2, z3));
  const __m128i high = _mm_and_si128(all, _mm_set1_epi32(~0x7F));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF) return false;
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(z0, z1), _mm_packs_epi32(z2, z3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(bytes, _mm_set1_epi8(-0x80)));
  return true;
}
template <typename T>
QKXDR_INLINE bool PutOneByteInts(const T*, uint8_t*) {
  return false;
}

// Gather by shifts: the 7-bit groups of the first n bytes of word, closed
// up pairwise, then in fours, then all.
QKXDR_INLINE uint64_t GatherByShifts(uint64_t word, uint32_t n) {
  uint64_t x = word & (0x7F7F7F7F7F7F7F7F >> (8 * (kWordSize - n)));
  x = (x & 0x007F007F007F007F) | (x & 0x7F007F007F007F00) >> 1;
  x = (x & 0x00003FFF00003FFF) | (x & 0x3FFF00003FFF0000) >> 2;
  return (x & 0x000000000FFFFFFF) | (x & 0x0FFFFFFF00000000) >> 4;
}

struct Isa {
  static constexpr size_t kBlock = 16;
  static QKXDR_INLINE uint32_t Stops(const uint8_t* p) {
    return static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
  }
  template <typename T>
  static QKXDR_INLINE void OneByteInts(const uint8_t* p, T* out) {
    StoreWidened(OneByteValues(p), out);
  }
  template <typename T>
  static QKXDR_INLINE bool PutOneByteInts(const T* v, uint8_t* dst) {
    return sse2::PutOneByteInts(v, dst);
  }
  static QKXDR_INLINE uint64_t Gather(uint64_t word, uint32_t n) { return GatherByShifts(word, n); }
  template <typename T>
  static QKXDR_INLINE uint8_t* PutVarint(uint8_t* dst, T v) {
    return PutIntVarint(dst, v);
  }
};

template <typename T>
size_t GetInts(const uint8_t** p, const uint8_t* e, T* out, size_t k) {
  return generic::GetInts<Isa>(p, e, out, k);
}
template <typename T>
uint8_t* PutInts(const T* v, size_t k, uint8_t* dst) {
  return generic::PutInts<Isa>(v, k, dst);
}

}  // namespace sse2
#endif  // QKXDR_SIMD_SSE2

#if defined(QKXDR_SIMD_RUNTIME_X86)
// Everything from here to the matching pop is compiled for AVX2 and BMI2;
// it runs only where IntKernelRuns says the processor has them. The
// kernels' entry points are flattened, so that the generic shape and the
// SSE2 helpers they call are compiled into them for these instruction sets.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,lzcnt,popcnt"))), \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,lzcnt,popcnt")
#endif

namespace avx2 {

// SSE2's Isa but for what AVX2 and BMI2 do better; encoding a block of
// one-byte varints stays SSE2's.
template <bool kPext>
struct Isa : sse2::Isa {
  static constexpr size_t kBlock = 32;
  static inline uint32_t Stops(const uint8_t* p) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
  }
  template <typename T>
  static inline void OneByteInts(const uint8_t* p, T* out) {
    sse2::StoreWidened(sse2::OneByteValues(p), out);
    sse2::StoreWidened(sse2::OneByteValues(p + 16), out + 16);
  }
  static inline uint64_t Gather(uint64_t word, uint32_t n) {
#if defined(__x86_64__)
    if constexpr (kPext) return _pext_u64(word, _bzhi_u64(0x7F7F7F7F7F7F7F7F, uint64_t{8} * n));
#endif
    return sse2::GatherByShifts(word, n);
  }
  template <typename T>
  static inline uint8_t* PutVarint(uint8_t* dst, T v) {
#if defined(__x86_64__)
    if constexpr (kPext) {
      const uint64_t u =
          sizeof(T) == 4 ? ZigZag32(static_cast<int32_t>(v)) : ZigZag64(static_cast<int64_t>(v));
      if (sizeof(T) == 8 && (u >> 56) != 0) return impl::PutVarint(dst, u);
      const uint64_t groups = _pdep_u64(u, 0x7F7F7F7F7F7F7F7F);
      const uint32_t length = ByteLength(groups);
      StoreWord(dst, groups | uint64_t{0x80} << (8 * (length - 1)));
      return dst + length;
    }
#endif
    return PutIntVarint(dst, v);
  }
};

template <bool kPext, typename T>
__attribute__((flatten)) size_t GetInts(const uint8_t** p, const uint8_t* e, T* out, size_t k) {
  return generic::GetInts<Isa<kPext>>(p, e, out, k);
}
template <bool kPext, typename T>
__attribute__((flatten)) uint8_t* PutInts(const T* v, size_t k, uint8_t* dst) {
  return generic::PutInts<Isa<kPext>>(v, k, dst);
}

}  // namespace avx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// Whether BMI2's gathers are slow on this processor: microcoded, taking
// hundreds of cycles, on AMD's processors before Zen 3.
inline bool SlowBitGathers() {
  return __builtin_cpu_is("amdfam15h") || __builtin_cpu_is("amdfam17h");
}
#endif  // QKXDR_SIMD_RUNTIME_X86

// Whether this processor runs `kernel`.
inline bool IntKernelRuns(IntKernel kernel) {
  if (kernel == IntKernel::scalar) return true;
#if defined(QKXDR_SIMD_SSE2)
  if (kernel == IntKernel::sse2) return true;
#endif
#if defined(QKXDR_SIMD_RUNTIME_X86)
  if (kernel == IntKernel::avx2) return __builtin_cpu_supports("avx2");
  if (kernel == IntKernel::avx2_bmi2) {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
  }
#endif
  return false;
}

// The fastest kernel for this processor.
inline IntKernel BestIntKernel() {
#if defined(QKXDR_SIMD_RUNTIME_X86)
  if (IntKernelRuns(IntKernel::avx2_bmi2) && !SlowBitGathers()) return IntKernel::avx2_bmi2;
  if (IntKernelRuns(IntKernel::avx2)) return IntKernel::avx2;
#endif
#if defined(QKXDR_SIMD_SSE2)
  return IntKernel::sse2;
#else
  return IntKernel::scalar;
#endif
}

// scalar::GetInts by `kernel`, which must run on this processor.
template <typename T>
size_t GetInts(IntKernel kernel, const uint8_t** p, const uint8_t* e, T* out, size_t k) {
  if constexpr (kHasIntKernels<T>) {
    switch (kernel) {
#if defined(QKXDR_SIMD_RUNTIME_X86)
      case IntKernel::avx2_bmi2:
        return avx2::GetInts<true>(p, e, out, k);
      case IntKernel::avx2:
        return avx2::GetInts<false>(p, e, out, k);
#endif
#if defined(QKXDR_SIMD_SSE2)
      case IntKernel::sse2:
        return sse2::GetInts(p, e, out, k);
#endif
      default:
        break;
    }
  }
  return scalar::GetInts(p, e, out, k);
}

// scalar::PutInts by `kernel`, which must run on this processor.
template <typename T>
uint8_t* PutInts(IntKernel kernel, const T* v, size_t k, uint8_t* dst) {
  if constexpr (kHasIntKernels<T>) {
    switch (kernel) {
#if defined(QKXDR_SIMD_RUNTIME_X86)
      case IntKernel::avx2_bmi2:
        return avx2::PutInts<true>(v, k, dst);
      case IntKernel::avx2:
        return avx2::PutInts<false>(v, k, dst);
#endif
#if defined(QKXDR_SIMD_SSE2)
      case IntKernel::sse2:
        return sse2::PutInts(v, k, dst);
#endif
      default:
        break;
    }
  }
  return scalar::PutInts(v, k, dst);
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_INT_KERNELS_H_
