// A growable array of trivially copyable elements whose first kRoom elements
// live inside the owning object.

#ifndef QKXDR_SRC_LIBRARY_INLINE_BUFFER_H_
#define QKXDR_SRC_LIBRARY_INLINE_BUFFER_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "library/compiler.h"

namespace qkxdr::impl {

// Starts in its inner room. A size beyond the capacity moves the contents to
// a heap block of floor(n * 3 / 2) elements (at most kMaxSize); the buffer
// never shrinks and never returns to the room. A size beyond kMaxSize throws
// std::bad_alloc and leaves the buffer as it was.
template <typename T, uint32_t kRoom, uint32_t kMaxSize = UINT32_MAX>
class InlineBuffer {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy");
  static_assert(kRoom > 0 && kRoom <= kMaxSize, "room must fit the size limit");

 public:
  // The room is left uninitialised: only the first size() elements are read.
  // cppcheck-suppress uninitMemberVar
  InlineBuffer() = default;
  InlineBuffer(const InlineBuffer&) = delete;
  InlineBuffer& operator=(const InlineBuffer&) = delete;
  ~InlineBuffer() {
    if (data_ != room_) std::free(data_);
  }

  uint32_t size() const { return size_; }
  uint32_t capacity() const { return capacity_; }
  bool on_heap() const { return data_ != room_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](uint32_t i) { return data_[i]; }
  const T& operator[](uint32_t i) const { return data_[i]; }

  // Sets the size to n, growing first when n exceeds the capacity.
  void Resize(uint64_t n) {
    if (n > capacity_) Grow(n);
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

 private:
  // A heap block grows with realloc, which moves the contents only when it
  // cannot extend the block in place (large blocks are remapped, not copied).
  // Out of line: callers that only append stay small.
  QKXDR_NOINLINE void Grow(uint64_t n) {
    if (n > kMaxSize) throw std::bad_alloc();
    const uint64_t wanted = n * 3 / 2;
    const uint32_t grown = static_cast<uint32_t>(wanted < kMaxSize ? wanted : kMaxSize);
    const size_t bytes = sizeof(T) * size_t{grown};
    void* block = on_heap() ? std::realloc(data_, bytes) : std::malloc(bytes);
    if (block == nullptr) throw std::bad_alloc();
    if (!on_heap()) std::memcpy(block, data_, sizeof(T) * size_);
    data_ = static_cast<T*>(block);
    capacity_ = grown;
  }

  uint32_t size_ = 0;
  uint32_t capacity_ = kRoom;
  T* data_ = room_;
  T room_[kRoom];
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_LIBRARY_INLINE_BUFFER_H_
