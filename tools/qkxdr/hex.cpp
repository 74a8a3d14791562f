#include "hex.h"

namespace qkxdr::tool {
namespace {

int DigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

void AppendHex(const uint8_t* p, size_t n, char separator, std::string* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    if (i != 0 && separator != '\0') out->push_back(separator);
    out->push_back(kDigits[p[i] >> 4]);
    out->push_back(kDigits[p[i] & 0xF]);
  }
}

bool HexParser::Feed(const uint8_t* p, const uint8_t* e, std::vector<uint8_t>* out, size_t* bad) {
  out->reserve(out->size() + static_cast<size_t>(e - p) / 2);
  for (const uint8_t* at = p; at < e; ++at) {
    if (IsSpace(*at)) continue;
    const int digit = DigitValue(*at);
    if (digit < 0) {
      *bad = static_cast<size_t>(at - p);
      return false;
    }
    if (high_ < 0) {
      high_ = digit;
    } else {
      out->push_back(static_cast<uint8_t>(high_ << 4 | digit));
      high_ = -1;
    }
  }
  return true;
}

}  // namespace qkxdr::tool
