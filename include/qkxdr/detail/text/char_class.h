// The character classes of the text format: one table lookup per unit.

#ifndef QKXDR_DETAIL_TEXT_CHAR_CLASS_H_
#define QKXDR_DETAIL_TEXT_CHAR_CLASS_H_

#include <array>
#include <cstdint>

namespace qkxdr::impl {

// Classes that are not a character of their own. Brackets, ",", ":", "+",
// "-" and "." are each their own class.
constexpr char16_t kWordClass = u'A';
constexpr char16_t kSpaceClass = u' ';
constexpr char16_t kDigitClass = u'0';
constexpr char16_t kQuoteClass = u'"';

constexpr std::array<char16_t, 128> BuildCharClassTable() {
  std::array<char16_t, 128> table{};
  for (char16_t& entry : table) entry = kWordClass;
  for (char16_t c : {u' ', u'\b', u'\f', u'\n', u'\r', u'\t'}) table[c] = kSpaceClass;
  for (char16_t c = u'0'; c <= u'9'; ++c) table[c] = kDigitClass;
  for (char16_t c : {u'{', u'}', u'[', u']', u',', u':', u'+', u'-', u'.'}) table[c] = c;
  table[u'"'] = kQuoteClass;
  table[u'\''] = kQuoteClass;
  return table;
}

// The class of each unit below U+0080, complete at compile time.
inline constexpr std::array<char16_t, 128> CharClassTable = BuildCharClassTable();

// The class of any unit; every unit from U+0080 up is a word character.
inline char16_t ClassOf(char16_t c) { return c < 0x80 ? CharClassTable[c] : kWordClass; }

inline bool IsWhitespace(char16_t c) { return ClassOf(c) == kSpaceClass; }

inline bool IsWordCharacter(char16_t c) {
  const char16_t cls = ClassOf(c);
  return cls == kWordClass || cls == kDigitClass;
}

inline bool IsDigit(char16_t c) { return static_cast<uint32_t>(c) - u'0' < 10; }

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_CHAR_CLASS_H_
