#include "text_walk.h"

#include <vector>

#include "QkXDR.h"
#include "text_check.h"
#include "text_source.h"
#include "values.h"

namespace qkxdr::tool {
namespace {

// Findings of a well-formed text shown one a line; the rest only counted.
constexpr size_t kShownFindings = 20;

bool HasTextReader() {
  const char16_t empty[] = u"";
  return StreamPtr<QkXDRIStream2>(QkXDRCreateTextIStream2(empty, 0)) != nullptr;
}

std::string TextFaultText(const TextCheck& check, const TextInput& text) {
  switch (check.fault) {
    case TextFault::Unreadable:
      return "not a value the reader accepts: \"" + Excerpt(text, check.unit) + "\"";
    case TextFault::UnbalancedEnd:
      return "\"]\" without an open array";
    case TextFault::OpenString:
      return "the string that starts here has no closing quote";
    default:
      return "the text ends with " + Counted(check.depth, "array", "arrays") + " still open";
  }
}

// Checks the piece, read after its prefix; its first problem, with its
// place, or "".
std::string CheckPiece(const Options& options, const TextInput& piece, bool last,
                       std::u16string* prefixed, uint64_t* values) {
  TextCheck check = CheckText(prefixed);
  if (check.fault == TextFault::UnclosedArrays && !last) check.fault = TextFault::None;
  *values += check.values - piece.depth;
  if (check.fault == TextFault::None) return "";
  check.unit -= static_cast<size_t>(piece.depth);
  return DisplayName(options.input) + ": " + DescribePlace(piece, check.unit) + ": " +
         TextFaultText(check, piece);
}

}  // namespace

bool WalkText(const Options& options, const TakePiece& take, bool warn, uint64_t* values,
              uint64_t* size, int* status) {
  *values = 0;
  if (!HasTextReader()) {
    PrintError("this build of the library has no text reader");
    *status = kExitTrouble;
    return false;
  }
  TextSource source(options);
  if (!source.Open(status)) return false;
  TextInput piece;
  std::u16string prefixed;
  for (bool last = false; !last;) {
    if (!source.Next(&piece, &last, status)) return false;
    prefixed.assign(static_cast<size_t>(piece.depth), u'[');
    prefixed += piece.units;
    const uint64_t before = *values;
    const std::string problem = CheckPiece(options, piece, last, &prefixed, values);
    if (!problem.empty()) {
      source.WarnReplaced();
      PrintError(problem);
      *status = kExitBadData;
      return false;
    }
    if (!take(piece, prefixed, before, last)) break;
  }
  if (warn) source.WarnReplaced();
  *size = source.size();
  return true;
}

size_t FindingPrinter::Print(const TextInput& piece, bool last) {
  context_.last = last;
  for (const TextFinding& finding : FindTextForms(piece.units, &context_)) {
    if (lossesOnly_ && !finding.loss) continue;
    if (++count_ > kShownFindings) continue;
    shown_.push_back(DisplayName(options_.input) + ": " + DescribePlace(piece, finding.unit) +
                     ": " + finding.what);
  }
  return count_;
}

size_t FindingPrinter::Finish() {
  if (count_ > kShownFindings)
    shown_.push_back("and " + std::to_string(count_ - kShownFindings) + " more");
  for (const std::string& message : shown_) warn_ ? PrintWarning(message) : PrintError(message);
  shown_.clear();
  return count_;
}

}  // namespace qkxdr::tool
