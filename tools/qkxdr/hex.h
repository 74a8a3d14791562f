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

// Turns hexadecimal text into bytes: digits in either case, two a byte, with
// whitespace anywhere. On a character that is neither returns false with its
// offset in *bad; an odd count of digits gives false with *bad = e - p.
bool ParseHex(const uint8_t* p, const uint8_t* e, std::vector<uint8_t>* out, size_t* bad);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_HEX_H_
