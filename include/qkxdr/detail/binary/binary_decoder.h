// The state of one binary reader: the run it is in and a cursor over the
// caller's input, which it only reads.

#ifndef QKXDR_DETAIL_BINARY_BINARY_DECODER_H_
#define QKXDR_DETAIL_BINARY_BINARY_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "QkXDR.h"
#include "qkxdr/detail/base/assert.h"
#include "qkxdr/detail/base/blob_buffer.h"
#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/base/truncate.h"
#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/int_kernels.h"
#include "qkxdr/detail/binary/run_state.h"
#include "qkxdr/detail/binary/skip.h"
#include "qkxdr/detail/binary/unit_varints.h"
#include "qkxdr/detail/binary/varint_word.h"

namespace qkxdr::impl {

// The public code of each wire type, indexed by its number; the last entry is
// for runs of tag bytes 252-255.
inline constexpr QkXDRType2 kWireTypeCodes[] = {
    QkXDRType2::ArrayBegin, QkXDRType2::ArrayEnd, QkXDRType2::Int, QkXDRType2::Double,
    QkXDRType2::String,     QkXDRType2::Binary,   QkXDRType2::None};

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
  BinaryDecoder(const uint8_t* begin, const uint8_t* end) : dc{begin, end}, begin_(begin) {
    LoadRun();
  }
  // Over [begin, end), which starts inside a run: `rest` is what is left of
  // it (its type and the values still to come), as a scan of the bytes
  // before begin found it.
  BinaryDecoder(const uint8_t* begin, const uint8_t* end, RunState rest)
      : run(rest), dc{begin, end}, begin_(begin) {}

  // Whether there is a current value.
  bool IsValid() const { return run.count != 0; }
  // Type of the current value; after the input is used up, of the last run.
  QkXDRType2 PeekType() const { return kWireTypeCodes[static_cast<uint8_t>(run.type)]; }
  // Moves past the current value (only the marker of an array opening) and
  // returns its type; does nothing but return PeekType() without one.
  QkXDRType2 ReadType() {
    const QkXDRType2 t = PeekType();
    if (run.count != 0) Advance(SkipValues(run.type, dc.p, dc.l, 1));
    return t;
  }

  // Int: its low 32 bits. Double: truncated toward zero, INT32_MIN when that
  // has no 32-bit value (NaN and the infinities included).
  bool ReadInt(int32_t* v) {
    return ReadNumber<int32_t, Int32FromVarint, GetTruncated<int32_t, TruncateToInt32>>(v);
  }
  // Int: all 64 bits. Double: truncated toward zero, or INT64_MIN.
  bool ReadInt64(int64_t* v) {
    return ReadNumber<int64_t, Int64FromVarint, GetTruncated<int64_t, TruncateToInt64>>(v);
  }
  // Int: the nearest double. Double: unchanged.
  bool ReadDouble(double* v) { return ReadNumber<double, DoubleFromVarint, GetDouble>(v); }

  // Reads up to n values into out, run by run, while the current value is one
  // that T takes unchanged: for an integer T an Int it holds (HoldsInt), for
  // double a Double. Returns how many were read; the value it
  // stops at stays current, for a read of its own to take or refuse.
  template <typename T>
  size_t ReadNumbers(T* out, size_t n) {
    static_assert(std::is_same_v<T, double> || (std::is_integral_v<T> && !std::is_same_v<T, bool>),
                  "doubles or integers");
    size_t done = 0;
    while (done != n && run.count != 0) {
      const size_t k = ReadFromRun(out + done, n - done < run.count ? n - done : run.count);
      if (k == 0) break;
      done += k;
    }
    return done;
  }

  // String: asks allocator->Alloc(length) once and stores each unit there
  // (all 16 bits, or the low 8). Units cut off by the end of the input are
  // stored as far as they go. When Alloc returns null the string is consumed
  // without being stored. No terminator is written.
  bool ReadString(QkXDRAllocator* allocator) { return ReadUnits<char16_t>(allocator); }
  bool ReadStringA(QkXDRAllocator* allocator) { return ReadUnits<uint8_t>(allocator); }

  // String: *out becomes its units as bytes when every one is below 0x80
  // and in the input: the common case of ASCII text, one byte a unit. False,
  // with nothing consumed, for any other string (*out is then left with an
  // unspecified part of it).
  bool ReadAsciiString(std::string* out) {
    return ReadAsciiUnits([out](uint32_t n) {
      out->resize(n);
      return reinterpret_cast<uint8_t*>(out->data());
    });
  }

  // The same into the room for n bytes that room(n) returns (null: the
  // string is not read), asked for only once the string is known to be
  // ASCII and whole: n units in n bytes, each of which ends a varint.
  template <typename Room>
  bool ReadAsciiUnits(Room room) {
    uint32_t n;
    const uint8_t* const f = StringUnits(&n);
    if (f == nullptr || !EveryByteEnds(f, n)) return false;
    uint8_t* const out = room(n);
    if (out == nullptr) return false;
    Advance(GetUnitVarints(f, dc.l, out, n));
    return true;
  }

