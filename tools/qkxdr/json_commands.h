// The JSON side of encode, decode and validate (--json), through the
// converter of qkxdr/json.hpp. In a build without it, each prints that the
// tool was built without JSON and fails with kExitTrouble.

#ifndef QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_
#define QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_

#include "command.h"
#include "json_values.h"

namespace qkxdr::tool {

// encode --json: the JSON input to the binary encoding, or to the text form
// with --text, converted as it is read; returns the exit status.
int EncodeJson(const Options& options);

// validate --json: whether the JSON input converts, and how many values,
// checked as it is read.
int ValidateJson(const Options& options);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_
