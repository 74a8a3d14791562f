// The JSON side of decode --json for a binary input read as it comes, one
// value at a time. Apart from json_commands.h, so that its callers, which
// build the values with qkxdr/stream.hpp, need not include QkXDR.hpp.

#ifndef QKXDR_TOOLS_QKXDR_JSON_VALUES_H_
#define QKXDR_TOOLS_QKXDR_JSON_VALUES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "command.h"

namespace qkxdr::tool {

// Whether this build has JSON; when not, prints so.
bool HasJson();

// Appends the JSON of one number, string or blob, given alone in the binary
// encoding, to *json. On a value JSON cannot hold prints why, naming it as
// value index + 1, and returns false.
bool AppendJsonScalar(const Options& options, const std::vector<uint8_t>& value, uint64_t index,
                      std::string* json);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_JSON_VALUES_H_
