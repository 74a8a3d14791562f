#include "text_forms.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "utf8.h"

namespace qkxdr::tool {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) {
  return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
// The reader's whitespace: space, TAB, LF, CR, and also BS and FF.
bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\b' || c == u'\f';
}

// Escapes the text writer writes, and those of JSON.
bool IsPlainEscape(char16_t c) {
  return c == u'n' || c == u'r' || c == u'"' || c == u'\'' || c == u'\\' || c == u'b' ||
         c == u'f' || c == u't' || c == u'/';
}

// The unit of the escape of `e` (not "u"): a control for five letters, else
// `e` itself.
char16_t EscapedUnit(char16_t e) {
  static constexpr char16_t kLetters[] = u"bfnrt";
  static constexpr char16_t kUnits[] = u"\b\f\n\r\t";
  for (size_t i = 0; i < 5; ++i) {
    if (e == kLetters[i]) return kUnits[i];
  }
  return e;
}

// Walks the tokens of a well-formed text, as the reader splits them.
class FormScanner {
 public:
  FormScanner(std::u16string_view text, bool afterValue) : text_(text), after_value_(afterValue) {}

  std::vector<TextFinding> Run(bool last) {
    while (true) {
      while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
      if (at_ == text_.size()) break;
      Token();
    }
    if (last && comma_ != kNone) Note(comma_, false, "a comma at the end of the text");
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const TextFinding& a, const TextFinding& b) { return a.unit < b.unit; });
    return std::move(findings_);
  }

  bool afterValue() const { return after_value_; }

 private:
  void Token() {
    const char16_t c = text_[at_];
    if (c == u',') {
      if (!after_value_) Note(at_, false, "a comma where a value should start");
      comma_ = at_++;
      after_value_ = false;
    } else if (c == u']') {
      if (comma_ != kNone) Note(comma_, false, "a comma before \"]\"");
      ++at_;
      Ended();
    } else {
      Value(c);
    }
  }

  void Value(char16_t c) {
    const size_t start = at_;
    const bool blob = (c == u'"' || c == u'\'') && String(c);
    if (after_value_ && !blob) Note(start, false, "two values without a comma between them");
    if (c == u'[') {
      ++at_;
      after_value_ = false;
      comma_ = kNone;
      return;
    }
    if (c != u'"' && c != u'\'') Number();
    Ended();
  }

  void Ended() {
    after_value_ = true;
    comma_ = kNone;
  }

  // Scans the string at at_; whether it reads as a blob.
  bool String(char16_t quote) {
    const size_t start = at_++;
    std::u16string content;
    while (at_ < text_.size() && text_[at_] != quote) {
      if (text_[at_] == u'\\' && at_ + 1 < text_.size()) {
        content += Escape();
      } else {
        content += text_[at_++];
      }
    }
    ++at_;  // the closing quote: the check found every string closed
    if (quote == u'\'') Note(start, false, "a string in apostrophes: " + Shown(start, at_ - start));
    return Blob(start, content);
  }

  // Scans the escape at at_ and returns its unit.
  char16_t Escape() {
    const size_t start = at_;
    const char16_t e = text_[at_ + 1];
    at_ += 2;
    if (e != u'u') {
      if (!IsPlainEscape(e)) Note(start, false, "an escape no writer uses: " + Shown(start, 2));
      return EscapedUnit(e);
    }
    char16_t unit = 0;
    bool hex = at_ + 4 <= text_.size();
    for (size_t i = 0; hex && i < 4; ++i) hex = IsHexDigit(text_[at_ + i]);
    if (!hex) Note(start, false, "a \\u escape without four hex digits: " + Shown(start, 6));
    for (size_t i = 0; i < 4 && at_ < text_.size(); ++i, ++at_) {
      const char16_t d = text_[at_];
      const int digit = IsDigit(d) ? d - u'0' : IsHexDigit(d) ? (d | 0x20) - u'a' + 10 : 0;
      unit = static_cast<char16_t>(unit << 4 | digit);
    }
    return unit;
  }

  // Whether `content` reads as a blob; notes one that is not the bytes it says.
  bool Blob(size_t start, const std::u16string& content) {
    if (content.size() < 2 || content[0] != u'0' || (content[1] | 0x20) != u'x') return false;
    bool hex = content.size() % 2 == 0;
    for (size_t i = 2; hex && i < content.size(); ++i) hex = IsHexDigit(content[i]);
    if (!hex) {
      Note(start, true,
           Shown(start, at_ - start) +
               " reads as a blob of other bytes: \"0x\" is not followed by pairs of hex digits");
    }
    return true;
  }

  // Scans the number at at_, as the reader splits numbers.
  void Number() {
    const size_t start = at_;
    const bool plus = text_[at_] == u'+';
    at_ += text_[at_] == u'+' || text_[at_] == u'-';
    const size_t digits = at_;
    while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
    const size_t whole = at_ - digits;
    bool real = false;
    if (at_ < text_.size() && text_[at_] == u'.') {
      real = true;
      for (++at_; at_ < text_.size() && IsDigit(text_[at_]);) ++at_;
    }
    bool exponent_digits = true;
    if (at_ < text_.size() && (text_[at_] == u'e' || text_[at_] == u'E')) {
      real = true;
      at_ += at_ + 1 < text_.size() && (text_[at_ + 1] == u'+' || text_[at_ + 1] == u'-');
      const size_t first = ++at_;
      while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
      exponent_digits = at_ > first;
    }
    if (at_ == start) ++at_;  // not a number: the check refused the text already
    const std::string number = Shown(start, at_ - start);
    if (plus) Note(start, false, "a \"+\" sign: " + number);
    if (whole == 0 && at_ == digits) Note(start, false, "a sign without digits: " + number);
    if (whole == 0 && at_ > digits) Note(start, false, "no digit before the point: " + number);
    if (whole > 1 && text_[digits] == u'0') Note(start, false, "a leading zero: " + number);
    if (!exponent_digits) Note(start, false, "an exponent without digits: " + number);
    if (!real && whole > 0) Integer(start, digits);
  }

  // Notes an integer beyond 64 bits, with the value the reader wraps it to.
  void Integer(size_t start, size_t digits) {
    std::string ascii;
    for (size_t i = start; i < at_; ++i) ascii += static_cast<char>(text_[i]);
    const char* begin = ascii.data() + (text_[start] == u'+');
    int64_t exact;
    if (std::from_chars(begin, ascii.data() + ascii.size(), exact).ec == std::errc()) return;
    uint64_t wrapped = 0;
    for (size_t i = digits; i < at_; ++i) wrapped = wrapped * 10 + (text_[i] - u'0');
    if (text_[start] == u'-') wrapped = 0 - wrapped;
    Note(
        start, true,
        ascii + " is beyond 64 bits: it reads as " + std::to_string(static_cast<int64_t>(wrapped)));
  }

  // The `length` units at `start`, cut with "..." after 40 or at a line end.
  std::string Shown(size_t start, size_t length) const {
    size_t end = std::min(text_.size(), start + std::min<size_t>(length, 40));
    end = std::min(end, text_.find_first_of(u"\r\n", start));
    std::string shown;
    Utf16ToUtf8(text_.data() + start, text_.data() + end, &shown);
    return shown + (end < start + length ? "..." : "");
  }

  void Note(size_t unit, bool loss, std::string what) {
    findings_.push_back({unit, loss, std::move(what)});
  }

  static constexpr size_t kNone = static_cast<size_t>(-1);

  std::u16string_view text_;
  size_t at_ = 0;
  bool after_value_ = false;  // the last token was a value or "]"
  size_t comma_ = kNone;      // a comma since the last value
  std::vector<TextFinding> findings_;
};

}  // namespace

std::vector<TextFinding> FindTextForms(std::u16string_view text, FormContext* context) {
  FormContext whole;
  FormContext* const at = context == nullptr ? &whole : context;
  FormScanner scanner(text, at->afterValue);
  std::vector<TextFinding> findings = scanner.Run(at->last);
  at->afterValue = scanner.afterValue();
  return findings;
}

}  // namespace qkxdr::tool
