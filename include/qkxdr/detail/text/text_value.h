// The scalar a text tokenizer read last.

#ifndef QKXDR_DETAIL_TEXT_TEXT_VALUE_H_
#define QKXDR_DETAIL_TEXT_TEXT_VALUE_H_

#include <cstdint>
#include <string>

namespace qkxdr::impl {

enum class TextValueKind : uint32_t {
  Word = 0,     // a bare word other than the three literals; in `text`
  Null = 1,     // "null"; in `text`
  Boolean = 2,  // "true" or "false"; in `text` and `boolean`
  Integer = 3,  // a number with neither fraction nor exponent; in `integer`
  Real = 4,     // a number with a fraction, a "." or an exponent marker; in `real`
  String = 5,   // a quoted string, decoded; in `text`
};

// Only the union member that `kind` names is meaningful; the others keep
// whatever they held. `text` always has a zero unit after its last unit.
struct TextValue {
  TextValueKind kind = TextValueKind::Word;
  std::u16string text;
  union {
    uint8_t boolean;  // 1 for true, 0 for false
    int64_t integer = 0;
    double real;
  };
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_TEXT_TEXT_VALUE_H_
