// The text encodings at the JSON edge: JSON strings written from UTF-16, and
// JSON input made ready for the parser, whose strings come back as UTF-8 in
// which an unpaired surrogate escape stands as the surrogate's own three
// bytes (ED A0 80 for \uD800), so that it converts back to its unit.

#ifndef QKXDR_SRC_JSON_JSON_TEXT_H_
#define QKXDR_SRC_JSON_JSON_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qkxdr::json::detail {

// Appends `s` as a JSON string in quotes: UTF-8, with the escapes \" \\ \b \f
// \n \r \t, \u00XX for other control characters, and \uXXXX for a surrogate
// that is not half of a pair.
void AppendJsonString(std::u16string_view s, std::string* out);

// The byte-order mark, which a JSON text may start with: skipped.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// Whether `c` can stand in a JSON number.
inline bool IsNumberPart(char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

// JSON input made ready for the parser.
// Bytes of the JSON number (RFC 8259) at the start of `text`: 0 when none
// starts there; a number cut short ("1.", "1e+") counts to where it stops.
std::size_t JsonNumberLength(std::string_view text);

// Whether `number` is a JSON number with an exponent whose other digits are
// all zeros: -0.00e+400, which the parser refuses as too big.
bool IsZeroWithExponent(std::string_view number);

class PreparedText {
 public:
  // Checks that `json`, the input from offset `base` on, is UTF-8 (RFC 3629)
  // and rewrites the forms the parser would not take as they are: each
  // \uXXXX escape of an unpaired surrogate inside a string becomes the
  // surrogate's three bytes, and with `rewrite_zeros` a number that
  // IsZeroWithExponent() becomes "0.0" or "-0.0". The text must outlive the
  // object.
  PreparedText(std::string_view json, bool rewrite_zeros, std::size_t base = 0);

  // The text for the parser: `json` itself, or its rewritten copy.
  std::string_view text() const { return rewritten_.empty() ? original_ : rewritten_; }
  // The offset of the first byte that is not UTF-8, or npos when all are.
  std::size_t bad_byte() const { return bad_byte_; }
  // The offset in the input of the byte at `offset` in text(), `base` added.
  std::size_t InputOffset(std::size_t offset) const;

 private:
  // Where a rewrite starts in text(), and how many bytes shorter the text is
  // from there on than the input.
  struct Shift {
    std::size_t at;
    std::size_t removed;
  };

  void Scan();
  // Handles the escape at original_[i] inside a string; returns its length.
  std::size_t Escape(std::size_t i);
  // Whether a number whose first digit is 0 starts at original_[i]: at a
  // "0" or "-0" not inside a number.
  bool StartsZero(std::size_t i) const;
  // Handles the number at original_[i]; returns its length.
  std::size_t Number(std::size_t i);
  // Puts `replacement` in place of the `length` bytes at original_[i].
  void Rewrite(std::size_t i, std::size_t length, std::string_view replacement);

  std::string_view original_;
  bool rewrite_zeros_;
  std::size_t base_;
  std::string rewritten_;
  std::size_t copied_ = 0;     // original_ bytes up to here are in rewritten_
  std::vector<Shift> shifts_;  // in the order of the text
  std::size_t bad_byte_ = std::string_view::npos;
};

// Puts in *units the UTF-16 units of parser output (UTF-8 with surrogates in
// three bytes).
void ToUtf16(std::string_view utf8, std::u16string* units);

}  // namespace qkxdr::json::detail

#endif  // QKXDR_SRC_JSON_JSON_TEXT_H_
