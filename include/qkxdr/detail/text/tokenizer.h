// An incremental scanner over UTF-16 text of the accepted text form: JSON-like
// values, with objects, apostrophe strings, bare words, optional commas and
// "+" signs. It keeps no position: callers pass the position and the end of
// the text to every Step and keep the position that comes back.

#ifndef QKXDR_DETAIL_TEXT_TOKENIZER_H_
#define QKXDR_DETAIL_TEXT_TOKENIZER_H_

#include <cstdint>
#include <string>

#include "qkxdr/detail/text/char_class.h"
#include "qkxdr/detail/text/container_stack.h"
#include "qkxdr/detail/text/number_scan.h"
#include "qkxdr/detail/text/string_scan.h"
#include "qkxdr/detail/text/text_value.h"

namespace qkxdr::impl {

// The kind of the token read last.
enum class TextToken : uint32_t {
  None = 0,         // nothing read, or a closing bracket that closes nothing
  Value = 1,        // a scalar, in GetValue()
  BeginObject = 2,  // "{"
  BeginArray = 3,   // "["
  EndObject = 4,    // "}" that closed an object
  EndArray = 5,     // "]" that closed an array
};

class TextTokenizer {
 public:
  // Opens the root container: with ContainerKind::Array the text is read as
  // the elements of an implicit array.
  // cppcheck-suppress uninitMemberVar ; TextValue initialises its own members
  explicit TextTokenizer(ContainerKind root) { containers_.Push(root); }
  TextTokenizer(const TextTokenizer&) = delete;
  TextTokenizer& operator=(const TextTokenizer&) = delete;

  // Reads at most one token at cur and returns the position after what it
  // consumed, never beyond end; returns cur only when cur is at or beyond
  // end. A step that reads no token leaves token, value and name as they
  // were. Never reads at or beyond end. A step that throws std::bad_alloc
  // leaves the token and the open containers as they were; the value and
  // the name may hold part of what it was reading.
  const char16_t* Step(const char16_t* cur, const char16_t* end) {
    cur = SkipSeparator(cur, end);
    if (cur >= end) return cur;
    if (InObject() && !IsClosingBracket(*cur)) return ReadMember(cur, end);
    return ReadValue(cur, end);
  }

  // Where a Step at cur starts to read: after whitespace, at most one ","
  // and whitespace again.
  static const char16_t* SkipSeparator(const char16_t* cur, const char16_t* end) {
    cur = SkipWhitespace(cur, end);
    if (cur < end && *cur == u',') cur = SkipWhitespace(cur + 1, end);
    return cur;
  }

  // Where the whitespace at cur ends.
  static const char16_t* SkipWhitespace(const char16_t* cur, const char16_t* end) {
    while (cur < end && IsWhitespace(*cur)) ++cur;
    return cur;
  }

  // Where the number or quoted string at cur (before end) ends, as a Step
  // reads it, without working out its value; cur where neither starts.
  static const char16_t* PassScalar(const char16_t* cur, const char16_t* end) {
    switch (ClassOf(*cur)) {
      case kQuoteClass: {
        NoUnits none;
        return ScanString(cur, end, &none);
      }
      case u'+':
      case u'-':
      case u'.':
      case kDigitClass:
        return PassNumber(cur, end);
      default:
        return cur;
    }
  }

  TextToken GetToken() const { return token_; }
  // The scalar read last; valid until the next Step changes it.
  const TextValue& GetValue() const { return value_; }
  // Lets callers tell a step that read no token from one that did.
  void ClearToken() { token_ = TextToken::None; }

  // The member name read last inside an object; emptied when an object closes.
  const std::u16string& name() const { return name_; }
  const ContainerStack& containers() const { return containers_; }

 private:
  static bool IsClosingBracket(char16_t c) { return c == u']' || c == u'}'; }

  // Whether the innermost open container is an object. Once the root is
  // closed the text reads on as elements of an array.
  bool InObject() const {
    return !containers_.empty() && containers_.Top() == ContainerKind::Object;
  }

  // A token is set only once what it stands for is complete (see Step).
  const char16_t* ReadValue(const char16_t* cur, const char16_t* end) {
    if (cur >= end) return cur;
    switch (ClassOf(*cur)) {
      case kQuoteClass:
        cur = ScanString(cur, end, &value_.text);
        value_.kind = TextValueKind::String;
        token_ = TextToken::Value;
        return cur;
      case u'+':
      case u'-':
      case u'.':
      case kDigitClass:
        value_.text.clear();
        cur = ScanNumber(cur, end, &value_);
        token_ = TextToken::Value;
        return cur;
      case kWordClass:
        cur = ScanWord(cur, end, &value_.text);
        ClassifyWord(&value_);
        token_ = TextToken::Value;
        return cur;
      case u'[':
        Open(TextToken::BeginArray, ContainerKind::Array);
        return cur + 1;
      case u'{':
        Open(TextToken::BeginObject, ContainerKind::Object);
        return cur + 1;
      case u']':
        Close(ContainerKind::Array);
        return cur + 1;
      case u'}':
        Close(ContainerKind::Object);
        return cur + 1;
      case u':':
        // Where an element should start a ":" means nothing and is dropped.
        // Right after a member's ":" it stays: the next step reads it as a
        // member with an empty name.
        return InObject() ? cur : cur + 1;
      default:
        // A second ",": the next step skips it.
        return cur;
    }
  }

  const char16_t* ReadMember(const char16_t* cur, const char16_t* end) {
    if (ClassOf(*cur) == kQuoteClass) {
      cur = ScanString(cur, end, &name_);
    } else {
      cur = ScanWord(cur, end, &name_);
    }
    cur = SkipWhitespace(cur, end);
    // Without its ":" the member cannot be read, and neither can the rest.
    if (cur >= end || *cur != u':') return end;
    return ReadValue(SkipWhitespace(cur + 1, end), end);
  }

  void Open(TextToken token, ContainerKind kind) {
    containers_.Push(kind);
    token_ = token;
  }

  // A closing bracket of `kind`: pops when it matches the innermost
  // container, otherwise reads as TextToken::None.
  void Close(ContainerKind kind) {
    if (containers_.empty() || containers_.Top() != kind) {
      token_ = TextToken::None;
      return;
    }
    containers_.Pop();
    if (kind == ContainerKind::Object) {
      name_.clear();
      token_ = TextToken::EndObject;
    } else {
      token_ = TextToken::EndArray;
    }
  }

  ContainerStack containers_;
  TextToken token_ = TextToken::None;
  std::u16string name_;
  TextValue value_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_TOKENIZER_H_
