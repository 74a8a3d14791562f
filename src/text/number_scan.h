// Reading numbers of the text format: digit runs, powers of ten, and whole
// numbers with fraction and exponent.

#ifndef QKXDR_SRC_TEXT_NUMBER_SCAN_H_
#define QKXDR_SRC_TEXT_NUMBER_SCAN_H_

#include <cstdint>

#include "text/digit_scan.h"
#include "text/text_value.h"

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

// Ten to the power n in double precision by repeated squaring, every product
// rounded as it is formed; 1 / (ten to the -n) for negative n.
double PowerOfTen(int32_t n);

// Scans the number at cur into value->kind and value->integer or value->real;
// returns the position after it. The unit at cur, if any, is "+", "-", "." or
// a digit. A "." right after the digits makes the number Real even without
// digits after it ("1." is 1.0); a "." with no digit on either side ends the
// number as Integer 0.
const char16_t* ScanNumber(const char16_t* cur, const char16_t* end, TextValue* value);

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_NUMBER_SCAN_H_
