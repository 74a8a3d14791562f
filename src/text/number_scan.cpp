#include "text/number_scan.h"

#include "text/char_class.h"

namespace qkxdr::impl {
namespace {

// Ten to the power k, by repeated squaring.
double PowerOfTenMagnitude(uint32_t k) {
  double r = 1;
  double b = 10;
  while (true) {
    if (k & 1) r *= b;
    k >>= 1;
    if (k == 0) return r;
    b *= b;
  }
}

}  // namespace

const char16_t* ReadDigitRun(const char16_t* cur, const char16_t* end, DigitRun* run) {
  *run = DigitRun{};
  if (cur >= end) return cur;
  if (*cur == u'-') {
    run->negative = true;
    ++cur;
  } else if (*cur == u'+') {
    ++cur;
  }
  const char16_t* const digits = cur;
  uint64_t accumulator = 0;
  for (; cur < end; ++cur) {
    const uint32_t digit = static_cast<uint32_t>(*cur) - u'0';
    if (digit > 9) break;
    accumulator = accumulator * 10 + digit;
  }
  run->count = static_cast<uint32_t>(cur - digits);
  run->accumulator = accumulator;
  return cur;
}

double PowerOfTen(int32_t n) {
  if (n >= 0) return PowerOfTenMagnitude(static_cast<uint32_t>(n));
  return 1 / PowerOfTenMagnitude(0 - static_cast<uint32_t>(n));
}

const char16_t* ScanNumber(const char16_t* cur, const char16_t* end, TextValue* value) {
  DigitRun whole;
  cur = ReadDigitRun(cur, end, &whole);
  bool real = false;
  double x = static_cast<double>(whole.SignedValue());

  if (cur < end && *cur == u'.') {
    ++cur;
    const bool has_fraction = cur < end && IsDigit(*cur);
    if (!has_fraction && whole.count == 0) {
      // A "." with no digit on either side: consumed, so that no step stays
      // on it.
      value->kind = TextValueKind::Integer;
      value->integer = 0;
      return cur;
    }
    real = true;
    if (has_fraction) {
      DigitRun fraction;
      cur = ReadDigitRun(cur, end, &fraction);
      const double digits = static_cast<double>(static_cast<int64_t>(fraction.accumulator));
      const double f = digits * (1 / PowerOfTenMagnitude(fraction.count));
      x += whole.negative ? -f : f;
    }
  }

  if (cur < end && (*cur == u'e' || *cur == u'E')) {
    real = true;
    DigitRun exponent;
    cur = ReadDigitRun(cur + 1, end, &exponent);
    if (exponent.count != 0) {
      x *= PowerOfTen(static_cast<int32_t>(static_cast<uint32_t>(exponent.SignedValue())));
    }
  }

  if (real) {
    value->kind = TextValueKind::Real;
    value->real = x;
  } else {
    value->kind = TextValueKind::Integer;
    value->integer = whole.SignedValue();
  }
  return cur;
}

}  // namespace qkxdr::impl