  // String: *out becomes its units, when all of them are in the input. A
  // string cut off by the end of the input is not read (*out is then left
  // with an unspecified part of it).
  bool ReadWholeString(std::u16string* out) {
    uint32_t n;
    const uint8_t* const f = StringUnits(&n);
    if (f == nullptr) return false;
    out->resize(n);
    const uint8_t* const next = GetUnitVarints(f, dc.l, out->data(), n);
    if (next == dc.l && !HoldsVarints(f, next, n)) return false;
    Advance(next);
    return true;
  }

  // Binary: the slot's old content is released and the slot becomes a view on
  // the blob's bytes inside the input. A blob whose size runs past the end of
  // the input is not delivered, here or by ReadBytes.
  bool ReadBinary(QkXDRBinary* slot) {
    if (slot == nullptr) return false;
    return ReadBlob([slot](const uint8_t* bytes, uint32_t n) { AssignView(slot, bytes, n); });
  }
  // Binary: *data and *size become the blob's bytes inside the input.
  bool ReadBytes(const uint8_t** data, uint32_t* size) {
    if (data == nullptr || size == nullptr) return false;
    return ReadBlob([data, size](const uint8_t* bytes, uint32_t n) {
      *data = bytes;
      *size = n;
    });
  }
  // Binary: *out, a container of bytes with assign (std::vector<uint8_t>,
  // std::string...), becomes a copy of the blob's bytes.
  template <typename ByteContainer>
  bool ReadBytes(ByteContainer* out) {
    using Byte = typename ByteContainer::value_type;
    static_assert(sizeof(Byte) == 1, "a container of bytes");
    if (out == nullptr) return false;
    return ReadBlob([out](const uint8_t* bytes, uint32_t n) {
      const auto* first = reinterpret_cast<const Byte*>(bytes);
      out->assign(first, first + n);
    });
  }

  bool ReadBeginArray() { return ReadMarker(WireType::ArrayBegin); }
  bool ReadEndArray() { return ReadMarker(WireType::ArrayEnd); }

  // Moves past the closing marker of the innermost open array, or to the end
  // of the input; the current value is skipped whatever its type. Runs of
  // tag bytes 252-255 count as values without payload.
  void Skip() {
    // Each tag byte adds at most 42, so 64 bits cannot wrap on any input.
    uint64_t depth = 1;
    while (depth != 0 && run.count != 0) {
      switch (run.type) {
        case WireType::ArrayBegin:
          depth += run.count;
          break;
        case WireType::ArrayEnd:
          if (run.count > depth) {
            // The markers beyond the one that closes the array stay current.
            run.count = static_cast<uint8_t>(run.count - depth);
            return;
          }
          depth -= run.count;
          break;
        default:
          dc.p = SkipValues(run.type, dc.p, dc.l, run.count);
          break;
      }
      LoadRun();
    }
  }

  // Offset in the input of the current value's payload, which follows its
  // run's tag byte for the first value of a run; for an array marker, which
  // has none, the byte after its run. Once the input is used up, the offset
  // where reading stopped.
  size_t Position() const { return static_cast<size_t>(dc.p - begin_); }

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
  // An Int value's varint, taken at the width of the read. The low 32 bits of
  // a 64-bit decode are exactly what a 32-bit decode keeps.
  static int32_t Int32FromVarint(uint64_t u) { return UnZigZag32(static_cast<uint32_t>(u)); }
  static int64_t Int64FromVarint(uint64_t u) { return UnZigZag64(u); }
  static double DoubleFromVarint(uint64_t u) { return static_cast<double>(UnZigZag64(u)); }

  // A Double value taken as an integer: truncated, as TruncateToInteger says.
  // A double read as a double goes straight from the input to the caller's
  // memory (GetDouble): on 32-bit x86 a double returned by value passes the
  // x87 unit, which quietens a signalling NaN.
  template <typename Int, Int (*Truncate)(double)>
  static const uint8_t* GetTruncated(const uint8_t* p, const uint8_t* e, Int* v) {
    double d;
    const uint8_t* const next = GetDouble(p, e, &d);
    *v = Truncate(d);
    return next;
  }

  // The common cases inline: a Double, or an Int whose varint ends within
  // the next word of input. Everything else takes ReadAnyNumber.
  template <typename T, T (*FromInt)(uint64_t),
            const uint8_t* (*GetFromDouble)(const uint8_t*, const uint8_t*, T*)>
  bool ReadNumber(T* v) {
    if (v != nullptr && run.count != 0 && dc.l - dc.p >= kWordSize) {
      uint64_t u;
      const uint8_t* next;
      if (run.type == WireType::Int && (next = GetVarintWord(dc.p, &u)) != nullptr) {
        *v = FromInt(u);
        Advance(next);
        return true;
      }
      if (run.type == WireType::Double) {
        Advance(GetFromDouble(dc.p, dc.l, v));
        return true;
      }
    }
    return ReadAnyNumber<T, FromInt, GetFromDouble>(v);
  }

