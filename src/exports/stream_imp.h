// The exported stream interfaces over an encoder or a decoder: shells whose
// every operation forwards to the one state object inside.

#ifndef QKXDR_SRC_EXPORTS_STREAM_IMP_H_
#define QKXDR_SRC_EXPORTS_STREAM_IMP_H_

#include <cstdint>
#include <type_traits>
#include <utility>

#include "QkXDR.h"

namespace qkxdr::impl {

// The code of t among the type codes Code (QkXDRType or QkXDRType2). The first
// generation has no code for blobs: they are `blob` there.
template <typename Code>
Code PublicType(QkXDRType2 t, QkXDRType blob) {
  if constexpr (std::is_same_v<Code, QkXDRType2>) {
    return t;
  } else {
    // Indexed by QkXDRType2.
    constexpr QkXDRType kFirstGeneration[] = {QkXDRType::ArrayBegin, QkXDRType::ArrayEnd,
                                              QkXDRType::None,       QkXDRType::Int,
                                              QkXDRType::String,     QkXDRType::Double};
    return t == QkXDRType2::Binary ? blob : kFirstGeneration[static_cast<int32_t>(t)];
  }
}

// I is QkXDROStream or QkXDROStream2; Encoder writes one of the encodings.
// The functions below implement I's virtual operations; the three that only
// QkXDROStream2 declares are plain, never-instantiated members of the first
// generation's writer. Created by the factories, destroyed by Release.
template <typename I, typename Encoder>
class OStreamImp final : public I {
 public:
  void WriteStringA(const char* s) { imp.WriteStringA(s); }
  void WriteBinary(const QkXDRBinary* blob) { imp.WriteBinary(blob); }
  void WriteInt64(int64_t v) { imp.WriteInt64(v); }
  void WriteString(const char16_t* s) { imp.WriteString(s); }
  void WriteDouble(double v) { imp.WriteDouble(v); }
  void WriteInt(int32_t v) { imp.WriteInt(v); }
  void BeginArray() { imp.BeginArray(); }
  void EndArray() { imp.EndArray(); }
  const void* GetData() { return imp.data(); }
  uint32_t GetSize() { return imp.size(); }
  void Release() { delete this; }

  Encoder imp;

 private:
  ~OStreamImp() = default;
};

// I is QkXDRIStream or QkXDRIStream2; Decoder reads one of the encodings and
// reports QkXDRType2 codes, which the first generation's reader maps to its
// own, a blob to kFirstGenerationBlob. As OStreamImp otherwise.
template <typename I, typename Decoder, QkXDRType kFirstGenerationBlob>
class IStreamImp final : public I {
 public:
  using TypeCode = decltype(std::declval<I&>().PeekType());

  // Reads [begin, end), which must outlive the reader.
  template <typename Unit>
  IStreamImp(const Unit* begin, const Unit* end) : imp(begin, end) {}

  bool ReadStringA(QkXDRAllocator* allocator) { return imp.ReadStringA(allocator); }
  bool ReadBinary(QkXDRBinary* slot) { return imp.ReadBinary(slot); }
  bool ReadInt64(int64_t* v) { return imp.ReadInt64(v); }
  bool ReadString(QkXDRAllocator* allocator) { return imp.ReadString(allocator); }
  bool ReadDouble(double* v) { return imp.ReadDouble(v); }
  bool ReadInt(int32_t* v) { return imp.ReadInt(v); }
  TypeCode ReadType() { return PublicType<TypeCode>(imp.ReadType(), kFirstGenerationBlob); }
  TypeCode PeekType() { return PublicType<TypeCode>(imp.PeekType(), kFirstGenerationBlob); }
  bool ReadBeginArray() { return imp.ReadBeginArray(); }
  bool ReadEndArray() { return imp.ReadEndArray(); }
  void Skip() { imp.Skip(); }
  bool IsValid() { return imp.IsValid(); }
  void Release() { delete this; }

  Decoder imp;

 private:
  ~IStreamImp() = default;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_EXPORTS_STREAM_IMP_H_
