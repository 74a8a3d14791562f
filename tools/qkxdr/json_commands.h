// The JSON side of encode, decode and validate (--json), through the
// converter of qkxdr/json.hpp. In a build without it, each prints that the
// tool was built without JSON and fails with kExitTrouble.

#ifndef QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_
#define QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_

#include "QkXDR.hpp"
#include "command.h"
#include "json_values.h"

namespace qkxdr::tool {

// Reads the JSON input of `options` and writes its values to `out`. On a
// problem prints it, with its line, column and byte, and returns false with
// the exit status in *status.
bool ReadJson(const Options& options, Writer& out, int* status);

// Writes the values of `in` as JSON to the output of `options`; returns the
// exit status.
int WriteJson(const Options& options, Reader& in);

// validate --json: whether the JSON input converts, and how many values.
int ValidateJson(const Options& options);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_JSON_COMMANDS_H_
