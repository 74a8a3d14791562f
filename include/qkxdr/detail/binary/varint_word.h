// Varints encoded and decoded eight bytes at a time, without a branch on
// their length, for callers that have eight bytes of room or of input. They
// give exactly the bytes and values of PutVarint and GetVarint (coding.h).

#ifndef QKXDR_DETAIL_BINARY_VARINT_WORD_H_
#define QKXDR_DETAIL_BINARY_VARINT_WORD_H_

#include <cstddef>
#include <cstdint>

#include "qkxdr/detail/base/bits.h"
#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/binary/coding.h"

namespace qkxdr::impl {

// The number of the lowest bytes of x that have any bit set in `bytes`,
// where `bytes` has whole bytes set from the lowest up.
inline uint32_t CountBytes(uint64_t bytes) {
  return static_cast<uint32_t>(((bytes & 0x0101010101010101) * 0x0101010101010101) >> 56);
}

// Decodes the varint at p, which has at least kWordSize bytes after it,
// when it ends within them: stores its value (all its bits) and returns the
// position after it. Returns null, storing nothing, for a longer varint.
QKXDR_INLINE const uint8_t* GetVarintWord(const uint8_t* p, uint64_t* value) {
  uint64_t x = LoadWord(p);
  const uint64_t stops = x & 0x8080808080808080;
  if (stops == 0) return nullptr;
  // The bytes up to the first stop bit, without their stop bits.
  const uint64_t varint = stops ^ (stops - 1);
  x &= varint & 0x7F7F7F7F7F7F7F7F;
  // Close the gaps between the 7-bit groups: pairs, then fours, then all.
  x = (x & 0x007F007F007F007F) | (x & 0x7F007F007F007F00) >> 1;
  x = (x & 0x00003FFF00003FFF) | (x & 0x3FFF00003FFF0000) >> 2;
  x = (x & 0x000000000FFFFFFF) | (x & 0x0FFFFFFF00000000) >> 4;
  *value = x;
  return p + CountBytes(varint);
}

// Writes the varint of v, which has at most kGroups 7-bit groups (kGroups <=
// 8), as PutVarint does; stores eight bytes at dst, of which those after the
// varint mean nothing. Returns the end of the varint.
// Bytes of x up to its highest non-zero one; 1 for zero.
inline uint32_t ByteLength(uint64_t x) { return (BitWidth(x | 1) + 7) / 8; }

template <size_t... K>
inline uint8_t* PutVarintWord(uint8_t* dst, uint64_t v, std::index_sequence<K...>) {
  const uint64_t groups = ((((v >> (7 * K)) & 0x7F) << (8 * K)) | ...);
  // The varint ends at its highest non-zero group, or at the first for zero.
  const uint32_t length = ByteLength(groups);
  StoreWord(dst, groups | uint64_t{0x80} << (8 * (length - 1)));
  return dst + length;
}

template <int kGroups>
inline uint8_t* PutVarintWord(uint8_t* dst, uint64_t v) {
  static_assert(kGroups >= 1 && kGroups <= kWordSize, "one group per byte of the word");
  return PutVarintWord(dst, v, std::make_index_sequence<kGroups>{});
}

// Groups per word for values of type T: all of a 32-bit value, the 56 low
// bits of a 64-bit one.
template <typename T>
constexpr int kWordGroups = sizeof(T) <= 4 ? kMaxVarint32 : kWordSize;

// Writes the varint of v as PutVarint does, into room for kMaxVarint64
// bytes, the longest of any width.
template <typename T>
inline uint8_t* PutVarintInRoom(uint8_t* dst, T v) {
  if (sizeof(T) > 4 && (uint64_t{v} >> 56) != 0) return PutVarint(dst, v);
  return PutVarintWord<kWordGroups<T>>(dst, v);
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_VARINT_WORD_H_
