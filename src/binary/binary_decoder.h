// The state of one binary reader: the run it is in and a cursor over the
// caller's input, which it only reads.

#ifndef QKXDR_SRC_BINARY_BINARY_DECODER_H_
#define QKXDR_SRC_BINARY_BINARY_DECODER_H_

#include <cstdint>

#include "QkXDR.h"
#include "binary/run_state.h"

namespace qkxdr::impl {

// Hands out the values of a binary stream one at a time. Nothing at or past
// the end of the input is ever read, and the cursor never passes that end.
//
// Every read either delivers the current value and moves to the next one, or
// returns false and changes nothing. It returns false when there is no
// current value, when the value has a type the read does not accept, when
// its number, length or size is cut off by the end of the input, and when the
// output pointer (or allocator, or slot) is null.
class BinaryDecoder {
 public:
  // Over [begin, end); the first byte, if any, is taken as a tag byte.
  BinaryDecoder(const uint8_t* begin, const uint8_t* end);

  // Whether there is a current value.
  explicit operator bool() const { return run.count != 0; }
  // Type of the current value; after the input is used up, of the last run.
  WireType Type() const { return run.type; }

  // Int: its low 32 bits. Double: truncated toward zero, INT32_MIN when that
  // has no 32-bit value (NaN and the infinities included).
  bool ReadInt(int32_t* v);
  // Int: all 64 bits. Double: truncated toward zero, or INT64_MIN.
  bool ReadInt64(int64_t* v);
  // Int: the nearest double. Double: unchanged.
  bool ReadDouble(double* v);

  // String: asks allocator->Alloc(length) once and stores each unit there
  // (all 16 bits, or the low 8). Units cut off by the end of the input are
  // stored as far as they go. When Alloc returns null the string is consumed
  // without being stored. No terminator is written.
  bool ReadString(QkXDRAllocator* allocator);
  bool ReadStringA(QkXDRAllocator* allocator);

  // Binary: the slot's old content is released and the slot becomes a view on
  // the blob's bytes inside the input. A blob whose size runs past the end of
  // the input is not delivered.
  bool ReadBinary(QkXDRBinary* slot);

  bool ReadBeginArray();
  bool ReadEndArray();

  // Moves past the current value (only the marker of an array opening) and
  // returns its type; does nothing but return Type() without a current value.
  WireType ReadType();

  // Moves past the closing marker of the innermost open array, or to the end
  // of the input; the current value is skipped whatever its type. Runs of
  // tag bytes 252-255 count as values without payload.
  void Skip();

  // The data cursor: next unread byte, and one past the last byte.
  struct DataCursor {
    const uint8_t* p;
    const uint8_t* l;
  };

  // The current run: its type, and its values not yet consumed (the current
  // one included); count 0 once the input is used up.
  RunState run;
  DataCursor dc;

 private:
  template <typename T, T (*FromInt)(uint64_t),
            const uint8_t* (*GetFromDouble)(const uint8_t*, const uint8_t*, T*)>
  bool ReadNumber(T* v);
  template <typename Unit>
  bool ReadUnits(QkXDRAllocator* allocator);
  bool ReadMarker(WireType t);

  // Takes the next tag byte, or marks the input used up.
  void LoadRun();
  // Consumes the current value, whose payload ends at `next`.
  void Advance(const uint8_t* next);
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_BINARY_BINARY_DECODER_H_
