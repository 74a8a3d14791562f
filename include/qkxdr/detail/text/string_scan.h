// Reading quoted strings and bare words of the text format.

#ifndef QKXDR_DETAIL_TEXT_STRING_SCAN_H_
#define QKXDR_DETAIL_TEXT_STRING_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "qkxdr/detail/base/compiler.h"

#if defined(QKXDR_SIMD_SSE2)
#include <emmintrin.h>
#endif

#include "qkxdr/detail/text/char_class.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "qkxdr/detail/text/text_value.h"

namespace qkxdr::impl {

// The unit that a backslash and e stand for; any unit without a meaning of
// its own stands for itself.
inline char16_t Unescape(char16_t e) {
  switch (e) {
    case u'b':
      return u'\b';
    case u'f':
      return u'\f';
    case u'n':
      return u'\n';
    case u'r':
      return u'\r';
    case u't':
      return u'\t';
    default:
      return e;
  }
}

// The value of one "\u" digit; a unit that is no hexadecimal digit counts 0.
inline uint32_t EscapeDigit(char16_t c) { return c < 0x80 ? HexDigitTable[c] : 0; }

// A target that keeps no units: where a string ends, without its units.
struct NoUnits {
  void clear() {}
  void append(const char16_t* /*units*/, size_t /*n*/) {}
  void push_back(char16_t /*unit*/) {}
};

// Appends the escape whose first unit after the backslash is at cur;
// returns the position after it.
template <typename Target>
const char16_t* AppendEscape(const char16_t* cur, const char16_t* end, Target* target) {
  if (cur >= end) return end;
  const char16_t e = *cur++;
  if (e != u'u') {
    target->push_back(Unescape(e));
    return cur;
  }
  // Four digits are decoded only when a unit follows them.
  if (end - cur < 5) return end;
  uint32_t unit = 0;
  for (int i = 0; i < 4; ++i) unit = unit << 4 | EscapeDigit(cur[i]);
  target->push_back(static_cast<char16_t>(unit));
  return cur + 4;
}

#if defined(QKXDR_SIMD_SSE2)
// The units among the 8 at s that are `quote` or a backslash, two mask bits
// each.
inline uint32_t StopLanes(const char16_t* s, __m128i quote) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i stops =
      _mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, _mm_set1_epi16('\\')));
  return static_cast<uint32_t>(_mm_movemask_epi8(stops));
}
#endif

// The first unit from cur on that is `quote` or a backslash, or end. Where
// the processor allows, 32 units are looked at a round, so that a string of
// up to 32 units is found with no branch on its length.
inline const char16_t* FindStop(const char16_t* cur, const char16_t* end, char16_t quote) {
#if defined(QKXDR_SIMD_SSE2)
  const __m128i q = _mm_set1_epi16(static_cast<short>(quote));
  for (; end - cur >= 32; cur += 32) {
    const uint64_t lanes = uint64_t{StopLanes(cur, q)} | uint64_t{StopLanes(cur + 8, q)} << 16 |
                           uint64_t{StopLanes(cur + 16, q)} << 32 |
                           uint64_t{StopLanes(cur + 24, q)} << 48;
    if (lanes != 0) return cur + __builtin_ctzll(lanes) / 2;
  }
  for (; end - cur >= 8; cur += 8) {
    const uint32_t lanes = StopLanes(cur, q);
    if (lanes != 0) return cur + __builtin_ctz(lanes) / 2;
  }
#endif
  while (cur < end && *cur != quote && *cur != u'\\') ++cur;
  return cur;
}

// Decodes the string whose opening quote is at cur (before end) into
// *target; returns the position after the closing quote, or end when the
// string is not terminated. Never reads at or beyond end. A "\u" escape
// with fewer than five units left from its first digit, or a backslash as
// the last unit, appends nothing and ends the string at end. Target is
// std::u16string, or NoUnits.
template <typename Target>
const char16_t* ScanString(const char16_t* cur, const char16_t* end, Target* target) {
  const char16_t quote = *cur++;
  target->clear();
  while (true) {
    const char16_t* const span = cur;
    cur = FindStop(cur, end, quote);
    target->append(span, static_cast<size_t>(cur - span));
    if (cur >= end) return end;
    if (*cur == quote) return cur + 1;
    cur = AppendEscape(cur + 1, end, target);
  }
}

// Copies the word characters at cur into *target (empty when there are
// none); returns the position after them.
inline const char16_t* ScanWord(const char16_t* cur, const char16_t* end, std::u16string* target) {
  const char16_t* const word = cur;
  while (cur < end && IsWordCharacter(*cur)) ++cur;
  target->assign(word, static_cast<size_t>(cur - word));
  return cur;
}

// Sets value->kind (and value->boolean) from the word in value->text: the
// literals "true", "false" and "null", compared case-sensitively, or Word.
inline void ClassifyWord(TextValue* value) {
  if (value->text == u"true") {
    value->kind = TextValueKind::Boolean;
    value->boolean = 1;
  } else if (value->text == u"false") {
    value->kind = TextValueKind::Boolean;
    value->boolean = 0;
  } else if (value->text == u"null") {
    value->kind = TextValueKind::Null;
  } else {
    value->kind = TextValueKind::Word;
  }
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_STRING_SCAN_H_
