// Walks the bytes of the binary encoding value by value, to show and check
// them. It works on its own, not through the library's reader, so that it
// can describe damaged data instead of misreading it: every fault becomes an
// item, and the walk goes on where it can.
//
// The layout it reads: runs of 1 to 42 values of one type, each a tag byte
// (type * 42 + count - 1) followed by the payloads of its values. Integers
// and lengths are varints of 7 bits a byte, least significant group first,
// whose *last* byte has bit 7 set; integers are zigzag-mapped.

#ifndef QKXDR_TOOLS_QKXDR_WIRE_WALKER_H_
#define QKXDR_TOOLS_QKXDR_WIRE_WALKER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qkxdr::tool {

// The type of a run; Unknown for tag bytes 252-255.
enum class WireKind : uint8_t { ArrayBegin, ArrayEnd, Int, Double, String, Binary, Unknown };

enum class WireFault : uint8_t {
  None,
  UnknownTag,      // a tag byte 252-255: no payload format; the next byte is read as a tag
  Truncated,       // the data ends inside or before the value; the walk ends
  UnbalancedEnd,   // an array end while no array is open; the depth stays 0
  UnclosedArrays,  // the last item: the data ends with `depth` arrays open
};

// One value of the stream, or one fault.
struct WireItem {
  size_t offset = 0;  // first byte: the run's tag byte for its first value and its array markers
  size_t data = 0;    // first byte of the payload; of a string or blob, the one after its length
  size_t end = 0;     // one past the last byte
  uint8_t tag = 0;
  WireKind kind = WireKind::Unknown;
  uint8_t index = 0;   // 1-based place in its run
  uint8_t count = 0;   // values the run announces
  uint64_t depth = 0;  // arrays open around the value; for an array end, after it
  WireFault fault = WireFault::None;
  // Int: the varint before unmapping; Double: the 8 bytes, least significant
  // first; String, Binary: the declared length in units or bytes.
  uint64_t number = 0;
  uint64_t present = 0;  // String, Binary: the units or bytes that are there
};

// Bytes of a stream held in memory: its bytes [offset, offset + size) at data.
struct StreamBytes {
  const uint8_t* data = nullptr;
  size_t offset = 0;
  size_t size = 0;

  // Where the stream's byte at `at` is held.
  const uint8_t* At(size_t at) const { return data + (at - offset); }
  const uint8_t* end() const { return data + size; }
};

class WireWalker {
 public:
  // Where a walk over part of a stream stopped: the next item's place in
  // the stream, its run and the arrays open.
  struct Resume {
    size_t offset = 0;
    size_t tagOffset = 0;
    uint8_t tag = 0;
    uint8_t index = 0;
    uint8_t left = 0;
    uint64_t depth = 0;
  };

  WireWalker(const uint8_t* begin, const uint8_t* end) : begin_(begin), p_(begin), end_(end) {}
  // Over the bytes [begin, end) of a stream from `at` on; without `final`
  // more bytes follow end: the walk stops before an item they would
  // complete, and reports no arrays left open.
  WireWalker(const uint8_t* begin, const uint8_t* end, const Resume& at, bool final);

  // Fills *item with the next value or fault; false once everything, the
  // closing report of open arrays included, has been given, or (not final)
  // at an item the bytes do not complete.
  bool Next(WireItem* item);
  // Where the next walk goes on.
  Resume Stopped() const;

 private:
  size_t Offset(const uint8_t* p) const { return base_ + static_cast<size_t>(p - begin_); }

  bool StartRun(WireItem* item);
  // Reads the next value of the current run.
  void ReadValue(WireItem* item);
  // Reads one payload; false when the data ends inside it.
  bool ReadPayload(WireItem* item);
  bool ReadCounted(WireItem* item);
  void UpdateDepth(WireItem* item);

  const uint8_t* begin_;
  const uint8_t* p_;
  const uint8_t* end_;
  size_t base_ = 0;       // offset in the stream of begin_
  bool final_ = true;     // nothing follows end_
  bool stalled_ = false;  // stopped before an item the bytes do not complete
  size_t tagOffset_ = 0;  // of the current run
  uint8_t tag_ = 0;
  uint8_t index_ = 0;  // values of the current run read so far
  uint8_t left_ = 0;   // values of the current run still to come
  uint64_t depth_ = 0;
  bool closed_ = false;  // the report of open arrays has been given
};

// Reads a varint at p, keeping its low 64 bits in *value; returns the
// position after its last byte, or null when the data ends first.
const uint8_t* ReadVarint(const uint8_t* p, const uint8_t* e, uint64_t* value);

// The signed value of a zigzag-mapped integer.
int64_t UnZigZag(uint64_t u);

// Appends up to `max` string units decoded at p (the bytes after the
// length) to *out, stopping at e.
void DecodeUnits(const uint8_t* p, const uint8_t* e, uint64_t max, std::u16string* out);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_WIRE_WALKER_H_
