// An incremental scanner over UTF-16 text of the accepted text form: JSON-like
// values, with objects, apostrophe strings, bare words, optional commas and
// "+" signs. It keeps no position: callers pass the position and the end of
// the text to every Step and keep the position that comes back.

#ifndef QKXDR_SRC_TEXT_TOKENIZER_H_
#define QKXDR_SRC_TEXT_TOKENIZER_H_

#include <cstdint>
#include <string>

#include "text/container_stack.h"
#include "text/text_value.h"

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
  explicit TextTokenizer(ContainerKind root);
  TextTokenizer(const TextTokenizer&) = delete;
  TextTokenizer& operator=(const TextTokenizer&) = delete;

  // Reads at most one token at cur and returns the position after what it
  // consumed, never beyond end; returns cur only when cur is at or beyond
  // end. A step that reads no token leaves token, value and name as they
  // were. Never reads at or beyond end. A step that throws std::bad_alloc
  // leaves the token and the open containers as they were; the value and
  // the name may hold part of what it was reading.
  const char16_t* Step(const char16_t* cur, const char16_t* end);

  TextToken GetToken() const { return token_; }
  // The scalar read last; valid until the next Step changes it.
  const TextValue& GetValue() const { return value_; }
  // Lets callers tell a step that read no token from one that did.
  void ClearToken() { token_ = TextToken::None; }

  // The member name read last inside an object; emptied when an object closes.
  const std::u16string& name() const { return name_; }
  const ContainerStack& containers() const { return containers_; }

 private:
  // Whether the innermost open container is an object. Once the root is
  // closed the text reads on as elements of an array.
  bool InObject() const;
  const char16_t* ReadValue(const char16_t* cur, const char16_t* end);
  const char16_t* ReadMember(const char16_t* cur, const char16_t* end);
  void Open(TextToken token, ContainerKind kind);
  // A closing bracket of `kind`: pops when it matches the innermost
  // container, otherwise reads as TextToken::None.
  void Close(ContainerKind kind);

  ContainerStack containers_;
  TextToken token_ = TextToken::None;
  std::u16string name_;
  TextValue value_;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_TOKENIZER_H_
