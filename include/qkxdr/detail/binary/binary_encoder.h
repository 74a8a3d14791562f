// The state of one binary writer: the encoded bytes so far, the run that is
// open at their end, and the index of that run's tag byte.

#ifndef QKXDR_DETAIL_BINARY_BINARY_ENCODER_H_
#define QKXDR_DETAIL_BINARY_BINARY_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/encoder_writes.h"
#include "qkxdr/detail/base/inline_buffer.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/int_kernels.h"
#include "qkxdr/detail/binary/run_state.h"
#include "qkxdr/detail/binary/unit_varints.h"
#include "qkxdr/detail/binary/varint_word.h"

namespace qkxdr::impl {

// Bytes of output a writer holds inside itself before it needs the heap.
constexpr uint32_t kOutputRoom = 500;

// Appends values in the binary format to a growing Buffer (InlineBuffer or
// VectorBuffer of bytes); the string and slot writes are EncoderWrites'.
// After every write the buffer holds a complete stream of all values
// written so far. Growth throws std::bad_alloc when memory runs out or the
// output would pass the buffer's size limit; such a write leaves the buffer,
// the run and the tag index exactly as they were. Strings and blobs handed
// to a write must not lie inside the writer's own output, which the write
// may move.
template <typename Buffer>
class BinaryEncoderInto : public EncoderWrites<BinaryEncoderInto<Buffer>> {
  friend EncoderWrites<BinaryEncoderInto>;

 public:
  BinaryEncoderInto() = default;
  // Writes into the buffer made from `output` (a VectorBuffer's container).
  template <typename Output>
  explicit BinaryEncoderInto(Output* output) : buffer_(output) {}

  void WriteInt(int32_t v) { WriteVarint(WireType::Int, ZigZag32(v)); }
  void WriteInt64(int64_t v) { WriteVarint(WireType::Int, ZigZag64(v)); }
  void WriteDouble(double v) {
    if (Free() < kInPlaceRoom) return WriteDoubleGrowing(v);
    Finish(PutDouble(StartInPlace(WireType::Double), v));
  }

  // The n numbers at v, as WriteNumber writes them one by one, whole runs at
  // a time: each run that opens here grows the buffer once and has its tag
  // byte written once. When it throws, the values before the run that could
  // not grow stay written.
  template <typename T>
  void WriteNumbers(const T* v, size_t n) {
    constexpr WireType kType = std::is_floating_point_v<T> ? WireType::Double : WireType::Int;
    // A run of the same type left open before is filled one value at a time.
    for (; n != 0 && run_.Continues(kType); --n) this->WriteNumber(*v++);
    for (size_t k; n != 0; v += k, n -= k) {
      k = n < kMaxRunLength ? n : kMaxRunLength;
      WriteRun<kType>(v, k);
    }
  }

  // The n bytes at s as a string of 8-bit units, when every one is ASCII
  // other than 0 (its own UTF-16 unit); false, with nothing written,
  // otherwise. The check and the copy are one pass. Throws as growth does.
  bool WriteAsciiString(const char* s, size_t n) {
    const uint64_t room = 1 + uint64_t{kMaxVarint32} + n;
    if (Free() < room) ReserveRoom(room);
    const bool opens = !run_.Continues(WireType::String);
    uint8_t* const units =
        PutVarint32(buffer_.data() + buffer_.size() + opens, static_cast<uint32_t>(n));
    if (PutOneByteUnits<true>(s, n, units) != n) return false;
    StartInPlace(WireType::String);  // the tag byte, where `opens` left room for it
    Finish(units + n);
    return true;
  }

  void BeginArray() { WriteMarker(WireType::ArrayBegin); }
  void EndArray() { WriteMarker(WireType::ArrayEnd); }

