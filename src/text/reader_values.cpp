#include "text/reader_values.h"

#include <cstring>
#include <type_traits>

#include "library/truncate.h"
#include "sbuf/binary.h"
#include "text/hex_digits.h"

namespace qkxdr::impl {
namespace {

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

uint32_t Length(const std::u16string& text) { return static_cast<uint32_t>(text.size()); }

uint32_t HexValue(char16_t c) { return HexDigitTable[c & 0x7F]; }

}  // namespace

bool ToInt32(const TextValue& value, int32_t* out) { return ToInteger(value, out); }

bool ToInt64(const TextValue& value, int64_t* out) { return ToInteger(value, out); }

bool ToDouble(const TextValue& value, double* out) {
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

void DeliverUnits(const std::u16string& text, QkXDRAllocator* allocator) {
  if (text.empty()) return;
  void* buffer = allocator->Alloc(Length(text));
  if (buffer != nullptr) std::memcpy(buffer, text.data(), text.size() * sizeof(char16_t));
}

void DeliverLowBytes(const std::u16string& text, QkXDRAllocator* allocator) {
  auto* buffer = static_cast<uint8_t*>(allocator->Alloc(Length(text)));
  if (buffer == nullptr) return;
  for (char16_t c : text) *buffer++ = static_cast<uint8_t>(c);
}

bool HasHexPrefix(const std::u16string& text) {
  return text.size() >= 2 && text[0] == u'0' && (text[1] | 0x20) == u'x';
}

void DecodeHexBlob(const std::u16string& text, QkXDRBinary* slot) {
  const uint32_t n = (Length(text) - 2) / 2;
  sbuf::deep_binary blob(n);
  uint8_t* bytes = blob.mutable_data();
  const char16_t* digits = text.data() + 2;
  for (uint32_t i = 0; i < n; ++i, digits += 2) {
    bytes[i] = static_cast<uint8_t>(HexValue(digits[0]) << 4 | HexValue(digits[1]));
  }
  // The slot shares the finished block; the local owner lets go of it.
  sbuf::Assign(slot, &blob);
}

}  // namespace qkxdr::impl
