// The byte buffers that live inside a caller's QkXDRBinary slot: a view on
// bytes held elsewhere, or a reference-counted block of the library's own.

#ifndef QKXDR_SRC_SBUF_BINARY_H_
#define QKXDR_SRC_SBUF_BINARY_H_

#include <cstdint>

#include "QkXDR.h"

namespace sbuf {

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
  shallow_binary(const uint8_t* p, const uint8_t* e);

  void destroy() override { this->~shallow_binary(); }
  binary_base* clone(QkXDRBinary* storage) const override;
  uint32_t size() const override { return size_; }
  const uint8_t* data() const override { return data_; }
  const uint8_t* end() const { return data_ + size_; }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

// An owner of a shared block: [size u32][references u32][payload].
class deep_binary final : public binary_base {
 public:
  // A new block of n bytes with one reference; the payload is left to fill.
  explicit deep_binary(uint32_t n);
  // Shares other's block.
  deep_binary(const deep_binary& other);
  deep_binary& operator=(const deep_binary&) = delete;
  ~deep_binary();

  void destroy() override { this->~deep_binary(); }
  binary_base* clone(QkXDRBinary* storage) const override;
  uint32_t size() const override;
  const uint8_t* data() const override;
  uint8_t* mutable_data() { return block_ == nullptr ? nullptr : block_ + kHeaderSize; }
  // Number of owners sharing the block (0 without a block).
  uint32_t references() const;

 private:
  static constexpr uint32_t kHeaderSize = 8;
  uint8_t* block_;
};

// The object held by the slot, or null when the slot is empty.
binary_base* Held(const QkXDRBinary* slot);

// Destroys what the slot holds and marks it empty.
void Empty(QkXDRBinary* slot);

// Makes dst a copy of src (null: empty). Nothing happens when dst is the
// storage that holds src.
void Assign(QkXDRBinary* dst, const binary_base* src);

// Makes dst a view on (data, size): Assign of such a view, without one to
// copy from.
void AssignView(QkXDRBinary* dst, const void* data, uint32_t size);

}  // namespace sbuf

#endif  // QKXDR_SRC_SBUF_BINARY_H_
