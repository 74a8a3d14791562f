// What a well-formed text holds that a careful writer would not write: values
// whose text does not read back as written, and the lenient forms that only
// the library's reader takes. The text writer's own forms ("1." for 1.0,
// "5.e-002", no comma before a blob) are not lenient. The tokens are the
// library tokenizer's; this only looks at how each is written.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_
#define QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "text_walk.h"

namespace qkxdr::tool {

struct TextFinding {
  uint64_t unit = 0;  // where the form starts in the text
  bool loss = false;  // the value read differs from what the text says
  std::string what;   // one line, with the form quoted
};

// The findings of the next item of a text, in text order. *after_value says
// whether a value or "]" came last, and is updated.
std::vector<TextFinding> FindTextForms(const TextItem& item, bool* after_value);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_
