#include "wire_walker.h"

#include <algorithm>

namespace qkxdr::tool {
namespace {

constexpr uint8_t kRunLimit = 42;
constexpr uint8_t kTypeCount = 6;  // types 0-5 have a payload format
constexpr size_t kDoubleSize = 8;

}  // namespace

const uint8_t* ReadVarint(const uint8_t* p, const uint8_t* e, uint64_t* value) {
  uint64_t v = 0;
  // Groups past the 64th bit are dropped, as the library's decoders do.
  for (unsigned shift = 0; p < e; shift = std::min(shift + 7, 64u)) {
    const uint8_t byte = *p++;
    if (shift < 64) v |= uint64_t{byte & 0x7Fu} << shift;
    if (byte & 0x80) {
      *value = v;
      return p;
    }
  }
  return nullptr;
}

int64_t UnZigZag(uint64_t u) {
  // Odd values are negative: the complement of u shifted right by one.
  return static_cast<int64_t>((u & 1) ? ~(u >> 1) : u >> 1);
}

void DecodeUnits(const uint8_t* p, const uint8_t* e, uint64_t max, std::u16string* out) {
  for (uint64_t i = 0; i < max; ++i) {
    uint64_t unit;
    p = ReadVarint(p, e, &unit);
    if (p == nullptr) return;
    out->push_back(static_cast<char16_t>(unit & 0xFFFF));
  }
}

WireWalker::WireWalker(const uint8_t* begin, const uint8_t* end, const Resume& at, bool final)
    : begin_(begin),
      p_(begin),
      end_(end),
      base_(at.offset),
      final_(final),
      tagOffset_(at.tagOffset),
      tag_(at.tag),
      index_(at.index),
      left_(at.left),
      depth_(at.depth) {}

WireWalker::Resume WireWalker::Stopped() const {
  return {Offset(p_), tagOffset_, tag_, index_, left_, depth_};
}

bool WireWalker::Next(WireItem* item) {
  *item = WireItem();
  if (stalled_) return false;
  if (left_ > 0) {
    ReadValue(item);
    return !stalled_;
  }
  if (p_ < end_) return StartRun(item);
  if (depth_ == 0 || closed_ || !final_) return false;
  closed_ = true;
  item->offset = item->data = item->end = Offset(p_);
  item->depth = depth_;
  item->fault = WireFault::UnclosedArrays;
  return true;
}

bool WireWalker::StartRun(WireItem* item) {
  tagOffset_ = Offset(p_);
  tag_ = *p_++;
  index_ = 0;
  left_ = static_cast<uint8_t>(tag_ % kRunLimit + 1);
  if (tag_ / kRunLimit < kTypeCount) {
    ReadValue(item);
    return !stalled_;
  }
  // No payload format is known, so no value can be read: the next byte is
  // taken as the next tag.
  item->offset = tagOffset_;
  item->data = item->end = tagOffset_ + 1;
  item->tag = tag_;
  item->count = left_;
  item->depth = depth_;
  item->fault = WireFault::UnknownTag;
  left_ = 0;
  return true;
}

void WireWalker::ReadValue(WireItem* item) {
  const Resume before = Stopped();
  item->data = Offset(p_);
  item->tag = tag_;
  item->kind = static_cast<WireKind>(tag_ / kRunLimit);
  // Array markers have no bytes of their own: each is its run's tag byte.
  const bool marker = item->kind == WireKind::ArrayBegin || item->kind == WireKind::ArrayEnd;
  item->offset = index_ == 0 || marker ? tagOffset_ : item->data;
  item->index = ++index_;
  item->count = static_cast<uint8_t>(index_ + --left_);
  UpdateDepth(item);
  if (!ReadPayload(item)) {
    if (!final_) {
      // Walked again once more bytes are there: from its run's tag byte
      // when it is the run's first value, which shows that byte.
      const bool first = before.index == 0;
      p_ = begin_ + ((first ? tagOffset_ : before.offset) - base_);
      index_ = before.index;
      left_ = first ? 0 : before.left;
      depth_ = before.depth;
      stalled_ = true;
      return;
    }
    item->fault = WireFault::Truncated;
    p_ = end_;
    left_ = 0;  // the rest of the run is missing too
  }
  item->end = Offset(p_);
}

void WireWalker::UpdateDepth(WireItem* item) {
  if (item->kind == WireKind::ArrayBegin) {
    item->depth = depth_++;
  } else if (item->kind != WireKind::ArrayEnd) {
    item->depth = depth_;
  } else if (depth_ == 0) {
    item->fault = WireFault::UnbalancedEnd;
  } else {
    item->depth = --depth_;
  }
}

bool WireWalker::ReadPayload(WireItem* item) {
  switch (item->kind) {
    case WireKind::Int: {
      const uint8_t* next = ReadVarint(p_, end_, &item->number);
      if (next == nullptr) return false;
      p_ = next;
      return true;
    }
    case WireKind::Double:
      if (static_cast<size_t>(end_ - p_) < kDoubleSize) return false;
      for (size_t i = 0; i < kDoubleSize; ++i) item->number |= uint64_t{p_[i]} << (8 * i);
      p_ += kDoubleSize;
      return true;
    case WireKind::String:
    case WireKind::Binary:
      return ReadCounted(item);
    default:
      return true;  // array markers have no payload
  }
}

// A string or blob: a 32-bit length, then that many unit varints or bytes.
bool WireWalker::ReadCounted(WireItem* item) {
  uint64_t length;
  const uint8_t* p = ReadVarint(p_, end_, &length);
  if (p == nullptr) return false;
  item->number = length & 0xFFFFFFFF;
  item->data = Offset(p);
  if (item->kind == WireKind::Binary) {
    item->present = std::min<uint64_t>(item->number, static_cast<uint64_t>(end_ - p));
    p += item->present;
  } else {
    // Each unit ends at a byte with bit 7 set.
    while (item->present < item->number && p < end_) {
      if (*p++ & 0x80) ++item->present;
    }
  }
  p_ = p;
  return item->present == item->number;
}

}  // namespace qkxdr::tool
