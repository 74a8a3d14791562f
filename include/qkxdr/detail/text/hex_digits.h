// Hexadecimal digit characters and their values.

#ifndef QKXDR_DETAIL_TEXT_HEX_DIGITS_H_
#define QKXDR_DETAIL_TEXT_HEX_DIGITS_H_

#include <array>
#include <cstdint>

namespace qkxdr::impl {

constexpr std::array<uint8_t, 128> BuildHexDigitTable() {
  std::array<uint8_t, 128> table{};
  for (int i = 0; i < 10; ++i) table[u'0' + i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table[u'A' + i] = static_cast<uint8_t>(10 + i);
    table[u'a' + i] = static_cast<uint8_t>(10 + i);
  }
  return table;
}

// 0-15 for "0"-"9", "A"-"F" and "a"-"f"; 0 for every other code below 128.
// Complete at compile time, so readers on any thread may share it.
inline constexpr std::array<uint8_t, 128> HexDigitTable = BuildHexDigitTable();

// The digit of each value 0-15, in upper case.
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_HEX_DIGITS_H_
