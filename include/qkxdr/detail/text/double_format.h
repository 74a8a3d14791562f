// Text of a double with ten significant digits: std::to_chars gives them,
// correctly rounded, and the rest places them in the fixed or the exponent
// form.

#ifndef QKXDR_DETAIL_TEXT_DOUBLE_FORMAT_H_
#define QKXDR_DETAIL_TEXT_DOUBLE_FORMAT_H_

#include <charconv>
#include <cmath>
#include <cstdint>

namespace qkxdr::impl {

// Longest text FormatDouble writes: "-1.234567891e-308".
constexpr uint32_t kMaxDoubleText = 17;

constexpr int kSignificantDigits = 10;

// Writes the characters of `text` as units.
inline char16_t* PutAscii(char16_t* dst, const char* text) {
  while (*text != '\0') *dst++ = static_cast<char16_t>(*text++);
  return dst;
}

// Writes the first n digits; nothing when n <= 0.
inline char16_t* PutDigits(char16_t* dst, const char* digits, int n) {
  for (int i = 0; i < n; ++i) *dst++ = static_cast<char16_t>(digits[i]);
  return dst;
}

// Writes "e", the sign and three digits of m (|m| <= 324 for doubles).
inline char16_t* PutExponent(char16_t* dst, int m) {
  *dst++ = u'e';
  *dst++ = m < 0 ? u'-' : u'+';
  const int magnitude = m < 0 ? -m : m;
  *dst++ = static_cast<char16_t>(u'0' + magnitude / 100);
  *dst++ = static_cast<char16_t>(u'0' + magnitude / 10 % 10);
  *dst++ = static_cast<char16_t>(u'0' + magnitude % 10);
  return dst;
}

// Rounds the finite, non-negative v to ten significant digits: fills
// `digits` and returns the decimal exponent of the first one.
inline int RoundToDigits(double v, char (&digits)[kSignificantDigits]) {
  // "d.ddddddddde+XX": correctly rounded, at most 1 + 1 + 9 + 2 + 3 chars.
  char text[24];
  const char* end = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific,
                                  kSignificantDigits - 1)
                        .ptr;
  digits[0] = text[0];
  for (int i = 1; i < kSignificantDigits; ++i) digits[i] = text[i + 1];
  const char* p = text + kSignificantDigits + 2;  // the exponent's sign
  const bool negative = *p++ == '-';
  int m = 0;
  while (p < end) m = m * 10 + (*p++ - '0');
  return negative ? -m : m;
}

// Writes v rounded to ten significant digits at dst, which has room for
// kMaxDoubleText units, and returns the end. Let m be the decimal exponent of
// the rounded value (0 for zero). For -1 <= m <= 9 the form is fixed, with
// 9 - m digits after the point ("2.5", "0.1", "100.", "1234567891" for m = 9,
// which has no point); otherwise it is one digit, the point, the other digits
// and a three-digit exponent ("1.e+010", "5.e-002"). Trailing zeros after the
// point are dropped, the point is kept, and a negative sign bit (zero
// included) gives a leading "-". Infinities are written "1.e+999" and
// "-1.e+999", NaN "0.e+999": read back with a power of ten that overflows to
// infinity, they give those values again.
inline char16_t* FormatDouble(double v, char16_t* dst) {
  if (std::isnan(v)) return PutAscii(dst, "0.e+999");
  if (std::signbit(v)) *dst++ = u'-';
  if (std::isinf(v)) return PutAscii(dst, "1.e+999");

  char digits[kSignificantDigits];
  const int m = RoundToDigits(std::fabs(v), digits);
  int kept = kSignificantDigits;  // digits up to the last non-zero one
  while (kept > 1 && digits[kept - 1] == '0') --kept;

  if (m < -1 || m > 9) {
    *dst++ = static_cast<char16_t>(digits[0]);
    *dst++ = u'.';
    dst = PutDigits(dst, digits + 1, kept - 1);
    return PutExponent(dst, m);
  }
  if (m == -1) {
    dst = PutAscii(dst, "0.");
    return PutDigits(dst, digits, kept);
  }
  // 0 <= m <= 9: m + 1 digits before the point, the rest after it.
  const int whole = m + 1;
  dst = PutDigits(dst, digits, whole);
  if (whole == kSignificantDigits) return dst;
  *dst++ = u'.';
  return PutDigits(dst, digits + whole, kept - whole);  // nothing when kept <= whole
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_DOUBLE_FORMAT_H_
