// Encoding and decoding of the binary format's payloads: varints, zigzag and
// doubles.
//
// A varint holds an unsigned number in 7-bit groups, least significant group
// first, and marks its *last* byte with bit 7 (the reverse of LEB128).
// Encoders write into a caller-provided area large enough for their longest
// output and return the end of what they wrote. Decoders take the end of the
// data `e`, never read at or beyond it, and return the position after what
// they consumed.

#ifndef QKXDR_DETAIL_BINARY_CODING_H_
#define QKXDR_DETAIL_BINARY_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qkxdr::impl {

// Longest varint of each width, in bytes.
constexpr int kMaxVarint8 = 2;
constexpr int kMaxVarint16 = 3;
constexpr int kMaxVarint32 = 5;
constexpr int kMaxVarint64 = 10;
constexpr size_t kDoubleSize = 8;

// Bytes of a 64-bit word. Words are stored and loaded byte by byte, least
// significant first, written as folds over the byte indices rather than
// loops: compilers make each one move on little-endian machines, with no loop
// to unroll first.
constexpr int kWordSize = 8;
using WordBytes = std::make_index_sequence<kWordSize>;

template <size_t... I>
inline void StoreWord(uint8_t* dst, uint64_t x, std::index_sequence<I...>) {
  ((dst[I] = static_cast<uint8_t>(x >> (8 * I))), ...);
}

// Stores x at dst, least significant byte first.
inline void StoreWord(uint8_t* dst, uint64_t x) { StoreWord(dst, x, WordBytes{}); }

template <size_t... I>
inline uint64_t LoadWord(const uint8_t* p, std::index_sequence<I...>) {
  return ((uint64_t{p[I]} << (8 * I)) | ...);
}

// The 8 bytes at p, least significant first.
inline uint64_t LoadWord(const uint8_t* p) { return LoadWord(p, WordBytes{}); }

template <typename T>
inline uint8_t* PutVarint(uint8_t* dst, T v) {
  while (v >= 0x80) {
    *dst++ = static_cast<uint8_t>(v & 0x7F);
    v = static_cast<T>(v >> 7);
  }
  *dst++ = static_cast<uint8_t>(v | 0x80);
  return dst;
}

inline uint8_t* PutVarint8(uint8_t* dst, uint8_t v) { return PutVarint(dst, v); }
inline uint8_t* PutVarint16(uint8_t* dst, uint16_t v) { return PutVarint(dst, v); }
inline uint8_t* PutVarint32(uint8_t* dst, uint32_t v) { return PutVarint(dst, v); }
inline uint8_t* PutVarint64(uint8_t* dst, uint64_t v) { return PutVarint(dst, v); }

// Number of bytes PutVarint writes for v.
template <typename T>
inline uint32_t VarintLength(T v) {
  uint32_t n = 1;
  while (v >= 0x80) {
    v = static_cast<T>(v >> 7);
    ++n;
  }
  return n;
}

inline uint32_t Varint32Length(uint32_t v) { return VarintLength(v); }

// Writes the 8 bytes of v, least significant first.
inline uint8_t* PutDouble(uint8_t* dst, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreWord(dst, bits);
  return dst + kDoubleSize;
}

inline uint32_t ZigZag32(int32_t n) {
  const uint32_t u = static_cast<uint32_t>(n);
  return (u << 1) ^ (0u - (u >> 31));
}

inline uint64_t ZigZag64(int64_t n) {
  const uint64_t u = static_cast<uint64_t>(n);
  return (u << 1) ^ (uint64_t{0} - (u >> 63));
}

inline int32_t UnZigZag32(uint32_t u) { return static_cast<int32_t>((u >> 1) ^ (0u - (u & 1))); }

inline int64_t UnZigZag64(uint64_t u) {
  return static_cast<int64_t>((u >> 1) ^ (uint64_t{0} - (u & 1)));
}

