// Helpers shared by the tests.

#ifndef QKXDR_TESTS_TEST_UTIL_H_
#define QKXDR_TESTS_TEST_UTIL_H_

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// Bytes from hex text: "54 8A" is two bytes, "80*42" is 42 bytes 0x80.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  for (std::string token; in >> token;) {
    const auto star = token.find('*');
    const size_t count = star == std::string::npos ? 1 : std::stoul(token.substr(star + 1));
    bytes.insert(bytes.end(), count, static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

// A copy in a block of exactly its size: AddressSanitizer sees a read beyond.
inline std::unique_ptr<char16_t[]> ExactCopy(const std::u16string& text) {
  std::unique_ptr<char16_t[]> copy(new char16_t[text.size()]);
  std::copy(text.begin(), text.end(), copy.get());
  return copy;
}

// The units as ASCII, every other unit as <XXXX>.
inline std::string Printable(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%04X>", static_cast<unsigned>(c));
    out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

inline double FromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

inline uint64_t BitsOf(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

// The shortest text that reads back as v; "nan" for every NaN.
inline std::string DoubleText(double v) {
  char text[32];
  return std::isnan(v) ? "nan" : std::string(text, std::to_chars(text, text + 32, v).ptr);
}

#endif  // QKXDR_TESTS_TEST_UTIL_H_
