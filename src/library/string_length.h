// Length of a zero-terminated string of 8- or 16-bit units.

#ifndef QKXDR_SRC_LIBRARY_STRING_LENGTH_H_
#define QKXDR_SRC_LIBRARY_STRING_LENGTH_H_

#include <cstddef>
#include <cstring>

namespace qkxdr::impl {

// Units before the first zero unit; 0 for a null pointer. Four units a
// round, each read only after the one before it was found non-zero.
template <typename Unit>
size_t StringLength(const Unit* s) {
  if (s == nullptr) return 0;
  for (size_t n = 0;; n += 4) {
    if (s[n] == 0) return n;
    if (s[n + 1] == 0) return n + 1;
    if (s[n + 2] == 0) return n + 2;
    if (s[n + 3] == 0) return n + 3;
  }
}

// Bytes before the first zero byte; 0 for a null pointer.
inline size_t StringLength(const char* s) { return s == nullptr ? 0 : std::strlen(s); }

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_LIBRARY_STRING_LENGTH_H_
