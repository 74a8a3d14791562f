// Ten significant digits come from std::to_chars, which rounds correctly;
// the rest places them in the fixed or the exponent form.

#include "text/double_format.h"

#include <charconv>
#include <cmath>

namespace qkxdr::impl {
namespace {

constexpr int kSignificantDigits = 10;

char16_t* PutAscii(char16_t* dst, const char* text) {
  while (*text != '\0') *dst++ = static_cast<char16_t>(*text++);
  return dst;
}

// Writes the first n digits; nothing when n <= 0.
char16_t* PutDigits(char16_t* dst, const char* digits, int n) {
  for (int i = 0; i < n; ++i) *dst++ = static_cast<char16_t>(digits[i]);
  return dst;
}

// Writes "e", the sign and three digits of m (|m| <= 324 for doubles).
char16_t* PutExponent(char16_t* dst, int m) {
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
int RoundToDigits(double v, char (&digits)[kSignificantDigits]) {
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

}  // namespace

char16_t* FormatDouble(double v, char16_t* dst) {
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
