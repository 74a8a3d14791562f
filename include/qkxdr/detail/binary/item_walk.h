// A walk over the values of a binary stream that shows damaged data instead
// of refusing it: every value becomes an item, with its place, its run and
// its depth among arrays, and so does every fault, after which the walk goes
// on where it can. A stream may be walked in pieces, each walk going on where
// the one before stopped, so that a stream of any size is walked in memory
// bounded by its largest value.
//
// The faults: a tag byte 252-255 names no payload format, so it is an item of
// its own and the next byte is read as a tag; an array end while no array is
// open leaves the depth at 0; a value cut off by the end of the data is shown
// as far as it goes and ends the walk, with the rest of its run; arrays still
// open at the end are reported by a last item.

#ifndef QKXDR_DETAIL_BINARY_ITEM_WALK_H_
#define QKXDR_DETAIL_BINARY_ITEM_WALK_H_

#include <cstddef>
#include <cstdint>

#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/run_state.h"
#include "qkxdr/detail/binary/skip.h"

namespace qkxdr::impl {

enum class WalkFault : uint8_t {
  None,
  UnknownTag,      // a tag byte 252-255; the next byte is read as a tag
  Truncated,       // the data ends inside or before the value; the walk ends
  UnbalancedEnd,   // an array end while no array is open; the depth stays 0
  UnclosedArrays,  // the last item: the data ends with `depth` arrays open
};

// One value of the stream, or one fault. Places are offsets in the stream.
struct WalkItem {
  size_t offset = 0;  // first byte: its run's tag byte for a run's first value and array markers
  size_t data = 0;    // first byte of the payload; of a string or blob, the one after its length
  size_t end = 0;     // one past the last byte
  uint8_t tag = 0;
  WireType type = WireType::Other;  // Other for an unknown tag and for the open arrays
  uint8_t index = 0;                // 1-based place in its run
  uint8_t count = 0;                // values the run announces
  uint64_t depth = 0;               // arrays open around the value; for an array end, after it
  WalkFault fault = WalkFault::None;
  // Int: the varint, before UnZigZag64; Double: its bits, least significant
  // byte first; String, Binary: the declared length in units or bytes. 0 for
  // a value cut off before these are whole.
  uint64_t number = 0;
  uint32_t present = 0;  // String, Binary: the units or bytes that are there
};

// Position after the n unit varints at p, or e when e cuts them off;
// *present counts those that are there.
inline const uint8_t* WalkUnits(const uint8_t* p, const uint8_t* e, uint32_t n, uint32_t* present) {
  const uint8_t* const next = SkipVarints(p, e, n);
  *present = next < e ? n : static_cast<uint32_t>(VarintEnds(p, e));
  return next;
}

// Position after the n bytes at p, or e when e cuts them off; *present
// counts those that are there.
inline const uint8_t* WalkBytes(const uint8_t* p, const uint8_t* e, uint32_t n, uint32_t* present) {
  *present = n < static_cast<size_t>(e - p) ? n : static_cast<uint32_t>(e - p);
  return p + *present;
}

// A string or blob: its length, then that many unit varints or bytes.
// item->data, the offset of p, moves to the first of these.
inline const uint8_t* WalkCounted(const uint8_t* p, const uint8_t* e, WalkItem* item) {
  uint32_t n;
  const uint8_t* const contents = GetWholeVarint32(p, e, &n);
  if (contents == nullptr) return nullptr;
  item->number = n;
  item->data += static_cast<size_t>(contents - p);
  const uint8_t* const next = item->type == WireType::String
                                  ? WalkUnits(contents, e, n, &item->present)
                                  : WalkBytes(contents, e, n, &item->present);
  return item->present == n ? next : nullptr;
}

inline const uint8_t* WalkDouble(const uint8_t* p, const uint8_t* e, WalkItem* item) {
  if (!DoubleComplete(p, e)) return nullptr;
  item->number = LoadWord(p);
  return p + kDoubleSize;
}

// Reads the payload at p of a value of type item->type, never at or past e,
// into *item (see WalkItem); returns the position after it, or null when e
// cuts it off, *item then showing what is there.
inline const uint8_t* WalkPayload(const uint8_t* p, const uint8_t* e, WalkItem* item) {
  switch (item->type) {
    case WireType::Int:
      return GetWholeVarint64(p, e, &item->number);
    case WireType::Double:
      return WalkDouble(p, e, item);
    case WireType::String:
    case WireType::Binary:
      return WalkCounted(p, e, item);
    default:
      return p;  // array markers have no payload
  }
}

// Where a walk over part of a stream stopped: the next item's offset, the
// run it is in (its tag byte, the values given and those to come) and the
// arrays open.
struct WalkResume {
  size_t offset = 0;
  size_t tag_offset = 0;
  uint8_t tag = 0;
  uint8_t index = 0;
  uint8_t left = 0;
  uint64_t depth = 0;
};

// Hands out the items of the bytes [begin, end) of a stream one at a time.
// Nothing at or past end is ever read. Every item but the report of open
// arrays is one of the at most 42 values of a tag byte's run, so a walk
// gives at most 42 items a byte, and that report.
class ItemWalk {
 public:
  // Over a whole stream.
  ItemWalk(const uint8_t* begin, const uint8_t* end) : ItemWalk(begin, end, WalkResume(), true) {}
  // Over the stream's bytes from `at` on, [begin, end); without `final`
  // more bytes follow end: the walk stops before an item they would
  // complete, and reports no arrays left open.
  ItemWalk(const uint8_t* begin, const uint8_t* end, const WalkResume& at, bool final)
      : begin_(begin),
        p_(begin),
        end_(end),
        base_(at.offset),
        final_(final),
        tag_offset_(at.tag_offset),
        tag_(at.tag),
        index_(at.index),
        depth_(at.depth) {
    run_.Split(at.tag);
    run_.count = at.left;
  }

