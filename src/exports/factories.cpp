// The exported stream factories and the no-op entry point.

#include <new>

#include "QkXDR.h"
#include "exports/binary_streams.h"
#include "exports/text_streams.h"
#include "qkxdr/detail/base/assert.h"

namespace {

template <typename I>
I* CreateBinaryWriter() {
  return new (std::nothrow) QkXDROStreamImp<I>();
}

// A reader over [data, data + size), or null for no bytes. A range of at
// least one byte always has a current value; the check reports otherwise.
template <typename I>
I* CreateBinaryReader(const void* data, uint32_t size) {
  if (data == nullptr || size == 0) return nullptr;
  const auto* begin = static_cast<const uint8_t*>(data);
  auto* ret = new (std::nothrow) QkXDRIStreamImp<I>(begin, begin + size);
  if (ret == nullptr) return nullptr;
  qkxdr::impl::XDRAssert(ret->imp.IsValid(), "ret->imp");
  if (!ret->imp.IsValid()) {
    ret->Release();
    return nullptr;
  }
  return ret;
}

}  // namespace

extern "C" {

QKXDR_API QkXDROStream* QKXDR_CALL QkXDRCreateOStream(void) {
  return CreateBinaryWriter<QkXDROStream>();
}

QKXDR_API QkXDROStream2* QKXDR_CALL QkXDRCreateOStream2(void) {
  return CreateBinaryWriter<QkXDROStream2>();
}

QKXDR_API QkXDRIStream* QKXDR_CALL QkXDRCreateIStream(const void* data, uint32_t size) {
  return CreateBinaryReader<QkXDRIStream>(data, size);
}

QKXDR_API QkXDRIStream2* QKXDR_CALL QkXDRCreateIStream2(const void* data, uint32_t size) {
  return CreateBinaryReader<QkXDRIStream2>(data, size);
}

QKXDR_API QkXDROStream* QKXDR_CALL QkXDRCreateTextOStream(void) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream>();
}

QKXDR_API QkXDROStream2* QKXDR_CALL QkXDRCreateTextOStream2(void) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream2>();
}

QKXDR_API QkXDRIStream* QKXDR_CALL QkXDRCreateTextIStream(const char16_t* text, uint32_t length) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextIStreamImp<QkXDRIStream>(text, text + length);
}

QKXDR_API QkXDRIStream2* QKXDR_CALL QkXDRCreateTextIStream2(const char16_t* text, uint32_t length) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextIStreamImp<QkXDRIStream2>(text, text + length);
}

QKXDR_API void QKXDR_CALL QkXDRParse(void) {}

}  // extern "C"
