// The ten-digit double formatter: the written forms by example, and a check
// against an independent reference over a million values.

#include "text/double_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "test_util.h"

namespace qkxdr::impl {
namespace {

std::string Format(double v) {
  char16_t text[kMaxDoubleText];
  const char16_t* end = FormatDouble(v, text);
  return std::string(static_cast<const char16_t*>(text), end);
}

// The written form rebuilt from the C library's "%.9e": its ten significant
// digits and the exponent m of the first, placed by the rules of the format.
std::string Reference(double v) {
  char printed[32];
  std::snprintf(printed, sizeof printed, "%.9e", std::fabs(v));
  std::string digits = printed[0] + std::string(printed + 2, 9);
  const int m = std::atoi(printed + 12);
  const std::string sign = std::signbit(v) ? "-" : "";
  const auto trim = [](std::string t) { return t.erase(t.find_last_not_of('0') + 1); };
  if (m < -1 || m > 9) {
    char exponent[8];
    std::snprintf(exponent, sizeof exponent, "e%+04d", m);
    return sign + digits[0] + "." + trim(digits.substr(1)) + exponent;
  }
  if (m == 9) return sign + digits;
  if (m == -1) digits = "0" + digits;
  const size_t point = m == -1 ? 1 : static_cast<size_t>(m) + 1;
  return sign + digits.substr(0, point) + "." + trim(digits.substr(point));
}

// The forms of the text writer's vectors are not repeated here.
TEST(DoubleFormat, WrittenForms) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1e-100, "1.e-100"},
      {12345.678, "12345.678"},
      {123456789.0, "123456789."},
      {-1234567891.0, "-1234567891"},  // m = 9: no digits after the point, so no point
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
      {-DBL_TRUE_MIN, "-4.940656458e-324"},
      {FromBits(0x000FFFFFFFFFFFFF), "2.225073859e-308"},  // largest denormal
      {-NAN, "0.e+999"},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.value), c.text) << "value " << c.value;
}

// Finite bit patterns, and values next to a decimal boundary: "<lead>e<k>"
// moved by up to 4 units in the last place, where the lead is 1 (a power of
// ten), 9.9999999995 (rounding up to the next power) or ten random digits
// and a 5 (a tie between two ten-digit values).
TEST(DoubleFormat, MatchesReferenceOverAMillionValues) {
  std::mt19937_64 random(20240611);
  for (int compared = 0; compared < 1000000;) {
    const std::string ten = std::to_string(1000000000 + random() % 9000000000);
    const std::string leads[] = {"1", "9.9999999995", ten.substr(0, 1) + "." + ten.substr(1) + "5"};
    double v = FromBits(random());
    if (compared % 4 != 0) {
      const int k = static_cast<int>(random() % 633) - 324;
      const double near =
          std::strtod((leads[compared % 4 - 1] + "e" + std::to_string(k)).c_str(), nullptr);
      v = FromBits(BitsOf(near) + random() % 9 - 4) * (random() % 2 ? 1 : -1);
    }
    if (!std::isfinite(v)) continue;
    ASSERT_EQ(Format(v), Reference(v)) << std::hexfloat << v;
    ++compared;
  }
}

}  // namespace
}  // namespace qkxdr::impl
