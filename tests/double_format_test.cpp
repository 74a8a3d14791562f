// The ten-digit double formatter: the written forms by example, and a check
// against an independent reference over a million values.

#include "text/double_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace qkxdr::impl {
namespace {

std::string Format(double v) {
  char16_t text[kMaxDoubleText];
  const char16_t* end = FormatDouble(v, text);
  std::string narrow;
  for (const char16_t* p = text; p < end; ++p) narrow.push_back(static_cast<char>(*p));
  return narrow;
}

// The written form rebuilt from the C library's "%.9e" text: the ten
// significant digits and the exponent m after rounding are read off the
// string, then placed by the rules of the format.
std::string Reference(double v) {
  char printed[64];
  std::snprintf(printed, sizeof printed, "%.9e", v);
  std::string s = printed;
  std::string sign;
  if (s[0] == '-') {
    sign = "-";
    s.erase(0, 1);
  }
  const size_t e = s.find('e');
  const int m = std::atoi(s.c_str() + e + 1);
  const std::string digits = s.substr(0, 1) + s.substr(2, e - 2);  // ten digits
  auto trim = [](std::string t) {
    while (!t.empty() && t.back() == '0') t.pop_back();
    return t;
  };
  if (m < -1 || m > 9) {
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, "e%c%03d", m < 0 ? '-' : '+', std::abs(m));
    return sign + digits.substr(0, 1) + "." + trim(digits.substr(1)) + exponent;
  }
  if (m == 9) return sign + digits;
  const std::string padded = m == -1 ? "0" + digits : digits;
  const size_t point = m == -1 ? 1 : static_cast<size_t>(m) + 1;
  return sign + padded.substr(0, point) + "." + trim(padded.substr(point));
}

double FromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

uint64_t ToBits(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

TEST(DoubleFormat, WrittenForms) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {2.5, "2.5"},
      {-0.25, "-0.25"},
      {3.14159265358979, "3.141592654"},
      {0.1, "0.1"},
      {0.5, "0.5"},
      {1.0, "1."},
      {100.0, "100."},
      {0.0, "0."},
      {-0.0, "-0."},
      {1e10, "1.e+010"},
      {0.05, "5.e-002"},
      {1.5e-7, "1.5e-007"},
      {1e100, "1.e+100"},
      {1e-100, "1.e-100"},
      {12345.678, "12345.678"},
      {123456789.0, "123456789."},
      {1e9, "1000000000"},  // m = 9: no digits after the point, so no point
      {-1234567891.0, "-1234567891"},
      {0.1234567891, "0.1234567891"},  // m = -1: ten digits after "0."
      {0.123456789012, "0.123456789"},
      {123456789012.0, "1.23456789e+011"},
      {-1.234567891e-308, "-1.234567891e-308"},  // the longest text
      // Rounding to ten digits that moves the exponent decides the form.
      {9999999999.5, "1.e+010"},
      {9999999999.4, "9999999999"},
      {999999999.95, "1000000000"},
      {99.9999999999, "100."},
      {0.099999999995, "0.1"},
      {0.0999999999949, "9.999999999e-002"},
      // Exact ties round to even.
      {12345678905.0, "1.23456789e+010"},
      {12345678915.0, "1.234567892e+010"},
      {DBL_MAX, "1.797693135e+308"},
      {DBL_MIN, "2.225073859e-308"},
      {DBL_TRUE_MIN, "4.940656458e-324"},
      {-DBL_TRUE_MIN, "-4.940656458e-324"},
      {FromBits(0x000FFFFFFFFFFFFF), "2.225073859e-308"},  // largest denormal
      {inf, "1.e+999"},
      {-inf, "-1.e+999"},
      {nan, "0.e+999"},
      {-nan, "0.e+999"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Format(c.value), c.text) << "value " << c.value;
  }
}

// Values that sit next to a decimal boundary: text "<lead>e<k>" read as a
// double, moved by up to 4 units in the last place.
double NearDecimal(std::mt19937_64& rng, const std::string& lead) {
  const int k = std::uniform_int_distribution<int>(-324, 308)(rng);
  const double base = std::strtod((lead + "e" + std::to_string(k)).c_str(), nullptr);
  const int64_t step = std::uniform_int_distribution<int64_t>(-4, 4)(rng);
  const double v = FromBits(ToBits(base) + static_cast<uint64_t>(step));  // below 0: NaN
  return rng() & 1 ? -v : v;
}

TEST(DoubleFormat, MatchesReferenceOverAMillionValues) {
  std::mt19937_64 rng(20240611);
  const double boundaries[] = {9999999999.5, 999999999.95, 0.099999999995, 0.0999999999949,
                               1e-100,       1e100,        DBL_MAX,        DBL_MIN,
                               DBL_TRUE_MIN, 0.0,          -0.0,           FromBits(1)};
  for (double v : boundaries) {
    ASSERT_EQ(Format(v), Reference(v)) << "value " << v;
    ASSERT_EQ(Format(-v), Reference(-v)) << "value " << -v;
  }
  int compared = 0;
  while (compared < 1000000) {
    double v;
    switch (compared % 4) {
      case 0:  // any finite bit pattern, denormals included
        v = FromBits(rng());
        if (!std::isfinite(v)) continue;
        break;
      case 1:  // around powers of ten
        v = NearDecimal(rng, "1");
        break;
      case 2:  // around the rounding step to the next power of ten
        v = NearDecimal(rng, "9.9999999995");
        break;
      default: {  // around a tie between two ten-digit values
        const uint64_t digits =
            std::uniform_int_distribution<uint64_t>(1000000000, 9999999999)(rng);
        const std::string text = std::to_string(digits);
        v = NearDecimal(rng, text.substr(0, 1) + "." + text.substr(1) + "5");
        break;
      }
    }
    if (!std::isfinite(v)) continue;
    ASSERT_EQ(Format(v), Reference(v)) << "value bits " << std::hex << ToBits(v);
    ++compared;
  }
}

}  // namespace
}  // namespace qkxdr::impl
