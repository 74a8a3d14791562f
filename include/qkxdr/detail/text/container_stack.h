// The containers a text tokenizer has open, innermost on top.

#ifndef QKXDR_DETAIL_TEXT_CONTAINER_STACK_H_
#define QKXDR_DETAIL_TEXT_CONTAINER_STACK_H_

#include <cstdint>

#include "qkxdr/detail/base/inline_buffer.h"

namespace qkxdr::impl {

enum class ContainerKind : uint8_t { Array = 0, Object = 1 };

// Holds 8 levels inside itself; deeper nesting moves to a heap array of one
// and a half times the depth needed. Never shrinks.
class ContainerStack {
 public:
  void Push(ContainerKind kind) { entries_.PushBack(static_cast<uint8_t>(kind)); }
  // Requires a non-empty stack.
  void Pop() { entries_.Resize(entries_.size() - 1); }
  // Requires a non-empty stack.
  ContainerKind Top() const { return static_cast<ContainerKind>(entries_[entries_.size() - 1]); }

  bool empty() const { return entries_.size() == 0; }
  uint32_t depth() const { return entries_.size(); }
  uint32_t capacity() const { return entries_.capacity(); }
  bool on_heap() const { return entries_.on_heap(); }

 private:
  InlineBuffer<uint8_t, 8> entries_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_CONTAINER_STACK_H_
