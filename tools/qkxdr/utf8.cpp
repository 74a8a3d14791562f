#include "utf8.h"

#include "qkxdr/detail/base/utf8.h"

namespace qkxdr::tool {
namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes the UTF-8 sequence at p (p < e) into *cp, or kInvalid for its
// maximal invalid piece: the lead and the bytes after it that a well-formed
// sequence could go on with. Returns the position after what it consumed.
const uint8_t* DecodeUtf8(const uint8_t* p, const uint8_t* e, uint32_t* cp) {
  *cp = *p;
  if (*p < 0x80) return p + 1;
  const impl::utf8::LeadRule rule = impl::utf8::RuleOfLead(*p);
  int n = 1;
  for (int low = rule.low, high = rule.high; n < rule.length && n < e - p; ++n) {
    if (p[n] < low || p[n] > high) break;
    low = 0x80;
    high = 0xBF;
  }
  *cp = n == rule.length ? impl::utf8::CodePointOf(p, n) : kInvalid;
  return p + n;
}

// Appends U+FFFD for an invalid piece, noting where the first one went.
void Replace(std::u16string* out, size_t* replaced, size_t* first_invalid) {
  if (*replaced == 0 && first_invalid != nullptr) *first_invalid = out->size();
  ++*replaced;
  out->push_back(kReplacementChar);
}

}  // namespace

size_t Utf8ToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out, size_t* first_invalid) {
  size_t replaced = 0;
  while (p < e) {
    const uint8_t* const ascii = p;  // copied as a run: most text is ASCII
    while (p < e && *p < 0x80) ++p;
    out->append(ascii, p);
    if (p == e) break;
    uint32_t cp;
    p = DecodeUtf8(p, e, &cp);
    if (cp == kInvalid) {
      Replace(out, &replaced, first_invalid);
      continue;
    }
    char16_t units[2];
    out->append(units, impl::utf8::WriteCodePoint(cp, units));
  }
  return replaced;
}

size_t Utf8BytesForUnits(const uint8_t* p, const uint8_t* e, size_t units) {
  const uint8_t* const begin = p;
  while (p < e) {
    uint32_t cp;
    const uint8_t* next = DecodeUtf8(p, e, &cp);
    const size_t n = cp != kInvalid && cp >= 0x10000 ? 2 : 1;
    if (n > units) break;
    units -= n;
    p = next;
  }
  return static_cast<size_t>(p - begin);
}

size_t Utf16LeToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out,
                      size_t* first_invalid) {
  out->reserve(out->size() + static_cast<size_t>(e - p) / 2);
  for (; e - p >= 2; p += 2) out->push_back(static_cast<char16_t>(p[0] | p[1] << 8));
  size_t replaced = 0;
  if (p != e) Replace(out, &replaced, first_invalid);
  return replaced;
}

const char16_t* NextCodePoint(const char16_t* p, const char16_t* e, uint32_t* cp) {
  *cp = *p++;
  if (impl::utf8::IsHighSurrogate(p[-1]) && p < e && impl::utf8::IsLowSurrogate(*p)) {
    *cp = 0x10000 + ((*cp & 0x3FF) << 10 | (*p++ & 0x3FF));
  }
  return p;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else {
    impl::utf8::AppendCodePoint(cp, out);
  }
}

size_t Utf16ToUtf8(const char16_t* p, const char16_t* e, std::string* out) {
  size_t replaced = 0;
  out->reserve(out->size() + static_cast<size_t>(e - p));
  while (p < e) {
    uint32_t cp;
    p = NextCodePoint(p, e, &cp);
    if (IsSurrogate(cp)) {
      cp = kReplacementChar;
      ++replaced;
    }
    AppendUtf8(cp, out);
  }
  return replaced;
}

void Utf16ToUtf16Le(const char16_t* p, const char16_t* e, std::string* out) {
  out->reserve(out->size() + 2 * static_cast<size_t>(e - p));
  for (; p < e; ++p) {
    out->push_back(static_cast<char>(*p & 0xFF));
    out->push_back(static_cast<char>(*p >> 8));
  }
}

}  // namespace qkxdr::tool
