// Reading numbers of the text format: digit runs, powers of ten, and whole
// numbers with fraction and exponent.

#ifndef QKXDR_DETAIL_TEXT_NUMBER_SCAN_H_
#define QKXDR_DETAIL_TEXT_NUMBER_SCAN_H_

#include <array>
#include <cstdint>
#include <cstring>

#include "qkxdr/detail/text/char_class.h"
#include "qkxdr/detail/text/digit_scan.h"
#include "qkxdr/detail/text/text_value.h"

// The number rule rounds every product to double as it is formed. x87 code
// keeps products at extended precision and gives other numbers: 32-bit x86
// is compiled for SSE2 (-msse2 -mfpmath=sse, or /arch:SSE2).
#if (defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0) || \
    (defined(_M_IX86_FP) && _M_IX86_FP < 2)
#error "numbers are read with double arithmetic: compile 32-bit x86 for SSE2"
#endif

namespace qkxdr::impl {

// One part of a number: an optional sign and the digits after it. The
// accumulator wraps modulo 2^64 without notice.
struct DigitRun {
  bool negative = false;
  uint32_t count = 0;  // digits read
  uint64_t accumulator = 0;

  // The accumulator as two's complement, negated (modulo 2^64) when negative.
  int64_t SignedValue() const {
    const uint64_t flip = 0 - uint64_t{negative};  // all ones when negative
    return static_cast<int64_t>((accumulator ^ flip) - flip);
  }
};

// Reads an optional "+" or "-" and the decimal digits after it into *run;
// returns the position after them. Never reads at or beyond end.
inline const char16_t* ReadDigitRun(const char16_t* cur, const char16_t* end, DigitRun* run) {
  *run = DigitRun{};
  if (cur >= end) return cur;
  // Without a branch: signs are as likely as not, and would be mispredicted.
  run->negative = *cur == u'-';
  cur += run->negative || *cur == u'+';
  const char16_t* const digits = cur;
  uint64_t accumulator = 0;
  cur = ReadDigits(cur, end, &accumulator);
  run->count = static_cast<uint32_t>(cur - digits);
  run->accumulator = accumulator;
  return cur;
}

// Ten to the power k, by repeated squaring.
constexpr double PowerOfTenMagnitude(uint32_t k) {
  double r = 1;
  double b = 10;
  while (true) {
    if (k & 1) r *= b;
    k >>= 1;
    if (k == 0) return r;
    b *= b;
  }
}

// 1 / PowerOfTenMagnitude(k) for the fractions of up to 24 digits, worked
// out once: the division is the slow part of reading a fraction.
constexpr uint32_t kFractionTable = 25;

constexpr std::array<double, kFractionTable> BuildInversePowersOfTen() {
  std::array<double, kFractionTable> inverses{};
  for (uint32_t k = 0; k < kFractionTable; ++k) inverses[k] = 1 / PowerOfTenMagnitude(k);
  return inverses;
}

inline constexpr std::array<double, kFractionTable> kInversePowersOfTen = BuildInversePowersOfTen();

inline double InversePowerOfTen(uint32_t k) {
  return k < kFractionTable ? kInversePowersOfTen[k] : 1 / PowerOfTenMagnitude(k);
}

// -f when `negative`, else f, by flipping the sign bit: signs are as likely as
// not, and a branch on them would be mispredicted.
inline double NegatedIf(bool negative, double f) {
  uint64_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  bits ^= uint64_t{negative} << 63;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Ten to the power n in double precision by repeated squaring, every product
// rounded as it is formed; 1 / (ten to the -n) for negative n.
inline double PowerOfTen(int32_t n) {
  if (n >= 0) return PowerOfTenMagnitude(static_cast<uint32_t>(n));
  return 1 / PowerOfTenMagnitude(0 - static_cast<uint32_t>(n));
}

// Scans the number at cur into value->kind and value->integer or value->real;
// returns the position after it. The unit at cur, if any, is "+", "-", "." or
// a digit. A "." right after the digits makes the number Real even without
// digits after it ("1." is 1.0); a "." with no digit on either side ends the
// number as Integer 0.
inline const char16_t* ScanNumber(const char16_t* cur, const char16_t* end, TextValue* value) {
  DigitRun whole;
  cur = ReadDigitRun(cur, end, &whole);
  // A plain integer, the common case, is done as soon as its digits are.
  if (cur == end || (*cur != u'.' && *cur != u'e' && *cur != u'E')) {
    value->kind = TextValueKind::Integer;
    value->integer = whole.SignedValue();
    return cur;
  }

  double x = static_cast<double>(whole.SignedValue());
  if (*cur == u'.') {
    ++cur;
    const bool has_fraction = cur < end && IsDigit(*cur);
    if (!has_fraction && whole.count == 0) {
      // A "." with no digit on either side: consumed, so that no step stays
      // on it.
      value->kind = TextValueKind::Integer;
      value->integer = 0;
      return cur;
    }
    if (has_fraction) {
      DigitRun fraction;
      cur = ReadDigitRun(cur, end, &fraction);
      const double digits = static_cast<double>(static_cast<int64_t>(fraction.accumulator));
      const double f = digits * InversePowerOfTen(fraction.count);
      x += NegatedIf(whole.negative, f);
    }
  }

  if (cur < end && (*cur == u'e' || *cur == u'E')) {
    DigitRun exponent;
    cur = ReadDigitRun(cur + 1, end, &exponent);
    if (exponent.count != 0) {
      x *= PowerOfTen(static_cast<int32_t>(static_cast<uint32_t>(exponent.SignedValue())));
    }
  }

  // A fraction, a "." after digits or an exponent marker: a real.
  value->kind = TextValueKind::Real;
  value->real = x;
  return cur;
}

// Where the number at cur, which starts as for ScanNumber, ends as
// ScanNumber reads it; without its value.
inline const char16_t* PassNumber(const char16_t* cur, const char16_t* end) {
  cur += *cur == u'-' || *cur == u'+';
  const char16_t* const whole = cur;
  cur = SkipDigits(cur, end);
  if (cur == end || (*cur != u'.' && *cur != u'e' && *cur != u'E')) return cur;
  if (*cur == u'.') {
    ++cur;
    const bool has_fraction = cur < end && IsDigit(*cur);
    if (!has_fraction && cur - 1 == whole) return cur;  // a "." alone
    cur = SkipDigits(cur, end);
  }
  if (cur < end && (*cur == u'e' || *cur == u'E')) {
    ++cur;
    cur += cur < end && (*cur == u'-' || *cur == u'+');
    cur = SkipDigits(cur, end);
  }
  return cur;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_NUMBER_SCAN_H_
