#include "sbuf/binary.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "binary/coding.h"

namespace sbuf {
namespace {

static_assert(sizeof(shallow_binary) <= sizeof(QkXDRBinary), "a view must fit in a slot");
static_assert(sizeof(deep_binary) <= sizeof(QkXDRBinary), "an owner must fit in a slot");
static_assert(alignof(shallow_binary) <= alignof(QkXDRBinary), "a view must be slot-aligned");
static_assert(alignof(deep_binary) <= alignof(QkXDRBinary), "an owner must be slot-aligned");

// Block header fields are read and written bytewise: the block is raw storage.
uint32_t LoadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void StoreU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

constexpr size_t kSizeField = 0;
constexpr size_t kReferencesField = 4;

}  // namespace

shallow_binary::shallow_binary(const uint8_t* p, const uint8_t* e) {
  uint32_t length;
  data_ = qkxdr::impl::GetVarint32(p, e, &length);
  const auto left = static_cast<size_t>(e - data_);
  size_ = length < left ? length : static_cast<uint32_t>(left);
}

binary_base* shallow_binary::clone(QkXDRBinary* storage) const {
  return new (storage) shallow_binary(*this);
}

deep_binary::deep_binary(uint32_t n) : block_(new uint8_t[size_t{n} + kHeaderSize]) {
  StoreU32(block_ + kSizeField, n);
  StoreU32(block_ + kReferencesField, 1);
}

deep_binary::deep_binary(const deep_binary& other) : binary_base(other), block_(other.block_) {
  if (block_ != nullptr) StoreU32(block_ + kReferencesField, references() + 1);
}

deep_binary::~deep_binary() {
  if (block_ == nullptr) return;
  const uint32_t left = references() - 1;
  if (left == 0) {
    delete[] block_;
  } else {
    StoreU32(block_ + kReferencesField, left);
  }
}

binary_base* deep_binary::clone(QkXDRBinary* storage) const {
  return new (storage) deep_binary(*this);
}

uint32_t deep_binary::size() const { return block_ == nullptr ? 0 : LoadU32(block_ + kSizeField); }

const uint8_t* deep_binary::data() const {
  return block_ == nullptr ? nullptr : block_ + kHeaderSize;
}

uint32_t deep_binary::references() const {
  return block_ == nullptr ? 0 : LoadU32(block_ + kReferencesField);
}

// The slot's first word is the held object's dispatch pointer, or zero when
// the slot is empty; it is inspected bytewise since the storage may hold an
// object of any buffer type.
binary_base* Held(const QkXDRBinary* slot) {
  void* first_word;
  std::memcpy(&first_word, slot, sizeof first_word);
  if (first_word == nullptr) return nullptr;
  auto* storage = const_cast<QkXDRBinary*>(slot);
  return std::launder(reinterpret_cast<binary_base*>(storage));
}

void Empty(QkXDRBinary* slot) {
  binary_base* held = Held(slot);
  if (held == nullptr) return;
  held->destroy();
  void* const zero = nullptr;
  std::memcpy(slot, &zero, sizeof zero);
}

void Assign(QkXDRBinary* dst, const binary_base* src) {
  if (static_cast<const void*>(src) == static_cast<const void*>(dst)) return;
  Empty(dst);
  if (src != nullptr) src->clone(dst);
}

void AssignView(QkXDRBinary* dst, const void* data, uint32_t size) {
  Empty(dst);
  new (dst) shallow_binary(data, size);
}

}  // namespace sbuf
