// The JSON forms of the QkXDR values that JSON has no type for: a blob, and
// a double that is NaN or infinite. Each is an object of one member whose
// value is a string: {"$blob": "3q2+7w=="}, {"$double": "-Infinity"}.

#ifndef QKXDR_SRC_JSON_TAGGED_FORMS_H_
#define QKXDR_SRC_JSON_TAGGED_FORMS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qkxdr::json::detail {

inline constexpr std::string_view kBlobKey = "$blob";
inline constexpr std::string_view kDoubleKey = "$double";

// Appends the bytes in base64 (RFC 4648, with padding).
void AppendBase64(const std::uint8_t* data, std::size_t size, std::string* out);
// The bytes of padded base64 text; false for anything else.
bool ParseBase64(std::string_view text, std::vector<std::uint8_t>* bytes);

// The name of a NaN or infinite double: "Infinity", "-Infinity", "NaN" (the
// bits 7FF8000000000000), or "NaN:" and the 16 hex digits of its bits.
std::string DoubleName(double v);
// The double a name of DoubleName gives (hex digits in either case); false
// for anything else, a hex form that is no NaN included.
bool ParseDoubleName(std::string_view name, double* v);

}  // namespace qkxdr::json::detail

#endif  // QKXDR_SRC_JSON_TAGGED_FORMS_H_
