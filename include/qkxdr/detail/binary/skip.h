// Bounded skipping over payloads of the binary format. Every function takes
// the end of the data `e`, never reads at or beyond it, and returns e when the
// data ends before the skipped item is complete.

#ifndef QKXDR_DETAIL_BINARY_SKIP_H_
#define QKXDR_DETAIL_BINARY_SKIP_H_

#include <cstddef>
#include <cstdint>

#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/run_state.h"

namespace qkxdr::impl {

// Position after n varints: one scan counting terminating bytes.
inline const uint8_t* SkipVarints(const uint8_t* p, const uint8_t* e, uint32_t n) {
  while (n != 0 && p < e) {
    if (*p++ & 0x80) --n;
  }
  return p;
}

// Number of varints that end in [p, e): the bytes with bit 7 set.
inline size_t VarintEnds(const uint8_t* p, const uint8_t* e) {
  size_t ends = 0;
  for (; p < e; ++p) ends += *p >> 7;
  return ends;
}

// Position after one string payload (length, then one varint per unit).
inline const uint8_t* SkipString(const uint8_t* p, const uint8_t* e) {
  uint32_t length;
  p = GetVarint32(p, e, &length);
  return SkipVarints(p, e, length);
}

// Position after n doubles.
inline const uint8_t* SkipDoubles(const uint8_t* p, const uint8_t* e, uint32_t n) {
  const uint64_t bytes = uint64_t{n} * kDoubleSize;
  return bytes < static_cast<uint64_t>(e - p) ? p + bytes : e;
}

// Position after one blob payload (length, then that many bytes).
inline const uint8_t* SkipBlob(const uint8_t* p, const uint8_t* e) {
  uint32_t size;
  p = GetVarint32(p, e, &size);
  return size < static_cast<size_t>(e - p) ? p + size : e;
}

// Position after n items skipped one at a time by SkipOne.
template <const uint8_t* (*SkipOne)(const uint8_t*, const uint8_t*)>
inline const uint8_t* SkipEach(const uint8_t* p, const uint8_t* e, uint32_t n) {
  for (; n != 0 && p < e; --n) p = SkipOne(p, e);
  return p;
}

inline const uint8_t* SkipStrings(const uint8_t* p, const uint8_t* e, uint32_t n) {
  return SkipEach<SkipString>(p, e, n);
}

inline const uint8_t* SkipBlobs(const uint8_t* p, const uint8_t* e, uint32_t n) {
  return SkipEach<SkipBlob>(p, e, n);
}

// Position after n values of type t at p; array markers and runs of tag bytes
// 252-255 have no payload.
inline const uint8_t* SkipValues(WireType t, const uint8_t* p, const uint8_t* e, uint32_t n) {
  switch (t) {
    case WireType::Int:
      return SkipVarints(p, e, n);
    case WireType::Double:
      return SkipDoubles(p, e, n);
    case WireType::String:
      return SkipStrings(p, e, n);
    case WireType::Binary:
      return SkipBlobs(p, e, n);
    default:
      return p;
  }
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_SKIP_H_
