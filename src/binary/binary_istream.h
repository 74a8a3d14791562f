// The binary reader behind QkXDRIStream and QkXDRIStream2: a shell whose every
// operation forwards to its BinaryDecoder, mapping wire types to the public
// type codes of the interface's generation.

#ifndef QKXDR_SRC_BINARY_BINARY_ISTREAM_H_
#define QKXDR_SRC_BINARY_BINARY_ISTREAM_H_

#include <cstdint>
#include <type_traits>
#include <utility>

#include "QkXDR.h"
#include "binary/binary_decoder.h"
#include "binary/run_state.h"

namespace qkxdr::impl {

// Public code of each wire type, indexed by its number; the last entry is for
// runs of tag bytes 252-255. First-generation readers have no code for blobs.
constexpr QkXDRType kTypeCodes[] = {QkXDRType::ArrayBegin, QkXDRType::ArrayEnd, QkXDRType::Int,
                                    QkXDRType::Double,     QkXDRType::String,   QkXDRType::None,
                                    QkXDRType::None};
constexpr QkXDRType2 kTypeCodes2[] = {
    QkXDRType2::ArrayBegin, QkXDRType2::ArrayEnd, QkXDRType2::Int, QkXDRType2::Double,
    QkXDRType2::String,     QkXDRType2::Binary,   QkXDRType2::None};

// The code of wire type t in the type code set Code (QkXDRType or QkXDRType2).
template <typename Code>
Code PublicType(WireType t) {
  const auto index = static_cast<uint8_t>(t);
  if constexpr (std::is_same_v<Code, QkXDRType>) {
    return kTypeCodes[index];
  } else {
    return kTypeCodes2[index];
  }
}

}  // namespace qkxdr::impl

// I is QkXDRIStream or QkXDRIStream2. The functions below implement I's
// virtual operations; the three that only QkXDRIStream2 declares are plain,
// never-instantiated members of the first-generation reader.
template <typename I>
class QkXDRIStreamImp final : public I {
 public:
  using TypeCode = decltype(std::declval<I&>().PeekType());

  QkXDRIStreamImp(const uint8_t* begin, const uint8_t* end) : imp(begin, end) {}

  bool ReadStringA(QkXDRAllocator* allocator) { return imp.ReadStringA(allocator); }
  bool ReadBinary(QkXDRBinary* slot) { return imp.ReadBinary(slot); }
  bool ReadInt64(int64_t* v) { return imp.ReadInt64(v); }
  bool ReadString(QkXDRAllocator* allocator) { return imp.ReadString(allocator); }
  bool ReadDouble(double* v) { return imp.ReadDouble(v); }
  bool ReadInt(int32_t* v) { return imp.ReadInt(v); }
  TypeCode ReadType() { return qkxdr::impl::PublicType<TypeCode>(imp.ReadType()); }
  TypeCode PeekType() { return qkxdr::impl::PublicType<TypeCode>(imp.Type()); }
  bool ReadBeginArray() { return imp.ReadBeginArray(); }
  bool ReadEndArray() { return imp.ReadEndArray(); }
  void Skip() { imp.Skip(); }
  bool IsValid() { return static_cast<bool>(imp); }
  void Release() { delete this; }

  qkxdr::impl::BinaryDecoder imp;
};

// Every pure virtual operation of both interfaces is implemented.
static_assert(!std::is_abstract_v<QkXDRIStreamImp<QkXDRIStream>>);
static_assert(!std::is_abstract_v<QkXDRIStreamImp<QkXDRIStream2>>);

#endif  // QKXDR_SRC_BINARY_BINARY_ISTREAM_H_
