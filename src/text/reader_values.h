// What the text reader hands to its callers, made from the tokenizer's
// current value: numbers converted on request, strings copied into the
// caller's buffers, and hexadecimal blob text decoded into an owning blob.

#ifndef QKXDR_SRC_TEXT_READER_VALUES_H_
#define QKXDR_SRC_TEXT_READER_VALUES_H_

#include <cstdint>
#include <string>

#include "QkXDR.h"
#include "text/text_value.h"

namespace qkxdr::impl {

// The low 32 bits of v, as two's complement.
inline int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// Integers give their low 32 bits; reals are truncated toward zero, and give
// INT32_MIN outside the range, for NaN and for the infinities. Other kinds
// fail; *out is written only on success.
bool ToInt32(const TextValue& value, int32_t* out);

// As ToInt32, for 64 bits: integers as they are, reals truncated or INT64_MIN.
bool ToInt64(const TextValue& value, int64_t* out);

// Integers as the nearest double, reals as they are; other kinds fail.
bool ToDouble(const TextValue& value, double* out);

// Copies the units into allocator->Alloc(length), without a terminator.
// Asks for no buffer when the text is empty; a null buffer gets nothing.
void DeliverUnits(const std::u16string& text, QkXDRAllocator* allocator);

// Copies the low 8 bits of each unit into allocator->Alloc(length), asked
// for even when the text is empty; a null buffer gets nothing.
void DeliverLowBytes(const std::u16string& text, QkXDRAllocator* allocator);

// Whether the text is blob text: "0x" or "0X" and then the digits.
bool HasHexPrefix(const std::u16string& text);

// Replaces what the slot holds by a new owning blob of the digit pairs after
// the prefix of blob text, high nibble first. A last unpaired digit is
// ignored, a unit that is no hexadecimal digit counts 0, and a unit above
// U+007F counts as its low 7 bits.
void DecodeHexBlob(const std::u16string& text, QkXDRBinary* slot);

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_READER_VALUES_H_