  // A blob of the n bytes at data (which may be null when n is 0).
  void WriteBytes(const uint8_t* data, uint32_t n) {
    const uint64_t room = uint64_t{Varint32Length(n)} + n;
    uint8_t* p;
    if (Free() <= room) {
      p = StartValue(WireType::Binary, room);
    } else if (run_.Continues(WireType::Binary)) {
      // The payloads of a run of blobs push its tag byte out of the cache;
      // rewriting it for each one would stall the copy behind it.
      run_.Add(WireType::Binary);
      tag_behind_ = true;
      p = buffer_.data() + buffer_.size();
    } else {
      p = StartInPlace(WireType::Binary);
    }
    p = PutVarint32(p, n);
    if (n != 0) std::memcpy(p, data, n);
    Finish(p + n);
  }

  // The encoded bytes, null while there are none; valid until the next write.
  const uint8_t* data() {
    CatchUpTag();
    return buffer_.size() == 0 ? nullptr : buffer_.data();
  }
  uint32_t size() const { return buffer_.size(); }
  const Buffer& buffer() const { return buffer_; }

 private:
  // Makes room for one value of type t whose payload takes at most `room`
  // bytes, and returns where the payload goes. The buffer grows before the run
  // or the tag byte change, so a failed growth leaves the stream as it was. A
  // caller that writes less than `room` trims the buffer afterwards.
  uint8_t* StartValue(WireType t, uint64_t room) {
    CatchUpTag();
    RunState run = run_;
    const bool opens = run.Add(t);
    const uint32_t tag_index = opens ? buffer_.size() : tag_index_;
    uint8_t* payload = buffer_.Extend(room + opens) + opens;
    run_ = run;
    tag_index_ = tag_index;
    buffer_[tag_index_] = run_.TagByte();
    return payload;
  }

  // Stores the open run's tag byte where a run of blobs left it behind. Every
  // other write, and the bytes asked for, see it up to date.
  void CatchUpTag() {
    if (!tag_behind_) return;
    buffer_[tag_index_] = run_.TagByte();
    tag_behind_ = false;
  }

  // Grows the capacity to hold `room` more bytes, changing nothing else;
  // throws as growth does.
  void ReserveRoom(uint64_t room) {
    const uint32_t used = buffer_.size();
    buffer_.Resize(used + room);
    buffer_.ResizeWithin(used);
  }

  // Room in which a tag byte and any payload of a number fit.
  static constexpr uint32_t kInPlaceRoom = 1 + kMaxVarint64;

  uint32_t Free() const { return buffer_.capacity() - buffer_.size(); }

  // StartValue for a payload of at most kInPlaceRoom - 1 bytes when that
  // much is free: the buffer cannot grow, so the run and the tag byte change
  // at once. The caller then writes the payload and calls Finish.
  QKXDR_INLINE uint8_t* StartInPlace(WireType t) {
    uint8_t* const bytes = buffer_.data();
    uint32_t used = buffer_.size();
    if (run_.Continues(t)) {
      run_.Add(t);
      bytes[tag_index_] = run_.TagByte();
    } else {
      CatchUpTag();  // the run that ends may be one of blobs
      run_.Add(t);
      tag_index_ = used;
      bytes[used++] = run_.TagByte();
    }
    return bytes + used;
  }

  // Ends the buffer at `end`, after a payload written in place.
  void Finish(const uint8_t* end) {
    buffer_.ResizeWithin(static_cast<uint32_t>(end - buffer_.data()));
  }

  // An integer's varint, encoded straight into the room made for it.
  template <typename T>
  void WriteVarint(WireType t, T v) {
    if (Free() < kInPlaceRoom) return WriteVarintGrowing(t, v);
    Finish(PutVarintInRoom(StartInPlace(t), v));
  }

  void WriteMarker(WireType t) {
    if (Free() < kInPlaceRoom) return WriteMarkerGrowing(t);
    Finish(StartInPlace(t));
  }

