#include "utf8.h"

#include "qkxdr/detail/base/utf8.h"

namespace qkxdr::tool {
namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes the UTF-8 sequence at p (p < e) into *cp, or kInvalid for its
// maximal invalid piece; returns the position after what it consumed. The
// lead bytes and the ranges after them are the library's.
const uint8_t* DecodeUtf8(const uint8_t* p, const uint8_t* e, uint32_t* cp) {
  const uint8_t lead = *p++;
  const impl::utf8::LeadRule rule = impl::utf8::RuleOfLead(lead);
  *cp = lead < 0x80 ? lead : kInvalid;
  if (rule.length == 0) return p;
  uint32_t value = lead & (0x7F >> rule.length);
  for (int more = rule.length - 1, low = rule.low, high = rule.high; more > 0; --more) {
    if (p == e || *p < low || *p > high) return p;
    value = (value << 6) | (*p++ & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  *cp = value;
  return p;
}

// Appends cp (U+10FFFF at most) as one unit or a surrogate pair.
void AppendUtf16(uint32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
    return;
  }
  cp -= 0x10000;
  out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
  out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

size_t Utf16Length(uint32_t cp) { return cp < 0x10000 ? 1 : 2; }

}  // namespace

size_t Utf8ToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out) {
  size_t replaced = 0;
  while (p < e) {
    uint32_t cp;
    p = DecodeUtf8(p, e, &cp);
    if (cp == kInvalid) {
      cp = kReplacementChar;
      ++replaced;
    }
    AppendUtf16(cp, out);
  }
  return replaced;
}

size_t Utf8BytesForUnits(const uint8_t* p, const uint8_t* e, size_t units) {
  const uint8_t* const begin = p;
  while (p < e) {
    uint32_t cp;
    const uint8_t* next = DecodeUtf8(p, e, &cp);
    const size_t n = cp == kInvalid ? 1 : Utf16Length(cp);
    if (n > units) break;
    units -= n;
    p = next;
  }
  return static_cast<size_t>(p - begin);
}

size_t Utf16LeToUtf16(const uint8_t* p, const uint8_t* e, std::u16string* out) {
  out->reserve(out->size() + static_cast<size_t>(e - p) / 2);
  for (; e - p >= 2; p += 2) out->push_back(static_cast<char16_t>(p[0] | p[1] << 8));
  if (p == e) return 0;
  out->push_back(kReplacementChar);
  return 1;
}

const char16_t* NextCodePoint(const char16_t* p, const char16_t* e, uint32_t* cp) {
  const uint32_t unit = *p++;
  *cp = unit;
  if (unit >= 0xD800 && unit <= 0xDBFF && p < e && *p >= 0xDC00 && *p <= 0xDFFF) {
    *cp = 0x10000 + ((unit - 0xD800) << 10) + (*p++ - 0xDC00);
  }
  return p;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
    return;
  }
  char bytes[4];
  int n;
  if (cp < 0x800) {
    n = 2;
    bytes[0] = static_cast<char>(0xC0 | cp >> 6);
  } else if (cp < 0x10000) {
    n = 3;
    bytes[0] = static_cast<char>(0xE0 | cp >> 12);
  } else {
    n = 4;
    bytes[0] = static_cast<char>(0xF0 | cp >> 18);
  }
  for (int i = 1; i < n; ++i)
    bytes[i] = static_cast<char>(0x80 | ((cp >> (6 * (n - 1 - i))) & 0x3F));
  out->append(bytes, static_cast<size_t>(n));
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
