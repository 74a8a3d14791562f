#include "text/tokenizer.h"

#include "text/char_class.h"
#include "text/number_scan.h"
#include "text/string_scan.h"

namespace qkxdr::impl {
namespace {

const char16_t* SkipWhitespace(const char16_t* cur, const char16_t* end) {
  while (cur < end && IsWhitespace(*cur)) ++cur;
  return cur;
}

// Whitespace, at most one ",", whitespace.
const char16_t* SkipSeparator(const char16_t* cur, const char16_t* end) {
  cur = SkipWhitespace(cur, end);
  if (cur < end && *cur == u',') cur = SkipWhitespace(cur + 1, end);
  return cur;
}

bool IsClosingBracket(char16_t c) { return c == u']' || c == u'}'; }

}  // namespace

// cppcheck-suppress uninitMemberVar ; TextValue initialises its own members
TextTokenizer::TextTokenizer(ContainerKind root) { containers_.Push(root); }

const char16_t* TextTokenizer::Step(const char16_t* cur, const char16_t* end) {
  cur = SkipSeparator(cur, end);
  if (cur >= end) return cur;
  if (InObject() && !IsClosingBracket(*cur)) return ReadMember(cur, end);
  return ReadValue(cur, end);
}

bool TextTokenizer::InObject() const {
  return !containers_.empty() && containers_.Top() == ContainerKind::Object;
}

// A token is set only once what it stands for is complete (see Step).
const char16_t* TextTokenizer::ReadValue(const char16_t* cur, const char16_t* end) {
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

const char16_t* TextTokenizer::ReadMember(const char16_t* cur, const char16_t* end) {
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

void TextTokenizer::Open(TextToken token, ContainerKind kind) {
  containers_.Push(kind);
  token_ = token;
}

void TextTokenizer::Close(ContainerKind kind) {
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

}  // namespace qkxdr::impl
