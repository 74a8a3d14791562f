// The exported blob slot functions.

#include <cstring>

#include "QkXDR.h"
#include "qkxdr/detail/base/blob_buffer.h"

extern "C" {

QKXDR_API void QKXDR_CALL QkXDRBinaryAttach(QkXDRBinary* dst, const void* data, uint32_t size) {
  qkxdr::impl::AssignView(dst, data, size);
}

QKXDR_API void QKXDR_CALL QkXDRBinaryCopy(QkXDRBinary* dst, const QkXDRBinary* src) {
  qkxdr::impl::Assign(dst, qkxdr::impl::Held(src));
}

QKXDR_API void QKXDR_CALL QkXDRBinaryFree(QkXDRBinary* slot) { qkxdr::impl::Empty(slot); }

QKXDR_API const void* QKXDR_CALL QkXDRBinaryData(const QkXDRBinary* slot) {
  const qkxdr::impl::binary_base* held = qkxdr::impl::Held(slot);
  return held == nullptr ? nullptr : held->data();
}

QKXDR_API uint32_t QKXDR_CALL QkXDRBinarySize(const QkXDRBinary* slot) {
  const qkxdr::impl::binary_base* held = qkxdr::impl::Held(slot);
  return held == nullptr ? 0 : held->size();
}

QKXDR_API uint32_t QKXDR_CALL QkXDRBinaryRead(const QkXDRBinary* slot, QkXDRAllocator* allocator) {
  const uint32_t size = QkXDRBinarySize(slot);
  const void* data = QkXDRBinaryData(slot);
  // A view attached to a null pointer has nothing to copy, whatever its size.
  if (size == 0 || data == nullptr) return 0;
  void* buffer = allocator->Alloc(size);
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, data, size);
  return size;
}

}  // extern "C"
