// Text of a double with ten significant digits.

#ifndef QKXDR_SRC_TEXT_DOUBLE_FORMAT_H_
#define QKXDR_SRC_TEXT_DOUBLE_FORMAT_H_

#include <cstdint>

namespace qkxdr::impl {

// Longest text FormatDouble writes: "-1.234567891e-308".
constexpr uint32_t kMaxDoubleText = 17;

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
char16_t* FormatDouble(double v, char16_t* dst);

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_DOUBLE_FORMAT_H_
