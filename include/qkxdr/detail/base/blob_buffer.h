// The byte buffers that live inside a caller's QkXDRBinary slot: a view on
// bytes held elsewhere, or a reference-counted block of the library's own.

#ifndef QKXDR_DETAIL_BASE_BLOB_BUFFER_H_
#define QKXDR_DETAIL_BASE_BLOB_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "QkXDR.h"
#include "qkxdr/detail/binary/coding.h"

namespace qkxdr::impl {

// Abstract byte buffer, constructed in place in a QkXDRBinary. Its dispatch
// table is part of the binary interface, four entries on every compiler:
// destroy, clone, size, data. A virtual destructor would take two entries
// under some ABIs, so objects end through destroy() instead.
class binary_base {
 public:
  // Ends this object's life in place, releasing what it owns; the storage
  // stays the caller's.
  virtual void destroy() = 0;
  // Constructs a copy of this object in `storage` and returns it.
  virtual binary_base* clone(QkXDRBinary* storage) const = 0;
  virtual uint32_t size() const = 0;
  virtual const uint8_t* data() const = 0;

 protected:
  binary_base() = default;
  binary_base(const binary_base&) = default;
  binary_base& operator=(const binary_base&) = delete;
  ~binary_base() = default;
};

// A non-owning view on (data, size).
class shallow_binary final : public binary_base {
 public:
  shallow_binary(const void* data, uint32_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  // The blob whose length varint starts at p in binary-encoded data ending at
  // e: the view covers the bytes after the length, cut short at e.
  shallow_binary(const uint8_t* p, const uint8_t* e) {
    uint32_t length;
    data_ = qkxdr::impl::GetVarint32(p, e, &length);
    const auto left = static_cast<size_t>(e - data_);
    size_ = length < left ? length : static_cast<uint32_t>(left);
  }

  void destroy() override { this->~shallow_binary(); }
  binary_base* clone(QkXDRBinary* storage) const override {
    return new (storage) shallow_binary(*this);
  }
  uint32_t size() const override { return size_; }
  const uint8_t* data() const override { return data_; }
  const uint8_t* end() const { return data_ + size_; }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

// An owner of a shared block: [size u32][references u32][payload]. The
// header fields are read and written bytewise: the block is raw storage.
class deep_binary final : public binary_base {
 public:
  // A new block of n bytes with one reference; the payload is left to fill.
  explicit deep_binary(uint32_t n) : block_(new uint8_t[size_t{n} + kHeaderSize]) {
    Store(kSizeField, n);
    Store(kReferencesField, 1);
  }
  // Shares other's block.
  // cppcheck-suppress copyCtorPointerCopying ; one more reference is counted
  deep_binary(const deep_binary& other) : binary_base(other), block_(other.block_) {
    if (block_ != nullptr) Store(kReferencesField, references() + 1);
  }
  deep_binary& operator=(const deep_binary&) = delete;
  ~deep_binary() {
    if (block_ == nullptr) return;
    const uint32_t left = references() - 1;
    if (left == 0) {
      delete[] block_;
    } else {
      Store(kReferencesField, left);
    }
  }

  void destroy() override { this->~deep_binary(); }
  binary_base* clone(QkXDRBinary* storage) const override {
    return new (storage) deep_binary(*this);
  }
  uint32_t size() const override { return Load(kSizeField); }
  const uint8_t* data() const override {
    return block_ == nullptr ? nullptr : block_ + kHeaderSize;
  }
  uint8_t* mutable_data() { return block_ == nullptr ? nullptr : block_ + kHeaderSize; }
  // Number of owners sharing the block (0 without a block).
  uint32_t references() const { return Load(kReferencesField); }

 private:
  static constexpr uint32_t kHeaderSize = 8;
  static constexpr size_t kSizeField = 0;
  static constexpr size_t kReferencesField = 4;

  // A header field; 0 without a block.
  uint32_t Load(size_t field) const {
    uint32_t v = 0;
    if (block_ != nullptr) std::memcpy(&v, block_ + field, sizeof v);
    return v;
  }
  void Store(size_t field, uint32_t v) { std::memcpy(block_ + field, &v, sizeof v); }

  uint8_t* block_;
};

static_assert(sizeof(shallow_binary) <= sizeof(QkXDRBinary), "a view must fit in a slot");
static_assert(sizeof(deep_binary) <= sizeof(QkXDRBinary), "an owner must fit in a slot");
static_assert(alignof(shallow_binary) <= alignof(QkXDRBinary), "a view must be slot-aligned");
static_assert(alignof(deep_binary) <= alignof(QkXDRBinary), "an owner must be slot-aligned");

// The object held by the slot, or null when the slot is empty. The slot's
// first word is the held object's dispatch pointer, or zero when the slot is
// empty; it is inspected bytewise since the storage may hold an object of any
// buffer type.
inline binary_base* Held(const QkXDRBinary* slot) {
  void* first_word;
  std::memcpy(&first_word, slot, sizeof first_word);
  if (first_word == nullptr) return nullptr;
  auto* storage = const_cast<QkXDRBinary*>(slot);
  return std::launder(reinterpret_cast<binary_base*>(storage));
}

// Destroys what the slot holds and marks it empty.
inline void Empty(QkXDRBinary* slot) {
  binary_base* held = Held(slot);
  if (held == nullptr) return;
  held->destroy();
  void* const zero = nullptr;
  std::memcpy(slot, &zero, sizeof zero);
}

// Makes dst a copy of src (null: empty). Nothing happens when dst is the
// storage that holds src.
inline void Assign(QkXDRBinary* dst, const binary_base* src) {
  if (static_cast<const void*>(src) == static_cast<const void*>(dst)) return;
  Empty(dst);
  if (src != nullptr) src->clone(dst);
}

// Makes dst a view on (data, size): Assign of such a view, without one to
// copy from.
inline void AssignView(QkXDRBinary* dst, const void* data, uint32_t size) {
  Empty(dst);
  new (dst) shallow_binary(data, size);
}

// Bytes as a writer takes them from a slot.
struct HeldBytes {
  const uint8_t* data;
  uint32_t size;
};

// The bytes of the blob in the slot; none for a null slot pointer, an empty
// slot, and a view on null data.
inline HeldBytes BytesOf(const QkXDRBinary* slot) {
  const binary_base* held = slot == nullptr ? nullptr : Held(slot);
  const uint8_t* data = held == nullptr ? nullptr : held->data();
  return {data, data == nullptr ? 0 : held->size()};
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_BLOB_BUFFER_H_
