#include "json/tagged_forms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qkxdr::json::detail {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kQuietNaN = 0x7FF8000000000000;
constexpr std::string_view kNaNPrefix = "NaN:";

int Sextet(char c) {
  const char* at = std::strchr(kAlphabet, c);
  return c != '\0' && at != nullptr ? static_cast<int>(at - kAlphabet) : -1;
}

std::uint64_t Bits(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

double FromBits(std::uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

void AppendBase64(const std::uint8_t* data, std::size_t size, std::string* out) {
  for (std::size_t i = 0; i < size; i += 3) {
    std::uint32_t group = 0;
    for (std::size_t k = i; k < i + 3; ++k) group = group << 8 | (k < size ? data[k] : 0U);
    const std::size_t bytes = std::min<std::size_t>(size - i, 3);
    for (std::size_t k = 0; k < 4; ++k) {
      out->push_back(k <= bytes ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=');
    }
  }
}

bool ParseBase64(std::string_view text, std::vector<std::uint8_t>* bytes) {
  if (text.size() % 4 != 0) return false;
  const std::size_t padding = text.size() - std::min(text.find_last_not_of('=') + 1, text.size());
  if (padding > 2) return false;
  bytes->clear();
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::size_t digits = i + 4 == text.size() ? 4 - padding : 4;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int sextet = k < digits ? Sextet(text[i + k]) : 0;
      if (sextet < 0) return false;
      group = group << 6 | static_cast<std::uint32_t>(sextet);
    }
    for (std::size_t k = 0; k + 1 < digits; ++k) {
      bytes->push_back(static_cast<std::uint8_t>(group >> (16 - 8 * k)));
    }
  }
  return true;
}

std::string DoubleName(double v) {
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  const std::uint64_t bits = Bits(v);
  if (bits == kQuietNaN) return "NaN";
  char hex[16];
  for (int i = 0; i < 16; ++i) hex[i] = "0123456789ABCDEF"[(bits >> (60 - 4 * i)) & 0xF];
  return std::string(kNaNPrefix) + std::string(hex, sizeof hex);
}

bool ParseDoubleName(std::string_view name, double* v) {
  if (name == "Infinity" || name == "-Infinity") {
    *v = name[0] == '-' ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    return true;
  }
  std::uint64_t bits = kQuietNaN;
  if (name != "NaN") {
    if (name.size() != kNaNPrefix.size() + 16 || name.substr(0, kNaNPrefix.size()) != kNaNPrefix) {
      return false;
    }
    const char* end = name.data() + name.size();
    const auto [at, error] = std::from_chars(name.data() + kNaNPrefix.size(), end, bits, 16);
    if (error != std::errc() || at != end || !std::isnan(FromBits(bits))) return false;
  }
  *v = FromBits(bits);
  return true;
}

}  // namespace qkxdr::json::detail
