#include "json/json_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace qkxdr::json::detail {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

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

// Whether `number` is a JSON number with an exponent whose other digits are
// all zeros: -0.00e+400.
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

}  // namespace

void AppendJsonString(std::u16string_view s, std::string* out) {
  out->push_back('"');
  for (std::size_t i = 0; i < s.size(); ++i) {
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

PreparedText::PreparedText(std::string_view json) : original_(json) { Scan(); }

void PreparedText::Scan() {
  bool in_string = false;
  for (std::size_t i = 0; i < original_.size();) {
    const char c = original_[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t length = SequenceLength(original_, i);
      if (length == 0) {
        bad_byte_ = i;
        return;
      }
      i += length;
    } else if (c == '\\' && in_string) {
      i += Escape(i);
    } else if (!in_string && (c == '-' || (c >= '0' && c <= '9'))) {
      i += Number(i);
    } else {
      in_string ^= c == '"';
      ++i;
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
  const auto take = [&](std::string_view set) {
    const bool taken = at < text.size() && set.find(text[at]) != std::string_view::npos;
    at += taken ? 1 : 0;
    return taken;
  };
  const auto digits = [&] {
    const std::size_t from = at;
    while (take("0123456789")) {
    }
    return at - from;
  };
  take("-");
  if (!take("0") && digits() == 0) return 0;
  if (take(".")) digits();
  if (take("eE")) {
    take("+-");
    digits();
  }
  return at;
}

std::size_t PreparedText::Number(std::size_t i) {
  const std::string_view number = original_.substr(i, JsonNumberLength(original_.substr(i)));
  if (number.empty()) return 1;  // a '-' that starts no number: the parser refuses it
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
  return after == shifts_.begin() ? offset : offset + std::prev(after)->removed;
}

std::u16string ToUtf16(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
      cp = cp << 6 | (utf8[i + k] & 0x3F);
    if (cp >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    units.push_back(static_cast<char16_t>(cp));
    i += length;
  }
  return units;
}

}  // namespace qkxdr::json::detail
