// Bytes as hexadecimal text, both ways.

#ifndef QKXDR_TOOLS_QKXDR_HEX_H_
#define QKXDR_TOOLS_QKXDR_HEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qkxdr::tool {

// Appends the bytes [p, p + n) as uppercase digit pairs, with `separator`
// between pairs when it is not '\0'.
void AppendHex(const uint8_t* p, size_t n, char separator, std::string* out);

// Turns hexadecimal text into bytes, as it comes in pieces: digits in either
// case, two a byte, with whitespace anywhere; a pair may be split between
// two pieces.
class HexParser {
 public:
  // Appends the bytes of the digits in [p, e) to *out; false at a character
  // that is neither a digit nor whitespace, with its offset from p in *bad.
  bool Feed(const uint8_t* p, const uint8_t* e, std::vector<uint8_t>* out, size_t* bad);
  // Whether the digits so far make whole pairs.
  bool Paired() const { return high_ < 0; }

 private:
  int high_ = -1;  // the first digit of a pair, while its second is awaited
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_HEX_H_
