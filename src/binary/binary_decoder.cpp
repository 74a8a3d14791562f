#include "binary/binary_decoder.h"

#include <cstddef>

#include "binary/coding.h"
#include "binary/skip.h"
#include "binary/unit_varints.h"
#include "binary/varint_word.h"
#include "library/assert.h"
#include "library/truncate.h"
#include "sbuf/binary.h"

namespace qkxdr::impl {
namespace {

// Position after n values of type t at p; array markers and runs of tag bytes
// 252-255 have no payload.
const uint8_t* SkipValues(WireType t, const uint8_t* p, const uint8_t* e, uint32_t n) {
  switch (t) {
    case WireType::Int:
      return SkipVarints(p, e, n);
    case WireType::Double:
      return SkipDoubles(p, e, n);
    case WireType::String:
      return SkipStrings(p, e, n);
    case WireType::Binary:
      return SkipBlobs(p, e, n);
    default:
      return p;
  }
}

// An Int value's varint, taken at the width of the read. The low 32 bits of a
// 64-bit decode are exactly what a 32-bit decode keeps.
int32_t Int32FromVarint(uint64_t u) { return UnZigZag32(static_cast<uint32_t>(u)); }
int64_t Int64FromVarint(uint64_t u) { return UnZigZag64(u); }
double DoubleFromVarint(uint64_t u) { return static_cast<double>(UnZigZag64(u)); }

// A Double value taken as an integer: truncated, as TruncateToInteger says.
// A double read as a double goes straight from the input to the caller's
// memory (GetDouble): on 32-bit x86 a double returned by value passes the
// x87 unit, which quietens a signalling NaN.
template <typename Int, Int (*Truncate)(double)>
const uint8_t* GetTruncated(const uint8_t* p, const uint8_t* e, Int* v) {
  double d;
  const uint8_t* const next = GetDouble(p, e, &d);
  *v = Truncate(d);
  return next;
}

}  // namespace

BinaryDecoder::BinaryDecoder(const uint8_t* begin, const uint8_t* end) : dc{begin, end} {
  LoadRun();
}

bool BinaryDecoder::ReadInt(int32_t* v) {
  return ReadNumber<int32_t, Int32FromVarint, GetTruncated<int32_t, TruncateToInt32>>(v);
}

bool BinaryDecoder::ReadInt64(int64_t* v) {
  return ReadNumber<int64_t, Int64FromVarint, GetTruncated<int64_t, TruncateToInt64>>(v);
}

bool BinaryDecoder::ReadDouble(double* v) {
  return ReadNumber<double, DoubleFromVarint, GetDouble>(v);
}

bool BinaryDecoder::ReadString(QkXDRAllocator* allocator) { return ReadUnits<char16_t>(allocator); }

bool BinaryDecoder::ReadStringA(QkXDRAllocator* allocator) { return ReadUnits<uint8_t>(allocator); }

bool BinaryDecoder::ReadBinary(QkXDRBinary* slot) {
  if (slot == nullptr || run.count == 0 || run.type != WireType::Binary) return false;
  uint32_t size;
  const uint8_t* data = GetVarint32(dc.p, dc.l, &size);
  if (!VarintComplete(dc.p, data) || size > static_cast<size_t>(dc.l - data)) return false;
  sbuf::AssignView(slot, data, size);
  Advance(data + size);
  return true;
}

bool BinaryDecoder::ReadBeginArray() { return ReadMarker(WireType::ArrayBegin); }

bool BinaryDecoder::ReadEndArray() { return ReadMarker(WireType::ArrayEnd); }

WireType BinaryDecoder::ReadType() {
  const WireType t = run.type;
  if (run.count != 0) Advance(SkipValues(t, dc.p, dc.l, 1));
  return t;
}

void BinaryDecoder::Skip() {
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

template <typename T, T (*FromInt)(uint64_t),
          const uint8_t* (*GetFromDouble)(const uint8_t*, const uint8_t*, T*)>
bool BinaryDecoder::ReadNumber(T* v) {
  if (v == nullptr || run.count == 0) return false;
  const uint8_t* next;
  if (run.type == WireType::Int) {
    uint64_t u;
    next = dc.l - dc.p >= kWordSize ? GetVarintWord(dc.p, &u) : nullptr;
    if (next == nullptr) {
      next = GetVarint64(dc.p, dc.l, &u);
      if (!VarintComplete(dc.p, next)) return false;
    }
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

template <typename Unit>
bool BinaryDecoder::ReadUnits(QkXDRAllocator* allocator) {
  if (allocator == nullptr || run.count == 0 || run.type != WireType::String) return false;
  uint32_t n;
  const uint8_t* f = GetVarint32(dc.p, dc.l, &n);
  if (!VarintComplete(dc.p, f)) return false;
  auto* out = static_cast<Unit*>(allocator->Alloc(n));
  if (out == nullptr) {
    f = SkipVarints(f, dc.l, n);
  } else {
    f = GetUnitVarints(f, dc.l, out, n);
  }
  // Positions only grow and the loop stops at the end of the input, so one
  // check after it covers every unit.
  XDRAssert(f <= dc.l, "f <= dc.l");
  Advance(f);
  return true;
}

bool BinaryDecoder::ReadMarker(WireType t) {
  if (run.count == 0 || run.type != t) return false;
  Advance(dc.p);
  return true;
}

void BinaryDecoder::LoadRun() {
  if (dc.p < dc.l) {
    run.Split(*dc.p++);
  } else {
    run.count = 0;
  }
}

void BinaryDecoder::Advance(const uint8_t* next) {
  dc.p = next;
  if (run.Consume()) LoadRun();
}

}  // namespace qkxdr::impl
