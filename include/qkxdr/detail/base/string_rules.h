// What every string of the C++ side keeps to, in one place for the readers,
// the writers, the JSON converter and the tool.
//
// The exported writers take zero-terminated strings, so no string that they
// write holds U+0000. The C++ writers refuse such a string rather than cut
// it, and the C++ readers refuse one that an input holds (with
// ErrorCode::unsupported), each with the same words.

#ifndef QKXDR_DETAIL_BASE_STRING_RULES_H_
#define QKXDR_DETAIL_BASE_STRING_RULES_H_

#include <string_view>

namespace qkxdr::impl {

// Error::detail() of a string refused for holding U+0000.
inline constexpr std::string_view kZeroUnitDetail = "a string holding U+0000";

// Whether `s` holds a zero unit, U+0000.
template <typename Char>
bool HoldsZeroUnit(std::basic_string_view<Char> s) {
  return s.find(Char{}) != std::basic_string_view<Char>::npos;
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_STRING_RULES_H_
