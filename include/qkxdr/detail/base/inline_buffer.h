// Growable arrays of trivially copyable elements for the encoders' output:
// one whose first kRoom elements live inside the owning object, and the
// members every such array shares.

#ifndef QKXDR_DETAIL_BASE_INLINE_BUFFER_H_
#define QKXDR_DETAIL_BASE_INLINE_BUFFER_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "qkxdr/detail/base/compiler.h"

namespace qkxdr::impl {

// The size, the capacity and the elements of a growable array. A size beyond
// the capacity calls Derived::Grow(n), which moves the elements to storage
// for GrownCapacity(n) of them or more and calls SetStorage. The capacity
// never shrinks. A size beyond kMaxSize throws std::bad_alloc and leaves the
// array as it was.
template <typename Derived, typename T, uint32_t kMaxSize>
class GrowableBuffer {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy");

 public:
  GrowableBuffer(const GrowableBuffer&) = delete;
  GrowableBuffer& operator=(const GrowableBuffer&) = delete;

  static constexpr uint32_t max_size() { return kMaxSize; }
  uint32_t size() const { return size_; }
  uint32_t capacity() const { return capacity_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](uint32_t i) { return data_[i]; }
  const T& operator[](uint32_t i) const { return data_[i]; }

  // Sets the size to n, growing first when n exceeds the capacity.
  void Resize(uint64_t n) {
    if (n > capacity_) static_cast<Derived*>(this)->Grow(n);
    size_ = static_cast<uint32_t>(n);
  }

  // Sets the size to n, which must not exceed the capacity.
  void ResizeWithin(uint32_t n) { size_ = n; }

  // Adds k elements at the end; returns where they start.
  T* Extend(uint64_t k) {
    const uint32_t old_size = size_;
    Resize(uint64_t{old_size} + k);
    return data_ + old_size;
  }

  void Append(const T* items, uint32_t k) {
    T* dst = Extend(k);
    if (k != 0) std::memcpy(dst, items, sizeof(T) * k);
  }

  void PushBack(T item) { *Extend(1) = item; }

 protected:
  GrowableBuffer(T* data, uint32_t capacity) : capacity_(capacity), data_(data) {}
  ~GrowableBuffer() = default;

  // The capacity to grow to for a size of n: floor(n * 3 / 2), at most
  // kMaxSize. Throws std::bad_alloc when n is beyond kMaxSize.
  static uint32_t GrownCapacity(uint64_t n) {
    if (n > kMaxSize) throw std::bad_alloc();
    const uint64_t wanted = n * 3 / 2;
    return static_cast<uint32_t>(wanted < kMaxSize ? wanted : kMaxSize);
  }

  void SetStorage(T* data, uint32_t capacity) {
    data_ = data;
    capacity_ = capacity;
  }

 private:
  uint32_t size_ = 0;
  uint32_t capacity_;
  T* data_;
};

// Starts in its inner room. A size beyond the capacity moves the contents to
// a heap block of floor(n * 3 / 2) elements (at most kMaxSize); the buffer
// never returns to the room.
template <typename T, uint32_t kRoom, uint32_t kMaxSize = UINT32_MAX>
class InlineBuffer final : public GrowableBuffer<InlineBuffer<T, kRoom, kMaxSize>, T, kMaxSize> {
  static_assert(kRoom > 0 && kRoom <= kMaxSize, "room must fit the size limit");
  using Base = GrowableBuffer<InlineBuffer, T, kMaxSize>;
  friend Base;

 public:
  // The room is left uninitialised: only the first size() elements are read.
  // cppcheck-suppress uninitMemberVar
  InlineBuffer() : Base(room_, kRoom) {}
  ~InlineBuffer() {
    if (on_heap()) std::free(this->data());
  }

  bool on_heap() const { return this->data() != room_; }

 private:
  // A heap block grows with realloc, which moves the contents only when it
  // cannot extend the block in place (large blocks are remapped, not copied).
  // Out of line: callers that only append stay small.
  QKXDR_NOINLINE void Grow(uint64_t n) {
    const uint32_t grown = Base::GrownCapacity(n);
    const size_t bytes = sizeof(T) * size_t{grown};
    void* block = on_heap() ? std::realloc(this->data(), bytes) : std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    if (!on_heap()) std::memcpy(block, room_, sizeof(T) * this->size());
    this->SetStorage(static_cast<T*>(block), grown);
  }

  T room_[kRoom];
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_INLINE_BUFFER_H_