  // The same, when the buffer may have to grow: it grows to the exact size.
  template <typename T>
  QKXDR_NOINLINE void WriteVarintGrowing(WireType t, T v) {
    PutVarint(StartValue(t, VarintLength(v)), v);
  }
  QKXDR_NOINLINE void WriteDoubleGrowing(double v) {
    PutDouble(StartValue(WireType::Double, kDoubleSize), v);
  }
  QKXDR_NOINLINE void WriteMarkerGrowing(WireType t) { StartValue(t, 0); }

  // A new run of the k <= kMaxRunLength numbers at v, of wire type kType.
  template <WireType kType, typename T>
  void WriteRun(const T* v, size_t k) {
    const uint32_t start = buffer_.size();
    const uint64_t room = 1 + uint64_t{k} * kInPlaceRoom;
    if (Free() < room) ReserveRoom(room);
    CatchUpTag();
    run_.type = kType;
    run_.count = static_cast<uint8_t>(k);
    tag_index_ = start;
    uint8_t* p = buffer_.data() + start;
    *p++ = run_.TagByte();
    if constexpr (std::is_floating_point_v<T>) {
      for (size_t i = 0; i < k; ++i) p = PutDouble(p, static_cast<double>(v[i]));
    } else {
      p = PutInts(BestIntKernel(), v, k, p);
    }
    Finish(p);
  }

  // The unit count, then each unit as a varint of the unit's own width.
  template <typename Unit>
  void WriteUnits(const Unit* s, size_t n) {
    // In place when the tag byte and the longest encoding fit.
    if (Free() < 1 + LongestUnits<Unit>(n)) return WriteUnitsGrowing(s, n);
    uint8_t* p = PutVarint32(StartInPlace(WireType::String), static_cast<uint32_t>(n));
    Finish(PutUnitVarints(s, n, p));
  }

  template <typename Unit>
  QKXDR_NOINLINE void WriteUnitsGrowing(const Unit* s, size_t n) {
    uint8_t* p = StartValue(WireType::String, StringRoom(s, n));
    p = PutVarint32(p, static_cast<uint32_t>(n));
    buffer_.Resize(static_cast<uint32_t>(PutUnitVarints(s, n, p) - buffer_.data()));
  }

  // Bytes of the longest encoding of n units, count included.
  template <typename Unit>
  static uint64_t LongestUnits(size_t n) {
    constexpr uint64_t kMaxUnit = sizeof(Unit) == 1 ? kMaxVarint8 : kMaxVarint16;
    return kMaxVarint32 + kMaxUnit * uint64_t{n};
  }

  // Room to reserve for a string of n units: its longest possible encoding
  // while that fits the current capacity (the string is then encoded in one
  // pass and trimmed), otherwise its exact size, so that the buffer grows no
  // further than the string needs and a string that fits the size limit is
  // never refused.
  template <typename Unit>
  uint64_t StringRoom(const Unit* s, size_t n) const {
    using Code = std::make_unsigned_t<Unit>;
    const uint64_t longest = LongestUnits<Unit>(n);
    if (buffer_.size() + uint64_t{1} + longest <= buffer_.capacity()) return longest;
    uint64_t exact = VarintLength(uint64_t{n});
    for (size_t i = 0; i < n; ++i) exact += Varint32Length(static_cast<Code>(s[i]));
    return exact;
  }

  Buffer buffer_;
  RunState run_;
  uint32_t tag_index_ = 0;
  bool tag_behind_ = false;  // the tag byte lags run_ (see WriteBinary)
};

// The writer behind the exported binary streams: 4 GiB - 1 bytes at most.
using BinaryEncoder = BinaryEncoderInto<InlineBuffer<uint8_t, kOutputRoom>>;

// The same with a size limit of kMaxSize bytes, for tests that reach it.
template <uint32_t kMaxSize>
using BasicBinaryEncoder = BinaryEncoderInto<InlineBuffer<uint8_t, kOutputRoom, kMaxSize>>;

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_BINARY_ENCODER_H_
