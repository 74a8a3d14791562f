// The state of one text writer: the UTF-16 text so far and whether the next
// value takes a comma in front.

#ifndef QKXDR_DETAIL_TEXT_TEXT_ENCODER_H_
#define QKXDR_DETAIL_TEXT_TEXT_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/encoder_writes.h"
#include "qkxdr/detail/base/inline_buffer.h"
#include "qkxdr/detail/text/double_format.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "qkxdr/detail/text/int_format.h"
#include "qkxdr/detail/text/string_escape.h"

namespace qkxdr::impl {

// size() reports the text in bytes as 32 bits, which caps the unit count.
constexpr uint32_t kMaxTextUnits = 0x7FFFFFFF;

// The exported writers' text: 256 units inside the writer, then a heap block.
using TextBuffer = InlineBuffer<char16_t, 256, kMaxTextUnits>;

// Appends values as comma-separated UTF-16 text to a growing Buffer
// (InlineBuffer or VectorBuffer of char16_t, at most kMaxTextUnits units);
// the string and slot writes are EncoderWrites'.
//
// Values are separated by ","; a blob gets none in front and leaves the
// comma flag alone, so it is followed by one only when the value before it
// was. Nothing else is ever added: no whitespace, no brackets around the top
// level, no terminator. Strings are quoted with U+0022 and escape LF, CR,
// U+0022, U+0027 and backslash; every other unit, U+0000 included, is
// written as it is, and 8-bit strings are widened by sign extension. A null
// string pointer writes "" and a null blob, or one without data, "0X".
//
// Every write is all or nothing: one that would take the text past the
// buffer's limit throws std::bad_alloc and leaves the text and the comma
// flag as they were. The buffer grows only when the text itself passes its
// capacity.
template <typename Buffer>
class TextEncoderInto : public EncoderWrites<TextEncoderInto<Buffer>> {
  static_assert(Buffer::max_size() <= kMaxTextUnits, "size() counts bytes in 32 bits");
  friend EncoderWrites<TextEncoderInto>;

 public:
  TextEncoderInto() = default;
  // Writes into the buffer made from `output` (a VectorBuffer's container).
  template <typename Output>
  explicit TextEncoderInto(Output* output) : out_(output) {}

  void WriteInt(int32_t v) { AppendNumber(FormatInt32, v, kIntTextRoom); }
  void WriteInt64(int64_t v) { AppendNumber(FormatInt64, v, kIntTextRoom); }
  void WriteDouble(double v) { AppendNumber(FormatDouble, v, kMaxDoubleText); }
  // The fewest digits that read back as exactly v, as FormatDoubleExact
  // writes them; TextDecoder::ReadDoubleExact reads them back.
  void WriteDoubleExact(double v) { AppendNumber(FormatDoubleExact, v, kMaxExactDoubleText); }

  void BeginArray() {
    *StartValue(1) = u'[';
    need_comma_ = false;
  }
  void EndArray() {
    out_.PushBack(u']');
    need_comma_ = true;
  }

  // A blob of the n bytes at data (which may be null when n is 0).
  void WriteBytes(const uint8_t* data, uint32_t n) {
    char16_t* p = out_.Extend(kBlobPrefixUnits + 2 * uint64_t{n});  // throws before any change
    *p++ = u'"';
    *p++ = u'0';
    *p++ = u'X';
    for (uint32_t i = 0; i < n; ++i) {
      *p++ = static_cast<char16_t>(kUpperHexDigits[data[i] >> 4]);
      *p++ = static_cast<char16_t>(kUpperHexDigits[data[i] & 0x0F]);
    }
    *p = u'"';
  }

  // The text, null while empty; valid until the next write.
  const void* data() const { return out_.size() == 0 ? nullptr : out_.data(); }
  // The text's size in bytes.
  uint32_t size() const { return out_.size() * 2; }
  const Buffer& buffer() const { return out_; }

  // Empties the text but keeps the comma rule's state, so that the next
  // write continues the text a writer has already passed on.
  void ClearText() { out_.ResizeWithin(0); }

 private:
  // Quotation marks around a string; a blob's text also starts with "0X".
  static constexpr uint32_t kQuoteUnits = 2;
  static constexpr uint32_t kBlobPrefixUnits = kQuoteUnits + 2;

  // Numbers are formatted into a scratch area of this many units, where they
  // do not go straight into the buffer.
  static constexpr uint32_t kNumberScratch = 32;
  static_assert(kNumberScratch >= kIntTextRoom && kNumberScratch >= kMaxDoubleText &&
                    kNumberScratch >= kMaxExactDoubleText,
                "room for every formatter");

  uint32_t CommaUnits() const { return need_comma_ ? 1 : 0; }

  // Reserves the comma the rule asks for and `units` more, writes the comma
  // and sets the flag; returns where the value goes.
  char16_t* StartValue(uint64_t units) {
    char16_t* p = out_.Extend(CommaUnits() + units);  // throws before any change
    if (need_comma_) *p++ = u',';
    need_comma_ = true;
    return p;
  }

  // Comma rule, then the text format(v, ...) writes; the formatter may
  // store up to `room` units.
  template <typename T>
  void AppendNumber(char16_t* (*format)(T, char16_t*), T v, uint32_t room) {
    if (out_.capacity() - out_.size() <= room) return AppendNumberGrowing(format, v);
    // Straight into the buffer, which has room for the comma and whatever
    // the formatter stores: it cannot grow, so nothing is reserved.
    char16_t* p = out_.data() + out_.size();
    *p = u',';
    p += need_comma_;
    need_comma_ = true;
    out_.ResizeWithin(static_cast<uint32_t>(format(v, p) - out_.data()));
  }

  // The same when the buffer may have to grow: the number is formatted into
  // scratch space first, so that the buffer grows to its exact size.
  template <typename T>
  QKXDR_NOINLINE void AppendNumberGrowing(char16_t* (*format)(T, char16_t*), T v) {
    char16_t scratch[kNumberScratch];
    const auto n = static_cast<uint32_t>(format(v, scratch) - scratch);
    std::memcpy(StartValue(n), scratch, n * sizeof(char16_t));
  }

  // Comma rule, then s[0..n) quoted and escaped.
  template <typename Unit>
  void WriteUnits(const Unit* s, size_t n) {
    // Room for the worst case, every unit escaped, when it is already there;
    // otherwise the buffer grows to the exact size.
    uint64_t units = kQuoteUnits + 2 * uint64_t{n};
    if (uint64_t{out_.size()} + CommaUnits() + units > out_.capacity()) {
      units = kQuoteUnits + EscapedLength(s, n);
    }
    char16_t* p = StartValue(units);
    *p++ = u'"';
    // Runs of plain units are copied whole; each escape ends one.
    const Unit* const end = s + n;
    for (const Unit* cur = s;;) {
      const size_t plain = CopyPlainUnits(cur, static_cast<size_t>(end - cur), p);
      p += plain;
      cur += plain;
      if (cur == end) break;
      *p++ = u'\\';
      *p++ = EscapeLetter(Widen(*cur++));
    }
    *p++ = u'"';
    out_.Resize(static_cast<uint32_t>(p - out_.data()));
  }

  Buffer out_;
  bool need_comma_ = false;
};

// The writer behind the exported text streams.
using TextEncoder = TextEncoderInto<TextBuffer>;

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_TEXT_ENCODER_H_
