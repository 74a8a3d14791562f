// Conversions at the tool's edge between the bytes of files and terminals
// (UTF-8, or UTF-16LE) and the library's UTF-16 text. Bad input never stops a
// conversion: every invalid sequence becomes U+FFFD, and the replacements are
// counted so that the caller can say how many there were.

#ifndef QKXDR_TOOLS_QKXDR_UTF8_H_
#define QKXDR_TOOLS_QKXDR_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qkxdr::tool {

constexpr char16_t kReplacementChar = 0xFFFD;

// Appends the UTF-16 form of the UTF-8 bytes [p, e) to *out and returns the
// number of U+FFFD put in for invalid sequences, the first of them at
// (*out)[*first_invalid] when first_invalid is given. Each maximal invalid
// piece gives one U+FFFD: a byte that starts nothing, an overlong form, an
// encoded surrogate, a value beyond U+10FFFF, or a sequence cut short.
size_t Utf8ToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out,
                   size_t* first_invalid = nullptr);

// How many bytes at the start of [p, e) Utf8ToUtf16 turns into the first
// `units` units (all of them when the text is shorter).
size_t Utf8BytesForUnits(const uint8_t* p, const uint8_t* e, size_t units);

// Appends the UTF-16LE bytes [p, e) to *out unit for unit; an odd last byte
// becomes U+FFFD. Returns the number of replacements (0 or 1), noted as
// Utf8ToUtf16 does.
size_t Utf16LeToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out,
                      size_t* first_invalid = nullptr);

// Appends the UTF-8 form of [p, e) to *out and returns the number of
// unpaired surrogates replaced by U+FFFD.
size_t Utf16ToUtf8(const char16_t* p, const char16_t* e, std::string* out);

// Appends the units [p, e) to *out as UTF-16LE bytes.
void Utf16ToUtf16Le(const char16_t* p, const char16_t* e, std::string* out);

// Reads one code point at p (p < e): a surrogate pair, or one unit, an
// unpaired surrogate included. Returns the position after it.
const char16_t* NextCodePoint(const char16_t* p, const char16_t* e, uint32_t* cp);

// Appends the UTF-8 bytes of cp, which is at most U+10FFFF.
void AppendUtf8(uint32_t cp, std::string* out);

inline bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_UTF8_H_
