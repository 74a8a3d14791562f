#include "json/json_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace qkxdr::json::detail {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// For bytes outside strings ([0]), inside them ([1]) and outside them when
// zeros are rewritten ([2]): whether Scan() passes the byte over. It looks at
// the quotes, at bytes beyond ASCII, inside strings at escapes, and in [2]
// at "0" and "-" (numbers that may be rewritten).
struct PlainBytes {
  bool plain[3][256];
};

constexpr PlainBytes MakePlainBytes() {
  PlainBytes table{};
  for (int byte = 0; byte < 0x80; ++byte) {
    table.plain[0][byte] = byte != '"';
    table.plain[1][byte] = byte != '"' && byte != '\\';
    table.plain[2][byte] = byte != '"' && byte != '0' && byte != '-';
  }
  return table;
}

constexpr PlainBytes kPlainBytes = MakePlainBytes();

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHigh = 0x8080808080808080;

// The eight bytes at text[at] as one word.
std::uint64_t WordAt(std::string_view text, std::size_t at) {
  std::uint64_t word;
  std::memcpy(&word, text.data() + at, sizeof word);
  return word;
}

// The high bit of each byte of `word` that is `c`. Its lowest set bit is
// exact; a byte above a match may be marked too.
std::uint64_t Matches(std::uint64_t word, char c) {
  const std::uint64_t diff = word ^ (kOnes * static_cast<unsigned char>(c));
  return (diff - kOnes) & ~diff & kHigh;
}

// Passes over bytes eight at a time, up to a quote, a byte beyond ASCII or,
// inside a string, a backslash: to that byte where the machine is
// little-endian, else to the word that holds it.
std::size_t SkipPlainWords(std::string_view text, std::size_t i, bool in_string) {
  while (text.size() - i >= sizeof(std::uint64_t)) {
    const std::uint64_t word = WordAt(text, i);
    const std::uint64_t marks =
        (word & kHigh) | Matches(word, '"') | (in_string ? Matches(word, '\\') : 0);
    if (marks != 0) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      i += static_cast<std::size_t>(__builtin_ctzll(marks)) / 8;
#endif
      return i;
    }
    i += sizeof word;
  }
  return i;
}

bool IsSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool IsHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends code point `cp` (surrogates included) in the UTF-8 scheme.
void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
    return;
  }
  const int tail = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
  static constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out->push_back(static_cast<char>(kLead[tail] | (cp >> (6 * tail))));
  for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6) {
    out->push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
  }
}

// Appends \uXXXX for `unit`.
void AppendEscape(unsigned unit, std::string* out) {
  *out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out->push_back(kHexDigits[(unit >> shift) & 0xF]);
}

// Appends the escape of a character that JSON strings cannot hold as it is.
void AppendControl(unsigned unit, std::string* out) {
  static constexpr char kShort[] = "btn_fr";  // \b \t \n, none for 11, \f \r
  if (unit >= 8 && unit <= 13 && kShort[unit - 8] != '_') {
    out->push_back('\\');
    out->push_back(kShort[unit - 8]);
  } else {
    AppendEscape(unit, out);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends the units of s from s[i] on that a JSON string holds as they are,
// ASCII other than quotes, backslashes and control characters; returns the
// index of the first other unit.
std::size_t AppendPlainRun(std::u16string_view s, std::size_t i, std::string* out) {
  std::size_t end = i;
  while (end < s.size() && s[end] >= 0x20 && s[end] < 0x80 && s[end] != '"' && s[end] != '\\') {
    ++end;
  }
  const std::size_t at = out->size();
  out->resize(at + (end - i));
  char* to = out->data() + at;
  for (; i < end; ++i) *to++ = static_cast<char>(s[i]);
  return end;
}

// Whether `text` holds \uXXXX at `at`; its unit in *unit.
bool ReadHexEscape(std::string_view text, std::size_t at, unsigned* unit) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return false;
  *unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return false;
    *unit = *unit << 4 | static_cast<unsigned>(digit);
  }
  return true;
}

// The length of the UTF-8 sequence (RFC 3629) at text[at], 0 when there is none.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 4;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;    // no overlong forms
    high = lead == 0xED ? 0x9F : high;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

bool IsZeroWithExponent(std::string_view number) {
  const auto skip = [&](std::size_t at, std::string_view set) {
    return std::min(number.find_first_not_of(set, at), number.size());
  };
  std::size_t at = number[0] == '-' ? 1 : 0;
  if (number.substr(at, 1) != "0") return false;
  at += 1;
  if (number.substr(at, 1) == ".") {
    const std::size_t zeros = skip(at + 1, "0");
    if (zeros == at + 1) return false;
    at = zeros;
  }
  if (number.substr(at, 1) != "e" && number.substr(at, 1) != "E") return false;
  at = skip(at + 1, "+-") == at + 2 ? at + 2 : at + 1;
  return at < number.size() && skip(at, "0123456789") == number.size();
}

