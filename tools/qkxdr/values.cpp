#include "values.h"

#include <cstring>

namespace qkxdr::tool {
namespace {

bool SameBytes(const Blob& a, const Blob& b) {
  return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

}  // namespace

bool SameValue(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case QkXDRType2::Int:
      return a.integer == b.integer;
    case QkXDRType2::Double: {
      // Bit for bit: NaN payloads and the sign of zero count.
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, &a.real, sizeof x);
      std::memcpy(&y, &b.real, sizeof y);
      return x == y;
    }
    case QkXDRType2::String:
      return a.text == b.text;
    case QkXDRType2::Binary:
      return SameBytes(a.blob, b.blob);
    default:
      return true;
  }
}

}  // namespace qkxdr::tool
