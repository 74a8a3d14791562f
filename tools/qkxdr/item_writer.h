// Values met by the wire walker, written to an encoder of the library's
// streaming layer (qkxdr/stream.hpp): the decoding of a stream item by item,
// in memory bounded by its largest value.

#ifndef QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_
#define QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_

#include <cstdint>
#include <cstring>
#include <string>

#include "qkxdr/detail/base/string_rules.h"
#include "values.h"
#include "wire_walker.h"

namespace qkxdr::tool {

// The units of a complete String item, into *units.
inline void ItemUnits(const WireItem& item, const StreamBytes& bytes, std::u16string* units) {
  units->clear();
  DecodeUnits(bytes.At(item.data), bytes.end(), item.number, units);
}

// Whether the complete item is a string holding U+0000, which no writer
// takes; a string's units go to *units, as ItemUnits puts them.
inline bool IsZeroUnitString(const WireItem& item, const StreamBytes& bytes,
                             std::u16string* units) {
  if (item.kind != WireKind::String) return false;
  ItemUnits(item, bytes, units);
  return impl::HoldsZeroUnit(std::u16string_view(*units));
}

inline double ItemDouble(const WireItem& item) {
  double v;
  std::memcpy(&v, &item.number, sizeof v);
  return v;
}

// Writes the complete item, a string as `units` (see ItemUnits), with the
// calls of the encoders: WriteInt, WriteInt64, WriteDouble, WriteString,
// WriteBytes, BeginArray, EndArray.
template <typename Encoder>
void WriteItem(const WireItem& item, const StreamBytes& bytes, const std::u16string& units,
               Encoder* out) {
  switch (item.kind) {
    case WireKind::ArrayBegin:
      out->BeginArray();
      break;
    case WireKind::ArrayEnd:
      out->EndArray();
      break;
    case WireKind::Int:
      WriteInteger(UnZigZag(item.number), out);
      break;
    case WireKind::Double:
      out->WriteDouble(ItemDouble(item));
      break;
    case WireKind::String:
      out->WriteString(units.data(), units.size());
      break;
    case WireKind::Binary:
      out->WriteBytes(bytes.At(item.data), static_cast<uint32_t>(item.number));
      break;
    default:
      break;
  }
}

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_ITEM_WRITER_H_