  template <typename T, T (*FromInt)(uint64_t),
            const uint8_t* (*GetFromDouble)(const uint8_t*, const uint8_t*, T*)>
  QKXDR_NOINLINE bool ReadAnyNumber(T* v) {
    if (v == nullptr || run.count == 0) return false;
    const uint8_t* next;
    if (run.type == WireType::Int) {
      uint64_t u;
      next = GetWholeVarint64(dc.p, dc.l, &u);
      if (next == nullptr) return false;
      *v = FromInt(u);
    } else if (run.type == WireType::Double) {
      if (!DoubleComplete(dc.p, dc.l)) return false;
      next = GetFromDouble(dc.p, dc.l, v);
    } else {
      return false;
    }
    Advance(next);
    return true;
  }

  // Runs of integers shorter than this are decoded by the scalar kernel.
  static constexpr size_t kShortRun = 16;

  // ReadNumbers within the current run, for at most k <= run.count values.
  template <typename T>
  size_t ReadFromRun(T* out, size_t k) {
    size_t i = 0;
    if constexpr (std::is_same_v<T, double>) {
      if (run.type != WireType::Double) return 0;
      const size_t whole = static_cast<size_t>(dc.l - dc.p) / kDoubleSize;
      for (k = k < whole ? k : whole; i < k; ++i) {
        const uint64_t bits = LoadWord(dc.p + i * kDoubleSize);
        std::memcpy(out + i, &bits, sizeof bits);
      }
      dc.p += k * kDoubleSize;
    } else {
      if (run.type != WireType::Int) return 0;
      // Short runs (a record's few numbers) are decoded where the vector
      // kernels' setup would cost more than they save.
      i = GetInts(k < kShortRun ? IntKernel::scalar : BestIntKernel(), &dc.p, dc.l, out, k);
    }
    run.count = static_cast<uint8_t>(run.count - i);
    if (run.count == 0) LoadRun();
    return i;
  }

  // Where the current String's units start, with their count in *n, when
  // the input can hold them (every unit takes at least one byte); else null.
  const uint8_t* StringUnits(uint32_t* n) const {
    if (run.count == 0 || run.type != WireType::String) return nullptr;
    const uint8_t* const f = GetWholeVarint32(dc.p, dc.l, n);
    return f != nullptr && *n <= static_cast<size_t>(dc.l - f) ? f : nullptr;
  }

  // Whether [p, e) is exactly n varints: only a string that ends with the
  // input needs this count.
  static bool HoldsVarints(const uint8_t* p, const uint8_t* e, uint32_t n) {
    return VarintEnds(p, e) == n && (p == e || (e[-1] & 0x80) != 0);
  }

  template <typename Unit>
  bool ReadUnits(QkXDRAllocator* allocator) {
    if (allocator == nullptr || run.count == 0 || run.type != WireType::String) return false;
    uint32_t n;
    const uint8_t* f = GetWholeVarint32(dc.p, dc.l, &n);
    if (f == nullptr) return false;
    auto* out = static_cast<Unit*>(allocator->Alloc(n));
    if (out == nullptr) {
      f = SkipVarints(f, dc.l, n);
    } else {
      f = GetUnitVarints(f, dc.l, out, n);
    }
    // Positions only grow and the loop stops at the end of the input, so one
    // check after it covers every unit.
    QKXDR_CHECK(f <= dc.l, "f <= dc.l");
    Advance(f);
    return true;
  }

  // Hands the current blob's bytes to deliver(bytes, n) and moves past it,
  // when it is a blob that ends within the input.
  template <typename Deliver>
  bool ReadBlob(Deliver deliver) {
    if (run.count == 0 || run.type != WireType::Binary) return false;
    uint32_t n;
    const uint8_t* const bytes = GetWholeVarint32(dc.p, dc.l, &n);
    if (bytes == nullptr || n > static_cast<size_t>(dc.l - bytes)) return false;
    deliver(bytes, n);
    Advance(bytes + n);
    return true;
  }

  bool ReadMarker(WireType t) {
    if (run.count == 0 || run.type != t) return false;
    Advance(dc.p);
    return true;
  }

  // Takes the next tag byte, or marks the input used up.
  QKXDR_INLINE void LoadRun() {
    if (dc.p < dc.l) {
      run.Split(*dc.p++);
    } else {
      run.count = 0;
    }
  }

  // Consumes the current value, whose payload ends at `next`.
  QKXDR_INLINE void Advance(const uint8_t* next) {
    dc.p = next;
    if (run.Consume()) LoadRun();
  }

  const uint8_t* begin_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_BINARY_DECODER_H_
