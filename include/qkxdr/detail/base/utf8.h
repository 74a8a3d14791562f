// UTF-8 and UTF-16, each way. A stand-in with the final interface: pairs
// join into one code point, an unpaired surrogate travels as its own
// three-byte form, and a byte that starts no sequence becomes U+FFFD.

#ifndef QKXDR_DETAIL_BASE_UTF8_H_
#define QKXDR_DETAIL_BASE_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qkxdr::impl {

// Replaces *out with the UTF-16 units of `utf8`.
inline void Utf8ToUtf16(std::string_view utf8, std::u16string* out) {
  out->clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC0 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                                             : 4;
    std::uint32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
    std::size_t k = 1;
    for (; length > 1 && k < length && i + k < utf8.size() &&
           (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
         ++k) {
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    }
    if (length == 0 || k != length || cp > 0x10FFFF) {
      out->push_back(u'\uFFFD');
      i += length == 0 ? 1 : k;
      continue;
    }
    if (cp >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    out->push_back(static_cast<char16_t>(cp));
    i += length;
  }
}

// Replaces *out with the UTF-8 bytes of `utf16`.
inline void Utf16ToUtf8(std::u16string_view utf16, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    std::uint32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00u);
    }
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
      continue;
    }
    const int tail = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out->push_back(static_cast<char>(kLead[tail] | (cp >> (6 * tail))));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
      out->push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
    }
  }
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_UTF8_H_