  // Fills *item with the next value or fault; false once everything, the
  // report of open arrays included, has been given, or (not final) at an
  // item the bytes do not complete.
  bool Next(WalkItem* item) {
    *item = WalkItem();
    if (stalled_) return false;
    if (run_.count != 0) return ReadValue(item);
    if (p_ < end_) return StartRun(item);
    return ReportOpenArrays(item);
  }

  // Where the next walk goes on.
  WalkResume Stopped() const { return {Offset(p_), tag_offset_, tag_, index_, run_.count, depth_}; }

 private:
  size_t Offset(const uint8_t* p) const { return base_ + static_cast<size_t>(p - begin_); }

  bool StartRun(WalkItem* item) {
    tag_offset_ = Offset(p_);
    tag_ = *p_++;
    index_ = 0;
    run_.Split(tag_);
    if (run_.type != WireType::Other) return ReadValue(item);
    // No payload format is known, so no value can be read.
    item->offset = tag_offset_;
    item->data = item->end = tag_offset_ + 1;
    item->tag = tag_;
    item->count = run_.count;
    item->depth = depth_;
    item->fault = WalkFault::UnknownTag;
    run_.count = 0;
    return true;
  }

  // The next value of the current run.
  bool ReadValue(WalkItem* item) {
    const WalkResume before = Stopped();
    item->data = Offset(p_);
    item->tag = tag_;
    item->type = run_.type;
    // Array markers have no bytes of their own: each is its run's tag byte.
    const bool marker = run_.type == WireType::ArrayBegin || run_.type == WireType::ArrayEnd;
    item->offset = index_ == 0 || marker ? tag_offset_ : item->data;
    item->index = ++index_;
    run_.Consume();
    item->count = static_cast<uint8_t>(index_ + run_.count);
    Nest(item);
    const uint8_t* const next = WalkPayload(p_, end_, item);
    if (next == nullptr && !final_) {
      Stall(before);
      return false;
    }
    if (next == nullptr) {
      item->fault = WalkFault::Truncated;
      run_.count = 0;  // the rest of the run is missing too
    }
    p_ = next == nullptr ? end_ : next;
    item->end = Offset(p_);
    return true;
  }

  // Goes back to before a value that more bytes may complete: to its run's
  // tag byte when it is the run's first value, so that its item shows that
  // byte when it is walked again.
  void Stall(const WalkResume& before) {
    const bool first = before.index == 0;
    p_ = begin_ + ((first ? tag_offset_ : before.offset) - base_);
    index_ = before.index;
    run_.count = first ? 0 : before.left;
    depth_ = before.depth;
    stalled_ = true;
  }

  // The depth of the item among arrays, and the arrays open after it.
  void Nest(WalkItem* item) {
    if (item->type == WireType::ArrayBegin) {
      item->depth = depth_++;
    } else if (item->type != WireType::ArrayEnd) {
      item->depth = depth_;
    } else if (depth_ == 0) {
      item->fault = WalkFault::UnbalancedEnd;
    } else {
      item->depth = --depth_;
    }
  }

  bool ReportOpenArrays(WalkItem* item) {
    if (depth_ == 0 || closed_ || !final_) return false;
    closed_ = true;
    item->offset = item->data = item->end = Offset(p_);
    item->depth = depth_;
    item->fault = WalkFault::UnclosedArrays;
    return true;
  }

  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
  size_t base_;           // offset in the stream of begin_
  bool final_;            // nothing follows end_
  bool stalled_ = false;  // stopped before an item the bytes do not complete
  bool closed_ = false;   // the report of open arrays has been given
  size_t tag_offset_;     // of the current run
  uint8_t tag_;
  uint8_t index_;  // values of the current run given so far
  RunState run_;   // its type, and its values still to come
  uint64_t depth_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_ITEM_WALK_H_
