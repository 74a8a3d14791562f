// QkXDRTextParse: reports every array bracket and readable value of a text
// to the caller's handler, until the text ends or the handler says stop.

#include "QkXDR.h"
#include "qkxdr/detail/text/reader_values.h"
#include "qkxdr/detail/text/tokenizer.h"

namespace qkxdr::impl {
namespace {

// Reports a scalar; words and literals are not reported and end the parse.
// Tests rather than a switch: a jump table would add an indirect branch to
// every value, whose target changes from value to value.
bool ReportValue(const TextValue& value, QkXDRTextHandler* handler) {
  if (value.kind == TextValueKind::Integer) return handler->OnInt(Low32(value.integer));
  if (value.kind == TextValueKind::String) {
    return handler->OnString(value.text.data(), value.text.data() + value.text.size());
  }
  if (value.kind == TextValueKind::Real) return handler->OnDouble(value.real);
  return false;
}

// Reports the token read last; returns whether the parse goes on. No token,
// object brackets and a bracket that closes nothing end it unreported.
bool Report(const TextTokenizer& tokenizer, QkXDRTextHandler* handler) {
  const TextToken token = tokenizer.GetToken();
  if (token == TextToken::Value) return ReportValue(tokenizer.GetValue(), handler);
  if (token == TextToken::BeginArray) return handler->OnBeginArray();
  if (token == TextToken::EndArray) return handler->OnEndArray();
  return false;
}

}  // namespace
}  // namespace qkxdr::impl

extern "C" {

QKXDR_API void QKXDR_CALL QkXDRTextParse(QkXDRTextHandler* handler, const char16_t* text,
                                         uint32_t length) {
  using namespace qkxdr::impl;
  TextTokenizer tokenizer(ContainerKind::Array);
  const char16_t* const end = text + length;
  // Every step moves forward until the end, so the loop ends.
  for (const char16_t* cur = text; cur < end;) {
    tokenizer.ClearToken();
    cur = tokenizer.Step(cur, end);
    if (!Report(tokenizer, handler)) break;
  }
}

}  // extern "C"
