// The text reader: reads values of the text format back one by one, behind
// QkXDRIStream (first generation) or QkXDRIStream2 (second generation).

#ifndef QKXDR_SRC_TEXT_TEXT_ISTREAM_H_
#define QKXDR_SRC_TEXT_TEXT_ISTREAM_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "QkXDR.h"
#include "text/reader_values.h"
#include "text/tokenizer.h"

namespace qkxdr::impl {

// Keeps one token of lookahead: the current token is always already read,
// and every consuming operation reads the next one. The text is not copied;
// it must outlive the reader. Both generations share every operation and
// differ only in their type codes and in the second generation's three
// extra reads.
//
// No operation is marked override: the second generation's extra reads are
// plain members in the first. Being final and created by the factories, the
// class fails to compile if any pure virtual of I is left out.
template <typename I>
class QkXDRTextIStreamImp final : public I {
 public:
  // QkXDRType or QkXDRType2.
  using Type = decltype(std::declval<I&>().PeekType());

  // Reads [begin, end); the first token is current at once.
  QkXDRTextIStreamImp(const char16_t* begin, const char16_t* end)
      : tokenizer_(ContainerKind::Array), next_(begin), end_(end) {
    Advance();
  }

  Type PeekType() {
    switch (tokenizer_.GetToken()) {
      case TextToken::BeginArray:
        return Type::ArrayBegin;
      case TextToken::EndArray:
        return Type::ArrayEnd;
      case TextToken::Value:
        return ValueType(tokenizer_.GetValue());
      default:
        return Type::None;
    }
  }

  // The current type; moves on whatever the current token is.
  Type ReadType() {
    const Type type = Self().PeekType();
    Advance();
    return type;
  }

  bool IsValid() { return Self().PeekType() != Type::None; }

  bool ReadBeginArray() { return Expect(TextToken::BeginArray); }
  bool ReadEndArray() { return Expect(TextToken::EndArray); }

  bool ReadInt(int32_t* out) { return ReadNumber(ToInt32, out); }
  bool ReadInt64(int64_t* out) { return ReadNumber(ToInt64, out); }
  bool ReadDouble(double* out) { return ReadNumber(ToDouble, out); }

  // Every read fails, changing nothing, when its output (the number, the
  // allocator, the slot) is null.
  //
  // A string is consumed also when the allocator gives no buffer.
  bool ReadString(QkXDRAllocator* allocator) { return ReadText(DeliverUnits, allocator); }
  bool ReadStringA(QkXDRAllocator* allocator) { return ReadText(DeliverLowBytes, allocator); }

  // Second generation only: blob text into a new owning blob in the slot.
  bool ReadBinary(QkXDRBinary* slot) {
    if (slot == nullptr || Self().PeekType() != Type::Binary) return false;
    DecodeHexBlob(tokenizer_.GetValue().text, slot);
    Advance();
    return true;
  }

  // Consumes the rest of the innermost open array, its "]" included. Stops
  // early, without consuming it, at a token that is no readable value.
  void Skip() {
    uint64_t depth = 1;
    while (depth > 0 && Self().IsValid()) {
      if (tokenizer_.GetToken() == TextToken::BeginArray)
        ++depth;
      else if (tokenizer_.GetToken() == TextToken::EndArray)
        --depth;
      Advance();
    }
  }

  void Release() { delete this; }

 private:
  ~QkXDRTextIStreamImp() = default;

  // Calls that go through the object's own interface, so that each
  // generation sees its own type codes.
  I& Self() { return *this; }

  static Type ValueType(const TextValue& value) {
    switch (value.kind) {
      case TextValueKind::Integer:
        return Type::Int;
      case TextValueKind::Real:
        return Type::Double;
      case TextValueKind::String:
        if constexpr (std::is_same_v<Type, QkXDRType2>) {
          if (HasHexPrefix(value.text)) return Type::Binary;
        }
        return Type::String;
      default:
        return Type::None;
    }
  }

  // Moves to the next token. A step that reads no token leaves None current,
  // so no token is ever reported twice; every step moves forward until the
  // end of the text.
  void Advance() {
    tokenizer_.ClearToken();
    next_ = tokenizer_.Step(next_, end_);
  }

  bool Expect(TextToken token) {
    if (tokenizer_.GetToken() != token) return false;
    Advance();
    return true;
  }

  template <typename T>
  bool ReadNumber(bool (*convert)(const TextValue&, T*), T* out) {
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
  const char16_t* next_;  // just after the current token
  const char16_t* end_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_TEXT_ISTREAM_H_
