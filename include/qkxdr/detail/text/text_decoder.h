// The state of one text reader: a tokenizer over the caller's text, which it
// only reads, with the current token already read.

#ifndef QKXDR_DETAIL_TEXT_TEXT_DECODER_H_
#define QKXDR_DETAIL_TEXT_TEXT_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "QkXDR.h"
#include "qkxdr/detail/text/char_class.h"
#include "qkxdr/detail/text/exact_number.h"
#include "qkxdr/detail/text/reader_values.h"
#include "qkxdr/detail/text/tokenizer.h"

namespace qkxdr::impl {

// The type of the token the tokenizer read last. Strings that begin "0x" or
// "0X" are blobs; words, literals, objects and anything unreadable are None.
inline QkXDRType2 TokenType(const TextTokenizer& tokenizer) {
  switch (tokenizer.GetToken()) {
    case TextToken::BeginArray:
      return QkXDRType2::ArrayBegin;
    case TextToken::EndArray:
      return QkXDRType2::ArrayEnd;
    case TextToken::Value:
      break;
    default:
      return QkXDRType2::None;
  }
  switch (tokenizer.GetValue().kind) {
    case TextValueKind::Integer:
      return QkXDRType2::Int;
    case TextValueKind::Real:
      return QkXDRType2::Double;
    case TextValueKind::String:
      return HasHexPrefix(tokenizer.GetValue().text) ? QkXDRType2::Binary : QkXDRType2::String;
    default:
      return QkXDRType2::None;
  }
}

// Reads the values of a text back one by one. Keeps one token of lookahead:
// the current token is always already read, and every consuming operation
// reads the next one. The text is not copied; it must outlive the decoder.
//
// Every read either delivers the current value and moves to the next token,
// or returns false and changes nothing; it fails when the current token is
// not of a kind the read accepts and when its output (the number, the
// allocator, the slot, the container) is null.
class TextDecoder {
 public:
  // Reads [begin, end); the first token is current at once.
  TextDecoder(const char16_t* begin, const char16_t* end)
      : tokenizer_(ContainerKind::Array), begin_(begin), start_(begin), next_(begin), end_(end) {
    Advance();
  }

  QkXDRType2 PeekType() const { return TokenType(tokenizer_); }

  // The current type; moves on whatever the current token is.
  QkXDRType2 ReadType() {
    const QkXDRType2 type = PeekType();
    Advance();
    return type;
  }

  bool IsValid() const { return PeekType() != QkXDRType2::None; }

  bool ReadBeginArray() { return Expect(TextToken::BeginArray); }
  bool ReadEndArray() { return Expect(TextToken::EndArray); }

  // Integers and reals, converted as ToInt32, ToInt64 and ToDouble say.
  bool ReadInt(int32_t* out) { return ReadNumber(ToInt32, out); }
  bool ReadInt64(int64_t* out) { return ReadNumber(ToInt64, out); }
  bool ReadDouble(double* out) { return ReadNumber(ToDouble, out); }
  // What ReadDouble accepts, as the nearest double instead (NearestDouble):
  // every text FormatDoubleExact writes reads back as exactly its double,
  // NaN as a NaN.
  bool ReadDoubleExact(double* out) {
    return ReadNumber(
        [this](const TextValue& value, double* v) {
          if (!ToDouble(value, v)) return false;
          *v = NearestDouble(NumberBegin(), next_, *v);
          return true;
        },
        out);
  }

  // Any string, blob text included, as DeliverUnits and DeliverLowBytes
  // say; it is consumed also when the allocator gives no buffer.
  bool ReadString(QkXDRAllocator* allocator) { return ReadText(DeliverUnits, allocator); }
  bool ReadStringA(QkXDRAllocator* allocator) { return ReadText(DeliverLowBytes, allocator); }

  // Blob text into a new owning blob in the slot.
  bool ReadBinary(QkXDRBinary* slot) {
    if (slot == nullptr || PeekType() != QkXDRType2::Binary) return false;
    DecodeHexBlob(tokenizer_.GetValue().text, slot);
    Advance();
    return true;
  }

  // Blob text into *out, a container of bytes with resize and data
  // (std::vector<uint8_t>, std::string...), which it replaces.
  template <typename ByteContainer>
  bool ReadBytes(ByteContainer* out) {
    static_assert(sizeof(typename ByteContainer::value_type) == 1, "a container of bytes");
    if (out == nullptr || PeekType() != QkXDRType2::Binary) return false;
    const std::u16string& text = tokenizer_.GetValue().text;
    out->resize(HexBlobSize(text));
    DecodeHexBlob(text, reinterpret_cast<uint8_t*>(out->data()));
    Advance();
    return true;
  }

  // Consumes the rest of the innermost open array, its "]" included. Stops
  // early, without consuming it, at a token that is no readable value.
  void Skip() {
    uint64_t depth = 1;
    while (depth > 0 && IsValid()) {
      if (tokenizer_.GetToken() == TextToken::BeginArray)
        ++depth;
      else if (tokenizer_.GetToken() == TextToken::EndArray)
        --depth;
      Advance();
    }
  }

  // Offset in the text, in units, of the current token: where the step that
  // read it started to read, after the separator in front. At the end of the
  // text, the text's length.
  size_t Position() const {
    return static_cast<size_t>(TextTokenizer::SkipSeparator(start_, end_) - begin_);
  }

 private:
  // Moves to the next token. A step that reads no token leaves None current,
  // so no token is ever reported twice; every step moves forward until the
  // end of the text.
  void Advance() {
    tokenizer_.ClearToken();
    start_ = next_;
    next_ = tokenizer_.Step(next_, end_);
  }

  bool Expect(TextToken token) {
    if (tokenizer_.GetToken() != token) return false;
    Advance();
    return true;
  }

  // Where the current number starts; it ends at next_. The step that read it
  // started with the separator and, inside an object, the member's name,
  // ":" and whitespace; a number holds neither ":" nor whitespace.
  const char16_t* NumberBegin() const {
    const char16_t* const first = TextTokenizer::SkipSeparator(start_, end_);
    const char16_t* p = next_;
    while (p > first && p[-1] != u':' && !IsWhitespace(p[-1])) --p;
    return p;
  }

  // convert(value, out) converts the current value, or returns false and
  // leaves *out alone.
  template <typename T, typename Convert>
  bool ReadNumber(Convert convert, T* out) {
    if (out == nullptr || tokenizer_.GetToken() != TextToken::Value ||
        !convert(tokenizer_.GetValue(), out)) {
      return false;
    }
    Advance();
    return true;
  }

  bool ReadText(void (*deliver)(const std::u16string&, QkXDRAllocator*),
                QkXDRAllocator* allocator) {
    if (allocator == nullptr || tokenizer_.GetToken() != TextToken::Value ||
        tokenizer_.GetValue().kind != TextValueKind::String) {
      return false;
    }
    deliver(tokenizer_.GetValue().text, allocator);
    Advance();
    return true;
  }

  TextTokenizer tokenizer_;
  const char16_t* begin_;
  const char16_t* start_;  // where the step that read the current token started
  const char16_t* next_;   // just after the current token
  const char16_t* end_;
};

// A text decoder whose ReadDouble gives the nearest double, as the typed
// layer reads: for code written against the readers' calls.
class ExactTextDecoder : public TextDecoder {
 public:
  using TextDecoder::TextDecoder;
  bool ReadDouble(double* out) { return ReadDoubleExact(out); }
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_TEXT_DECODER_H_
