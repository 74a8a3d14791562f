// qkxdr/latin1.hpp: the 8-bit strings of the exported interface.
//
// Everywhere in namespace qkxdr a std::string holds UTF-8 and travels as the
// format's UTF-16 strings. A Latin1 is the other kind of 8-bit string: each
// byte is one unit of the same value (U+0001 to U+00FF), with no code-page
// conversion, as the binary QkXDROStream2::WriteStringA writes them. Reading
// one back refuses a unit above U+00FF instead of cutting it.

#ifndef QKXDR_LATIN1_HPP_
#define QKXDR_LATIN1_HPP_

#include <string>

namespace qkxdr {

struct Latin1 {
  std::string bytes;

  friend bool operator==(const Latin1& a, const Latin1& b) { return a.bytes == b.bytes; }
  friend bool operator!=(const Latin1& a, const Latin1& b) { return a.bytes != b.bytes; }
};

}  // namespace qkxdr

#endif  // QKXDR_LATIN1_HPP_
