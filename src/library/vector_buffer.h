// An encoder's output buffer inside a caller's container, so that the
// encoded bytes or text need no copy and the container's storage is reused.

#ifndef QKXDR_SRC_LIBRARY_VECTOR_BUFFER_H_
#define QKXDR_SRC_LIBRARY_VECTOR_BUFFER_H_

#include <cstddef>
#include <cstdint>

#include "library/compiler.h"
#include "library/inline_buffer.h"

namespace qkxdr::impl {

// The members of InlineBuffer over a contiguous container with resize,
// reserve, capacity and data (std::vector<uint8_t>, std::u16string...).
//
// The buffer starts empty and takes all of the container's storage, up to
// kMaxSize elements, as its capacity: while it lives the container's size is
// the buffer's capacity, and when it ends the container is cut to the
// buffer's size, so that it holds exactly the elements written. A size beyond
// the capacity reserves floor(n * 3 / 2) elements (at most kMaxSize) in the
// container. A size beyond kMaxSize, or a reserve that runs out of memory,
// throws std::bad_alloc and leaves the buffer as it was. The container must
// not be used otherwise while the buffer lives.
template <typename Container, uint32_t kMaxSize = UINT32_MAX>
class VectorBuffer final : public GrowableBuffer<VectorBuffer<Container, kMaxSize>,
                                                 typename Container::value_type, kMaxSize> {
  using Base = GrowableBuffer<VectorBuffer, typename Container::value_type, kMaxSize>;
  friend Base;

 public:
  explicit VectorBuffer(Container* out) : Base(nullptr, 0), out_(out) { TakeStorage(); }
  ~VectorBuffer() { out_->resize(this->size()); }

 private:
  // Sizes the container to its capacity, at most kMaxSize, all of it room.
  void TakeStorage() {
    const size_t capacity = out_->capacity();
    out_->resize(capacity < kMaxSize ? capacity : kMaxSize);
    this->SetStorage(out_->data(), static_cast<uint32_t>(out_->size()));
  }

  QKXDR_NOINLINE void Grow(uint64_t n) {
    out_->reserve(Base::GrownCapacity(n));
    TakeStorage();
  }

  Container* out_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_LIBRARY_VECTOR_BUFFER_H_
