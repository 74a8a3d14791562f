#include "json/tagged_forms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace qkxdr::json::detail {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kQuietNaN = 0x7FF8000000000000;
constexpr std::string_view kNaNPrefix = "NaN:";

// The value of each base64 digit, by byte; -1 for the bytes that are none.
constexpr std::array<signed char, 256> SextetTable() {
  std::array<signed char, 256> table{};
  for (signed char& value : table) value = -1;
  for (int i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
  }
  return table;
}
constexpr std::array<signed char, 256> kSextets = SextetTable();

int Sextet(char c) { return kSextets[static_cast<unsigned char>(c)]; }

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
  const std::size_t at = out->size();
  out->resize(at + (size + 2) / 3 * 4);
  char* to = out->data() + at;
  for (std::size_t i = 0; i < size; i += 3) {
    std::uint32_t group = 0;
    for (std::size_t k = i; k < i + 3; ++k) group = group << 8 | (k < size ? data[k] : 0U);
    const std::size_t bytes = std::min<std::size_t>(size - i, 3);
    for (std::size_t k = 0; k < 4; ++k) {
      *to++ = k <= bytes ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
}

bool ParseBase64(std::string_view text, std::vector<std::uint8_t>* bytes) {
  if (text.size() % 4 != 0) return false;
  const std::size_t padding = text.size() - std::min(text.find_last_not_of('=') + 1, text.size());
  if (padding > 2) return false;
  bytes->resize(text.size() / 4 * 3);
  std::uint8_t* out = bytes->data();
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const std::size_t pads = i + 4 == text.size() ? padding : 0;
    const int a = Sextet(text[i]);
    const int b = Sextet(text[i + 1]);
    const int c = pads < 2 ? Sextet(text[i + 2]) : 0;
    const int d = pads < 1 ? Sextet(text[i + 3]) : 0;
    if ((a | b | c | d) < 0) return false;
    const auto group = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
    out[0] = static_cast<std::uint8_t>(group >> 16);
    out[1] = static_cast<std::uint8_t>(group >> 8);
    out[2] = static_cast<std::uint8_t>(group);
    out += 3;
  }
  bytes->resize(bytes->size() - padding);
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