void AppendJsonString(std::u16string_view s, std::string* out) {
  out->push_back('"');
  for (std::size_t i = 0; i < s.size(); ++i) {
    i = AppendPlainRun(s, i, out);
    if (i == s.size()) break;
    const unsigned unit = s[i];
    if (unit == '"' || unit == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(unit));
    } else if (unit < 0x20) {
      AppendControl(unit, out);
    } else if (IsHighSurrogate(unit) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (s[++i] - 0xDC00u), out);
    } else if (IsSurrogate(unit)) {
      AppendEscape(unit, out);
    } else {
      AppendUtf8(unit, out);
    }
  }
  out->push_back('"');
}

PreparedText::PreparedText(std::string_view json, bool rewrite_zeros, std::size_t base)
    : original_(json), rewrite_zeros_(rewrite_zeros), base_(base) {
  Scan();
}

void PreparedText::Scan() {
  bool in_string = false;
  const std::size_t size = original_.size();
  for (std::size_t i = 0; i < size;) {
    if (in_string || !rewrite_zeros_) i = SkipPlainWords(original_, i, in_string);
    const bool* plain = kPlainBytes.plain[in_string ? 1 : rewrite_zeros_ ? 2 : 0];
    while (i < size && plain[static_cast<unsigned char>(original_[i])]) ++i;
    if (i == size) break;
    const char c = original_[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t length = SequenceLength(original_, i);
      if (length == 0) {
        bad_byte_ = i;
        return;
      }
      i += length;
    } else if (c == '"') {
      in_string = !in_string;
      ++i;
    } else if (in_string) {
      i += Escape(i);
    } else {
      i += StartsZero(i) ? Number(i) : 1;
    }
  }
  if (!shifts_.empty()) rewritten_.append(original_.substr(copied_));
}

std::size_t PreparedText::Escape(std::size_t i) {
  unsigned unit;
  if (!ReadHexEscape(original_, i, &unit) || !IsSurrogate(unit)) {
    // The escaped character, unless it starts a UTF-8 sequence to check.
    const bool ascii =
        i + 1 < original_.size() && static_cast<unsigned char>(original_[i + 1]) < 0x80;
    return ascii ? 2 : 1;
  }
  unsigned next;
  if (IsHighSurrogate(unit) && ReadHexEscape(original_, i + 6, &next) && IsLowSurrogate(next)) {
    return 12;  // a pair: the parser joins it
  }
  std::string bytes;
  AppendUtf8(unit, &bytes);
  Rewrite(i, 6, bytes);
  return 6;
}

std::size_t JsonNumberLength(std::string_view text) {
  std::size_t at = 0;
  const auto take = [&](char a, char b) {
    const bool taken = at < text.size() && (text[at] == a || text[at] == b);
    at += taken ? 1 : 0;
    return taken;
  };
  const auto digits = [&] {
    const std::size_t from = at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    return at - from;
  };
  take('-', '-');
  if (!take('0', '0') && digits() == 0) return 0;
  if (take('.', '.')) digits();
  if (take('e', 'E')) {
    take('+', '-');
    digits();
  }
  return at;
}

// Only a number whose first digit is 0 can be rewritten.
bool PreparedText::StartsZero(std::size_t i) const {
  if (i > 0 && IsNumberPart(original_[i - 1])) return false;  // inside a number
  const std::size_t digit = original_[i] == '-' ? i + 1 : i;
  return digit < original_.size() && original_[digit] == '0';
}

std::size_t PreparedText::Number(std::size_t i) {
  const std::string_view number = original_.substr(i, JsonNumberLength(original_.substr(i)));
  if (IsZeroWithExponent(number)) Rewrite(i, number.size(), number[0] == '-' ? "-0.0" : "0.0");
  return number.size();
}

void PreparedText::Rewrite(std::size_t i, std::size_t length, std::string_view replacement) {
  rewritten_.append(original_.substr(copied_, i - copied_));
  const std::size_t removed = (shifts_.empty() ? 0 : shifts_.back().removed) + length;
  shifts_.push_back({rewritten_.size(), removed - replacement.size()});
  rewritten_.append(replacement);
  copied_ = i + length;
}

std::size_t PreparedText::InputOffset(std::size_t offset) const {
  const auto after =
      std::lower_bound(shifts_.begin(), shifts_.end(), offset,
                       [](const Shift& shift, std::size_t at) { return shift.at < at; });
  return base_ + (after == shifts_.begin() ? offset : offset + std::prev(after)->removed);
}

void ToUtf16(std::string_view utf8, std::u16string* units) {
  units->resize(utf8.size());  // never more units than bytes
  char16_t* out = units->data();
  for (std::size_t i = 0; i < utf8.size();) {
    if (utf8.size() - i >= sizeof(std::uint64_t) && (WordAt(utf8, i) & kHigh) == 0) {
      for (std::size_t end = i + sizeof(std::uint64_t); i < end; ++i) {
        *out++ = static_cast<unsigned char>(utf8[i]);
      }
      continue;
    }
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      *out++ = lead;
      ++i;
      continue;
    }
    const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
      cp = cp << 6 | (utf8[i + k] & 0x3F);
    if (cp >= 0x10000) {
      *out++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    *out++ = static_cast<char16_t>(cp);
    i += length;
  }
  units->resize(static_cast<std::size_t>(out - units->data()));
}

}  // namespace qkxdr::json::detail
