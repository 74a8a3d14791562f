// The items of the library's walk over a binary stream (item_walk.h), with
// the bytes that hold them, and their values written to an encoder of the
// library's streaming layer (qkxdr/stream.hpp): the decoding of a stream item
// by item, in memory bounded by its largest value.

#ifndef QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_
#define QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/binary/item_walk.h"
#include "qkxdr/detail/binary/unit_varints.h"

namespace qkxdr::tool {

using impl::WalkFault;
using impl::WalkItem;
using impl::WireType;

// Bytes of a stream held in memory: its bytes [offset, offset + size) at data.
struct StreamBytes {
  const uint8_t* data = nullptr;
  size_t offset = 0;
  size_t size = 0;

  // Where the stream's byte at `at` is held.
  const uint8_t* At(size_t at) const { return data + (at - offset); }
  const uint8_t* end() const { return data + size; }
};

// The first n units of a String item, which are there, into *units.
inline void ItemUnits(const WalkItem& item, const StreamBytes& bytes, uint32_t n,
                      std::u16string* units) {
  units->resize(n);
  impl::GetUnitVarints(bytes.At(item.data), bytes.end(), units->data(), n);
}

// Whether the complete item is a string holding U+0000, which no writer
// takes; a string's units go to *units.
inline bool IsZeroUnitString(const WalkItem& item, const StreamBytes& bytes,
                             std::u16string* units) {
  if (item.type != WireType::String) return false;
  ItemUnits(item, bytes, item.present, units);
  return impl::HoldsZeroUnit(std::u16string_view(*units));
}

inline double ItemDouble(const WalkItem& item) {
  double v;
  std::memcpy(&v, &item.number, sizeof v);
  return v;
}

// Whether two doubles are the same bit for bit: NaN payloads and the sign
// of zero count.
inline bool SameBits(double a, double b) {
  uint64_t x;
  uint64_t y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// Writes the complete item, a string as `units` (see IsZeroUnitString), to a
// streaming writer of the library (qkxdr/stream.hpp).
template <typename Writer>
void WriteItem(const WalkItem& item, const StreamBytes& bytes, const std::u16string& units,
               Writer* out) {
  switch (item.type) {
    case WireType::ArrayBegin:
      out->begin_array();
      break;
    case WireType::ArrayEnd:
      out->end_array();
      break;
    case WireType::Int:
      out->write(impl::UnZigZag64(item.number));
      break;
    case WireType::Double:
      out->write(ItemDouble(item));
      break;
    case WireType::String:
      out->write(std::u16string_view(units));
      break;
    case WireType::Binary:
      out->write(std::vector<uint8_t>(bytes.At(item.data), bytes.At(item.data) + item.present));
      break;
    default:
      break;
  }
}

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_
