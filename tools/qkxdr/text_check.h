// Checks a text the way the library's text reader will read it, and finds
// where the first problem is.
//
// The reader says what type the current token has, but not where it is, and
// it answers "no current value" both at the end of the text and at a token it
// cannot read. To tell the two apart, the check reads the text with a short
// sentinel after it, twice: the two sentinels differ only in their last
// digit. Where the two readings end alike, the reader stopped inside the
// text; where they differ, it got to the sentinel: cleanly when the last
// value read is the sentinel's number, or inside a string that the text left
// open. The offset of a problem is found by bisection: the longest prefix of
// the text that does not yet hold the faulty token ends where it starts.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_CHECK_H_
#define QKXDR_TOOLS_QKXDR_TEXT_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qkxdr::tool {

enum class TextFault {
  None,
  Unreadable,      // a token the reader cannot read as a value
  UnbalancedEnd,   // a "]" while no array is open
  OpenString,      // a string that the end of the text leaves open
  UnclosedArrays,  // the text ends with arrays open
};

// The longest text the check and the library's reader take, in units.
constexpr size_t kMaxTextUnits = 0xFFFFFFF0;

struct TextCheck {
  TextFault fault = TextFault::None;
  uint64_t values = 0;  // values read before the fault, or in all
  size_t unit = 0;      // where the fault starts, in UTF-16 units
  uint64_t depth = 0;   // UnclosedArrays: how many are open
};

// Checks *text, of kMaxTextUnits units at most. The string is used as
// scratch space during the check and is as it was afterwards.
// Needs the library's second-generation text reader.
TextCheck CheckText(std::u16string* text);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_CHECK_H_
