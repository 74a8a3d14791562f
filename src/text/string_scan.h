// Reading quoted strings and bare words of the text format.

#ifndef QKXDR_SRC_TEXT_STRING_SCAN_H_
#define QKXDR_SRC_TEXT_STRING_SCAN_H_

#include <string>

#include "text/text_value.h"

namespace qkxdr::impl {

// Decodes the string whose opening quote is at cur (before end) into
// *target; returns the position after the closing quote, or end when the
// string is not terminated. Never reads at or beyond end. A "\u" escape
// with fewer than five units left from its first digit, or a backslash as
// the last unit, appends nothing and ends the string at end.
const char16_t* ScanString(const char16_t* cur, const char16_t* end, std::u16string* target);

// Copies the word characters at cur into *target (empty when there are
// none); returns the position after them.
const char16_t* ScanWord(const char16_t* cur, const char16_t* end, std::u16string* target);

// Sets value->kind (and value->boolean) from the word in value->text: the
// literals "true", "false" and "null", compared case-sensitively, or Word.
void ClassifyWord(TextValue* value);

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_STRING_SCAN_H_
