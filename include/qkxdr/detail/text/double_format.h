// Text of a double: with ten significant digits, as the exported writer
// writes it, or with the fewest digits that read back as the same double.
// std::to_chars gives the digits, correctly rounded; the rest places them in
// the fixed or the exponent form.

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

// Writes the digits[0..count) of a finite, non-negative value, whose first
// digit has the decimal exponent m: for -1 <= m <= 9 in the fixed form, with
// m + 1 digits before the point (zeros where the digits run out: "100.") and
// the rest after it ("2.5", "0.1"); otherwise one digit, the point, the
// other digits and a three-digit exponent ("1.e+010", "5.e-002"). The point
// is always written. The last digit is not zero unless it is the only one.
inline char16_t* PutDecimal(char16_t* dst, const char* digits, int count, int m) {
  if (m < -1 || m > 9) {
    *dst++ = static_cast<char16_t>(digits[0]);
    *dst++ = u'.';
    dst = PutDigits(dst, digits + 1, count - 1);
    return PutExponent(dst, m);
  }
  if (m == -1) {
    dst = PutAscii(dst, "0.");
    return PutDigits(dst, digits, count);
  }
  const int whole = m + 1;
  for (int i = 0; i < whole; ++i) *dst++ = static_cast<char16_t>(i < count ? digits[i] : '0');
  *dst++ = u'.';
  return PutDigits(dst, digits + whole, count - whole);  // nothing when count <= whole
}

// Writes NaN and the infinities, and the sign of every other value, then
// put_magnitude(|v|, dst) for the finite ones; returns the end.
template <typename PutMagnitude>
char16_t* FormatSigned(double v, char16_t* dst, PutMagnitude put_magnitude) {
  if (std::isnan(v)) return PutAscii(dst, "0.e+999");
  if (std::signbit(v)) *dst++ = u'-';
  if (std::isinf(v)) return PutAscii(dst, "1.e+999");
  return put_magnitude(std::fabs(v), dst);
}

// Writes v rounded to ten significant digits at dst, which has room for
// kMaxDoubleText units, and returns the end. The digits, trailing zeros
// dropped, are placed as PutDecimal says, with one exception: at m = 9 the
// ten digits are all whole and the point is left off ("1234567891", which
// reads back as an integer). A negative sign bit (zero included) gives a
// leading "-". Infinities are written "1.e+999" and "-1.e+999", NaN
// "0.e+999": read back with a power of ten that overflows to infinity, they
// give those values again.
inline char16_t* FormatDouble(double v, char16_t* dst) {
  return FormatSigned(v, dst, [](double magnitude, char16_t* out) {
    char digits[kSignificantDigits];
    const int m = RoundToDigits(magnitude, digits);
    int kept = kSignificantDigits;  // digits up to the last non-zero one
    while (kept > 1 && digits[kept - 1] == '0') --kept;
    out = PutDecimal(out, digits, kept, m);
    return m == 9 ? out - 1 : out;
  });
}

// Longest text FormatDoubleExact writes: "-1.2345678901234567e-308".
constexpr uint32_t kMaxExactDoubleText = 24;

// The most significant digits a double needs to read back unchanged.
constexpr int kMaxShortestDigits = 17;

// The fewest digits that read back as the finite, non-negative v: fills
// `digits`, returns their count and sets *m to the decimal exponent of the
// first one.
inline int ShortestDigits(double v, char (&digits)[kMaxShortestDigits], int* m) {
  // "d[.dddd]e+XX[X]": at most 1 + 1 + 16 + 2 + 3 chars.
  char text[32];
  const char* const end =
      std::to_chars(text, text + sizeof text, v, std::chars_format::scientific).ptr;
  const char* p = text;
  int count = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  const bool negative = *++p == '-';
  int exponent = 0;
  for (++p; p < end; ++p) exponent = exponent * 10 + (*p - '0');
  *m = negative ? -exponent : exponent;
  return count;
}

// Writes the shortest text that reads back as exactly v (by correct
// rounding) at dst, which has room for kMaxExactDoubleText units, and returns
// the end. The form is FormatDouble's, with up to 17 digits instead of ten
// and the point always written, so that it never reads as an integer:
// 0.1 is "0.1", 1e300 "1.e+300", 1234567891.0 "1234567891.", 2^-1074
// "5.e-324", the largest double "1.7976931348623157e+308", -0.0 "-0.". NaN,
// whatever its sign and payload, is "0.e+999" and the infinities are
// "1.e+999" and "-1.e+999", as FormatDouble writes them; no finite value has
// those texts. TextDecoder::ReadDoubleExact reads every such text back as
// its double (NaN as a NaN). The exported reader takes each as one Double,
// computed by its own rule: NaN and the infinities as such, -0. as 0.0,
// values below 1e-308 as zeros (its powers of ten below that are 0), the
// largest double possibly as infinity, the others within a few units in the
// last place.
inline char16_t* FormatDoubleExact(double v, char16_t* dst) {
  return FormatSigned(v, dst, [](double magnitude, char16_t* out) {
    char digits[kMaxShortestDigits];
    int m;
    const int count = ShortestDigits(magnitude, digits, &m);
    return PutDecimal(out, digits, count, m);
  });
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_DOUBLE_FORMAT_H_
