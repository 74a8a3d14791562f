#include <algorithm>
#include <cctype>
#include <string_view>

#include "text_walk.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

bool IsHexDigit(char16_t c) { return c < 0x80 && std::isxdigit(c) != 0; }

// Escapes the text writer writes, and those of JSON.
bool IsPlainEscape(char16_t c) {
  return std::u16string_view(u"nr\"'\\bft/").find(c) != std::u16string_view::npos;
}

// Looks at how one token is written.
class FormCheck {
 public:
  FormCheck(const TextItem& item, std::vector<TextFinding>* findings)
      : item_(item), text_(item.units), findings_(*findings) {}

  void String() {
    if (text_[0] == u'\'') Note(0, false, "a string in apostrophes: " + Shown(0, text_.size()));
    for (size_t at = 1; at + 1 < text_.size(); ++at) {
      if (text_[at] == u'\\') Escape(at++);
    }
    if (item_.type == QkXDRType2::Binary) Blob();
  }

  void Number() {
    const size_t sign = text_[0] == u'+' || text_[0] == u'-';
    const size_t whole =
        std::find_if_not(text_.begin() + sign, text_.end(), impl::IsDigit) - (text_.begin() + sign);
    const std::string number = Shown(0, text_.size());
    if (text_[0] == u'+') Note(0, false, "a \"+\" sign: " + number);
    if (whole == 0 && text_.size() == sign) Note(0, false, "a sign without digits: " + number);
    if (whole == 0 && text_.size() > sign) Note(0, false, "no digit before the point: " + number);
    if (whole > 1 && text_[sign] == u'0') Note(0, false, "a leading zero: " + number);
    const size_t e = text_.find_first_of(u"eE");
    if (e != std::u16string_view::npos) {
      const size_t exponent_sign =
          e + 1 < text_.size() && (text_[e + 1] == u'+' || text_[e + 1] == u'-');
      if (e + 1 + exponent_sign == text_.size()) {
        Note(0, false, "an exponent without digits: " + number);
      }
    }
    if (item_.type == QkXDRType2::Int) Integer(sign, number);
  }

 private:
  void Escape(size_t at) {
    const char16_t e = text_[at + 1];
    if (e != u'u') {
      if (!IsPlainEscape(e)) Note(at, false, "an escape no writer uses: " + Shown(at, 2));
      return;
    }
    const std::u16string_view digits = text_.substr(at + 2, 4);
    if (digits.size() < 4 || !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
      Note(at, false, "a \\u escape without four hex digits: " + Shown(at, 6));
    }
  }

  // A blob that is not the bytes its text says.
  void Blob() {
    const std::u16string& content = item_.value->text;
    if (content.size() % 2 == 0 && std::all_of(content.begin() + 2, content.end(), IsHexDigit)) {
      return;
    }
    Note(0, true,
         Shown(0, text_.size()) +
             " reads as a blob of other bytes: \"0x\" is not followed by pairs of hex digits");
  }

  // An integer beyond 64 bits, with the value the reader wraps it to.
  void Integer(size_t sign, const std::string& number) {
    constexpr std::u16string_view kLimit = u"9223372036854775808";  // 2^63
    const std::u16string_view magnitude =
        text_.substr(std::min(text_.find_first_not_of(u'0', sign), text_.size()));
    const bool negative = text_[0] == u'-';
    if (magnitude.size() < kLimit.size()) return;
    if (magnitude.size() == kLimit.size() &&
        (magnitude < kLimit || (negative && magnitude == kLimit))) {
      return;
    }
    int64_t read = 0;
    impl::ToInt64(*item_.value, &read);
    Note(0, true, number + " is beyond 64 bits: it reads as " + std::to_string(read));
  }

  // The `length` units at `at`, cut with "..." after 40 or at a line end.
  std::string Shown(size_t at, size_t length) const {
    size_t end = std::min(text_.size(), at + std::min<size_t>(length, 40));
    end = std::min(end, text_.find_first_of(u"\r\n", at));
    std::string shown;
    Utf16ToUtf8(text_.data() + at, text_.data() + end, &shown);
    return shown + (end < at + length ? "..." : "");
  }

  void Note(size_t at, bool loss, std::string what) {
    findings_.push_back({item_.unit + at, loss, std::move(what)});
  }

  const TextItem& item_;
  std::u16string_view text_;
  std::vector<TextFinding>& findings_;
};

}  // namespace

std::vector<TextFinding> FindTextForms(const TextItem& item, bool* after_value) {
  std::vector<TextFinding> findings;
  const bool end = item.type == QkXDRType2::ArrayEnd;
  if (item.comma && !*after_value) {
    findings.push_back({*item.comma, false, "a comma where a value should start"});
  }
  if (item.comma && end) findings.push_back({*item.comma, false, "a comma before \"]\""});
  // The writer writes a blob after a value without a comma.
  if (!end && *after_value && !item.comma && item.type != QkXDRType2::Binary) {
    findings.push_back({item.unit, false, "two values without a comma between them"});
  }
  *after_value = item.type != QkXDRType2::ArrayBegin;
  FormCheck check(item, &findings);
  if (item.type == QkXDRType2::String || item.type == QkXDRType2::Binary) check.String();
  if (item.type == QkXDRType2::Int || item.type == QkXDRType2::Double) check.Number();
  return findings;
}

}  // namespace qkxdr::tool
