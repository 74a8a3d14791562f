// Number tokens read as the nearest double: the token's units, already read
// by the tokenizer, are narrowed to a short ASCII text of bounded size that
// std::from_chars converts with correct rounding.

#ifndef QKXDR_DETAIL_TEXT_EXACT_NUMBER_H_
#define QKXDR_DETAIL_TEXT_EXACT_NUMBER_H_

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "qkxdr/detail/text/char_class.h"

namespace qkxdr::impl {

// Significant digits kept as they are. A double, and a point halfway between
// two, has at most 767 significant digits; so the first 800 digits, and
// whether any digit after them is not zero, decide the rounding. A
// non-zero rest is kept as one more digit "1".
constexpr int kKeptDigits = 800;

// Exponent digits are accumulated until the magnitude reaches this, then
// ignored: no text is long enough for its digits to make up for more.
constexpr int64_t kExponentCeiling = 100000000000000000;  // 10^17

// A value of at most kKeptDigits + 1 digits times ten to a power beyond this
// bound is zero or infinite: exponents are clamped to it.
constexpr int64_t kExponentBound = 100000;

// The digits of a number token: the value is the kept digits, as an integer,
// times ten to `exponent`, plus less than one unit of the last kept digit
// (not zero exactly when `non_zero_rest`).
struct DecimalDigits {
  bool negative = false;
  bool any_digit = false;  // whether the token has a digit at all
  bool non_zero_rest = false;
  int kept = 0;  // leading zeros are not kept
  int64_t exponent = 0;
  char digits[kKeptDigits];
};

inline void AddDigit(DecimalDigits* d, char16_t digit, bool after_point) {
  d->any_digit = true;
  if (d->kept == 0 && digit == u'0') {
    d->exponent -= after_point;
  } else if (d->kept < kKeptDigits) {
    d->digits[d->kept++] = static_cast<char>(digit);
    d->exponent -= after_point;
  } else {
    d->exponent += !after_point;
    d->non_zero_rest = d->non_zero_rest || digit != u'0';
  }
}

// Adds the digits at cur, up to end; returns the position after them.
inline const char16_t* AddDigits(DecimalDigits* d, const char16_t* cur, const char16_t* end,
                                 bool after_point) {
  for (; cur < end && IsDigit(*cur); ++cur) AddDigit(d, *cur, after_point);
  return cur;
}

// Reads an optional sign and the digits after it into *exponent, its
// magnitude held below 10 * kExponentCeiling + 10.
inline void ReadExponent(const char16_t* cur, const char16_t* end, int64_t* exponent) {
  bool negative = false;
  if (cur < end && (*cur == u'+' || *cur == u'-')) negative = *cur++ == u'-';
  int64_t magnitude = 0;
  for (; cur < end && IsDigit(*cur); ++cur) {
    if (magnitude < kExponentCeiling) magnitude = magnitude * 10 + (*cur - u'0');
  }
  *exponent = negative ? -magnitude : magnitude;
}

// Reads a token of the tokenizer's number form: an optional sign, digits,
// optionally "." and digits, optionally "e" or "E", a sign and digits, any
// of which may be missing. Linear in the token's length, whatever it is.
inline void ReadDecimal(const char16_t* cur, const char16_t* end, DecimalDigits* d) {
  if (cur < end && (*cur == u'+' || *cur == u'-')) d->negative = *cur++ == u'-';
  cur = AddDigits(d, cur, end, false);
  if (cur < end && *cur == u'.') cur = AddDigits(d, cur + 1, end, true);
  if (cur < end && (*cur == u'e' || *cur == u'E')) {
    int64_t exponent;
    ReadExponent(cur + 1, end, &exponent);
    d->exponent += exponent;
  }
}

// The nearest double to digits with at least one kept; false only if
// std::from_chars cannot read the text made from them.
inline bool NearestToDigits(const DecimalDigits& d, double* out) {
  // "-", the digits, the rest's digit, "e" and "-100000".
  char text[1 + kKeptDigits + 1 + 1 + 7];
  char* p = text;
  *p = '-';
  p += d.negative;
  std::memcpy(p, d.digits, static_cast<size_t>(d.kept));
  p += d.kept;
  int64_t exponent = d.exponent;
  if (d.non_zero_rest) {
    *p++ = '1';
    --exponent;
  }
  *p++ = 'e';
  exponent = (std::max)(-kExponentBound, (std::min)(exponent, kExponentBound));
  p = std::to_chars(p, text + sizeof text, exponent).ptr;
  const std::from_chars_result result = std::from_chars(text, p, *out);
  if (result.ec == std::errc::result_out_of_range) {
    // *out is left alone: the value is beyond the largest double or below
    // half the smallest, as the exponent of its first digit tells.
    const bool large = d.exponent + d.kept > 0;
    const double magnitude = large ? std::numeric_limits<double>::infinity() : 0.0;
    *out = d.negative ? -magnitude : magnitude;
    return true;
  }
  return result.ec == std::errc{};
}

// The number token [begin, end) as the nearest double, for every length of
// token (the tokenizer's "+", ".5", "1." and "1e" included), with the sign
// of the token also for zero ("-0." is -0.0). `read` is what the tokenizer's
// own rule made of the token; it is the value where the nearest double
// cannot be had: for a token without a digit ("-", "-e5", which read as
// 0.0), and for a zero that the rule reads as NaN (zero times a power of ten
// that overflows, "0.e+999", is how the writers write NaN).
inline double NearestDouble(const char16_t* begin, const char16_t* end, double read) {
  DecimalDigits d;
  ReadDecimal(begin, end, &d);
  if (!d.any_digit) return read;
  if (d.kept == 0) return std::isnan(read) ? read : d.negative ? -0.0 : 0.0;
  double nearest;
  return NearestToDigits(d, &nearest) ? nearest : read;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_EXACT_NUMBER_H_
