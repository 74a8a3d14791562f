// An encoder's output buffer inside a caller's container, so that the
// encoded bytes or text need no copy and the container's storage is reused.

#ifndef QKXDR_DETAIL_BASE_VECTOR_BUFFER_H_
#define QKXDR_DETAIL_BASE_VECTOR_BUFFER_H_

#include <cstddef>
#include <cstdint>

#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/inline_buffer.h"

namespace qkxdr::impl {

// The members of InlineBuffer over a contiguous container with resize,
// reserve, capacity and data (std::vector<uint8_t>, std::u16string...).
//
// The buffer starts empty and writes over the container's elements, up to
// kMaxSize: while it lives the container's size is at least the buffer's
// capacity, and when it ends the container is cut to the buffer's size, so
// that it holds exactly the elements written. The container's own elements
// are the first room, so an output reused for one of the same size is never
// filled before it is written. A size beyond them takes the rest of the
// container's capacity, and beyond that reserves floor(n * 3 / 2) elements
// (at most kMaxSize). A size beyond kMaxSize, or a reserve that runs out of
// memory, throws std::bad_alloc and leaves the buffer as it was. The
// container must not be used otherwise while the buffer lives.
template <typename Container, uint32_t kMaxSize = UINT32_MAX>
class VectorBuffer final : public GrowableBuffer<VectorBuffer<Container, kMaxSize>,
                                                 typename Container::value_type, kMaxSize> {
  using Base = GrowableBuffer<VectorBuffer, typename Container::value_type, kMaxSize>;
  friend Base;

 public:
  explicit VectorBuffer(Container* out) : Base(nullptr, 0), out_(out) { TakeStorage(); }
  ~VectorBuffer() { out_->resize(this->size()); }

 private:
  // Takes the container's elements, at most kMaxSize, as the capacity.
  void TakeStorage() {
    if (out_->size() > kMaxSize) out_->resize(kMaxSize);
    this->SetStorage(out_->data(), static_cast<uint32_t>(out_->size()));
  }

  QKXDR_NOINLINE void Grow(uint64_t n) {
    const uint32_t grown = Base::GrownCapacity(n);  // throws beyond kMaxSize
    if (n > out_->capacity()) out_->reserve(grown);
    const size_t capacity = out_->capacity();
    out_->resize(capacity < kMaxSize ? capacity : kMaxSize);
    TakeStorage();
  }

  Container* out_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_VECTOR_BUFFER_H_