// Position after one varint, or e when no terminating byte comes before e.
inline const uint8_t* SkipVarint(const uint8_t* p, const uint8_t* e) {
  while (p < e) {
    if (*p++ & 0x80) return p;
  }
  return e;
}

// Decodes a varint of width T, at most kMaxBytes long. Bits beyond the width
// are dropped; a longer varint is accepted and its excess bytes skipped. A
// varint cut off by e yields the bits gathered so far and returns e.
template <typename T, int kMaxBytes>
inline const uint8_t* GetVarint(const uint8_t* p, const uint8_t* e, T* value) {
  T result = 0;
  for (int i = 0; i < kMaxBytes && p < e; ++i) {
    const uint8_t b = *p++;
    result = static_cast<T>(result | static_cast<T>(static_cast<T>(b & 0x7F) << (7 * i)));
    if (b & 0x80) {
      *value = result;
      return p;
    }
  }
  *value = result;
  return SkipVarint(p, e);
}

inline const uint8_t* GetVarint16(const uint8_t* p, const uint8_t* e, uint16_t* value) {
  return GetVarint<uint16_t, kMaxVarint16>(p, e, value);
}
inline const uint8_t* GetVarint32(const uint8_t* p, const uint8_t* e, uint32_t* value) {
  return GetVarint<uint32_t, kMaxVarint32>(p, e, value);
}
inline const uint8_t* GetVarint64(const uint8_t* p, const uint8_t* e, uint64_t* value) {
  return GetVarint<uint64_t, kMaxVarint64>(p, e, value);
}

// Whether the varint decoded from `start` up to `after` ended with its
// terminating byte, rather than being cut off by the end of the data.
inline bool VarintComplete(const uint8_t* start, const uint8_t* after) {
  return after > start && (after[-1] & 0x80) != 0;
}

// Whether each of the n bytes at p ends a varint: the units of a string
// below 0x80, one byte each. A word at a time, the last one overlapping.
inline bool EveryByteEnds(const uint8_t* p, size_t n) {
  constexpr uint64_t kStops = 0x8080808080808080;
  if (n < kWordSize) {
    uint8_t ends = 0x80;
    for (size_t i = 0; i != n; ++i) ends &= p[i];
    return ends != 0;
  }
  uint64_t ends = LoadWord(p + n - kWordSize);
  for (size_t i = 0; i < n - kWordSize; i += kWordSize) ends &= LoadWord(p + i);
  return (ends & kStops) == kStops;
}

// As GetVarint, for a varint that must be whole: null when e cuts it off,
// and *value is then left as it was.
template <typename T, int kMaxBytes>
inline const uint8_t* GetWholeVarint(const uint8_t* p, const uint8_t* e, T* value) {
  T v;
  const uint8_t* const next = GetVarint<T, kMaxBytes>(p, e, &v);
  if (!VarintComplete(p, next)) return nullptr;
  *value = v;
  return next;
}

// A string's or blob's length.
inline const uint8_t* GetWholeVarint32(const uint8_t* p, const uint8_t* e, uint32_t* value) {
  return GetWholeVarint<uint32_t, kMaxVarint32>(p, e, value);
}
inline const uint8_t* GetWholeVarint64(const uint8_t* p, const uint8_t* e, uint64_t* value) {
  return GetWholeVarint<uint64_t, kMaxVarint64>(p, e, value);
}

// Whether a whole double stands at p.
inline bool DoubleComplete(const uint8_t* p, const uint8_t* e) {
  return static_cast<size_t>(e - p) >= kDoubleSize;
}

// Decodes the double at p; with fewer than 8 bytes left yields 0.0 and returns e.
inline const uint8_t* GetDouble(const uint8_t* p, const uint8_t* e, double* value) {
  if (!DoubleComplete(p, e)) {
    *value = 0.0;
    return e;
  }
  const uint64_t bits = LoadWord(p);
  std::memcpy(value, &bits, sizeof bits);
  return p + kDoubleSize;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_CODING_H_
