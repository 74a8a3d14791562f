// What the text reader hands to its callers, made from the tokenizer's
// current value: numbers converted on request, strings copied into the
// caller's buffers, and hexadecimal blob text decoded into bytes.

#ifndef QKXDR_DETAIL_TEXT_READER_VALUES_H_
#define QKXDR_DETAIL_TEXT_READER_VALUES_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "QkXDR.h"
#include "qkxdr/detail/base/blob_buffer.h"
#include "qkxdr/detail/base/truncate.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "qkxdr/detail/text/text_value.h"

namespace qkxdr::impl {

// The low 32 bits of v, as two's complement.
inline int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// Integers give their low bits, as two's complement; reals are truncated
// toward zero, and give the smallest Int outside the range, for NaN and for
// the infinities. Other kinds fail; *out is written only on success.
template <typename Int>
bool ToInteger(const TextValue& value, Int* out) {
  if (value.kind == TextValueKind::Integer) {
    *out = static_cast<Int>(static_cast<std::make_unsigned_t<Int>>(value.integer));
    return true;
  }
  if (value.kind != TextValueKind::Real) return false;
  *out = TruncateToInteger<Int>(value.real);
  return true;
}

inline bool ToInt32(const TextValue& value, int32_t* out) { return ToInteger(value, out); }
inline bool ToInt64(const TextValue& value, int64_t* out) { return ToInteger(value, out); }

// Integers as the nearest double, reals as they are; other kinds fail.
inline bool ToDouble(const TextValue& value, double* out) {
  switch (value.kind) {
    case TextValueKind::Integer:
      *out = static_cast<double>(value.integer);
      return true;
    case TextValueKind::Real:
      *out = value.real;
      return true;
    default:
      return false;
  }
}

inline uint32_t TextLength(const std::u16string& text) {
  return static_cast<uint32_t>(text.size());
}

// Copies the units into allocator->Alloc(length), without a terminator.
// Asks for no buffer when the text is empty; a null buffer gets nothing.
inline void DeliverUnits(const std::u16string& text, QkXDRAllocator* allocator) {
  if (text.empty()) return;
  void* buffer = allocator->Alloc(TextLength(text));
  if (buffer != nullptr) std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
}

// Copies the low 8 bits of each unit into allocator->Alloc(length), asked
// for even when the text is empty; a null buffer gets nothing.
inline void DeliverLowBytes(const std::u16string& text, QkXDRAllocator* allocator) {
  auto* buffer = static_cast<uint8_t*>(allocator->Alloc(TextLength(text)));
  if (buffer == nullptr) return;
  for (char16_t c : text) *buffer++ = static_cast<uint8_t>(c);
}

// Whether the text is blob text: "0x" or "0X" and then the digits.
inline bool HasHexPrefix(const std::u16string& text) {
  return text.size() >= 2 && text[0] == u'0' && (text[1] | 0x20) == u'x';
}

// The number of bytes blob text holds: one per digit pair after the prefix.
inline uint32_t HexBlobSize(const std::u16string& text) { return (TextLength(text) - 2) / 2; }

// Stores the HexBlobSize(text) bytes of blob text at out, high nibble first.
// A last unpaired digit is ignored, a unit that is no hexadecimal digit
// counts 0, and a unit above U+007F counts as its low 7 bits.
inline void DecodeHexBlob(const std::u16string& text, uint8_t* out) {
  const uint32_t n = HexBlobSize(text);
  const char16_t* digits = text.data() + 2;
  for (uint32_t i = 0; i < n; ++i, digits += 2) {
    out[i] = static_cast<uint8_t>(HexDigitTable[digits[0] & 0x7F] << 4 |
                                  HexDigitTable[digits[1] & 0x7F]);
  }
}

// Replaces what the slot holds by a new owning blob of the bytes of blob text.
inline void DecodeHexBlob(const std::u16string& text, QkXDRBinary* slot) {
  deep_binary blob(HexBlobSize(text));
  DecodeHexBlob(text, blob.mutable_data());
  // The slot shares the finished block; the local owner lets go of it.
  Assign(slot, &blob);
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_READER_VALUES_H_
