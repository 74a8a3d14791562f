#include "text_check.h"

#include <algorithm>

#include "QkXDR.h"
#include "file_io.h"
#include "values.h"

namespace qkxdr::tool {
namespace {

// A line end ends any number or word before it; the spaces give a "\u"
// escape cut by the end of the text enough units to decode, so that the last
// digit still lands in the string that swallows the sentinel.
constexpr char16_t kSentinel[] = u"\n      0";
constexpr size_t kSentinelUnits = sizeof kSentinel / sizeof kSentinel[0] - 1;

// What one reading of a prefix saw before the reader stopped.
struct Reading {
  uint64_t tokens = 0;      // values read
  uint64_t depth = 0;       // arrays open
  bool unbalanced = false;  // stopped at a "]" with no array open
  Value last;               // the last value read
};

// Reads a value, a blob as the string it is in the text: a blob cut by the
// end of the text holds the sentinel's last digit only as a unit of text.
bool ReadToken(QkXDRIStream2* in, Value* value) {
  if (in->PeekType() != QkXDRType2::Binary) return ReadValue(in, value);
  value->type = QkXDRType2::String;
  return ReadTextUnits(in, &value->text);
}

void ReadAll(QkXDRIStream2* in, Reading* reading) {
  while (in->IsValid()) {
    if (in->PeekType() == QkXDRType2::ArrayEnd && reading->depth == 0) {
      reading->unbalanced = true;
      return;
    }
    if (!ReadToken(in, &reading->last)) return;
    if (reading->last.type == QkXDRType2::ArrayBegin) ++reading->depth;
    if (reading->last.type == QkXDRType2::ArrayEnd) --reading->depth;
    ++reading->tokens;
  }
}

// Reads the first `prefix` units of *text followed by the sentinel whose
// last digit is `digit`; the units the sentinel covers are put back.
Reading ReadPrefix(std::u16string* text, size_t prefix, char16_t digit) {
  char16_t* const at = text->data() + prefix;
  char16_t saved[kSentinelUnits];
  std::copy(at, at + kSentinelUnits, saved);
  std::copy(kSentinel, kSentinel + kSentinelUnits, at);
  at[kSentinelUnits - 1] = digit;
  Reading reading;
  StreamPtr<QkXDRIStream2> in(
      QkXDRCreateTextIStream2(text->data(), static_cast<uint32_t>(prefix + kSentinelUnits)));
  if (in) ReadAll(in.get(), &reading);
  std::copy(saved, saved + kSentinelUnits, at);
  return reading;
}

struct Outcome {
  TextFault fault = TextFault::None;  // UnclosedArrays is left to the caller
  uint64_t index = 0;                 // the faulty token, or the values read
  uint64_t depth = 0;
};

// Reads the first `prefix` units twice, with the two sentinels.
Outcome Classify(std::u16string* text, size_t prefix) {
  const Reading a = ReadPrefix(text, prefix, u'0');
  const Reading b = ReadPrefix(text, prefix, u'1');
  Outcome outcome;
  if (a.tokens == b.tokens && a.unbalanced == b.unbalanced && SameValue(a.last, b.last)) {
    // Stopped inside the text, at token number a.tokens.
    outcome.fault = a.unbalanced ? TextFault::UnbalancedEnd : TextFault::Unreadable;
    outcome.index = a.tokens;
  } else if (a.last.type == QkXDRType2::Int) {
    outcome.index = a.tokens - 1;  // all but the sentinel
    outcome.depth = a.depth;
  } else {
    outcome.fault = TextFault::OpenString;  // it swallowed the sentinel
    outcome.index = a.tokens - 1;
  }
  return outcome;
}

// Where token number `index` starts: prefixes up to there do not hold any
// of it and read without a fault at `index`; longer ones do not.
size_t Locate(std::u16string* text, size_t length, uint64_t index) {
  Progress progress("locating the problem", 2 * uint64_t{length});
  size_t clean = 0, faulty = length;
  while (faulty - clean > 1) {
    progress.Update(2 * (length - (faulty - clean)));
    const size_t middle = clean + (faulty - clean) / 2;
    const Outcome outcome = Classify(text, middle);
    if (outcome.fault != TextFault::None && outcome.index >= index) {
      faulty = middle;
    } else {
      clean = middle;
    }
  }
  return clean;
}

}  // namespace

TextCheck CheckText(std::u16string* text) {
  const size_t length = text->size();
  text->resize(length + kSentinelUnits);
  const Outcome whole = Classify(text, length);
  TextCheck check;
  check.values = whole.index;
  if (whole.fault != TextFault::None) {
    check.fault = whole.fault;
    check.unit = Locate(text, length, whole.index);
  } else if (whole.depth > 0) {
    check.fault = TextFault::UnclosedArrays;
    check.unit = length;
    check.depth = whole.depth;
  }
  text->resize(length);
  return check;
}

}  // namespace qkxdr::tool
