// What a well-formed text holds that a careful writer would not write: values
// whose text does not read back as written, and the lenient forms that only
// the library's reader takes. The text writer's own forms ("1." for 1.0,
// "5.e-002", no comma before a blob) are not lenient.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_
#define QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qkxdr::tool {

struct TextFinding {
  size_t unit = 0;    // where the form starts, in UTF-16 units
  bool loss = false;  // the value read differs from what the text says
  std::string what;   // one line, with the form quoted
};

// What the scan of a text read in pieces carries from one piece to the next.
struct FormContext {
  bool afterValue = false;  // the piece comes after a value
  bool last = true;         // the piece ends the text
};

// The findings of a text that CheckText found well formed, in text order;
// of a piece of it with a context, which is updated for the next piece.
std::vector<TextFinding> FindTextForms(std::u16string_view text, FormContext* context = nullptr);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_FORMS_H_
