// The binary writer behind QkXDROStream and QkXDROStream2: a shell whose every
// operation forwards to its BinaryEncoder.

#ifndef QKXDR_SRC_BINARY_BINARY_OSTREAM_H_
#define QKXDR_SRC_BINARY_BINARY_OSTREAM_H_

#include <cstdint>
#include <type_traits>

#include "QkXDR.h"
#include "binary/binary_encoder.h"

// I is QkXDROStream or QkXDROStream2. The functions below implement I's
// virtual operations; the three that only QkXDROStream2 declares are plain,
// never-instantiated members of the first-generation writer.
template <typename I>
class QkXDROStreamImp final : public I {
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

  qkxdr::impl::BinaryEncoder imp;
};

// Every pure virtual operation of both interfaces is implemented.
static_assert(!std::is_abstract_v<QkXDROStreamImp<QkXDROStream>>);
static_assert(!std::is_abstract_v<QkXDROStreamImp<QkXDROStream2>>);

#endif  // QKXDR_SRC_BINARY_BINARY_OSTREAM_H_
