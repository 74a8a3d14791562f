// What the commands share: their options and the exit status they return.

#ifndef QKXDR_TOOLS_QKXDR_COMMAND_H_
#define QKXDR_TOOLS_QKXDR_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qkxdr::tool {

constexpr int kExitOk = 0;
constexpr int kExitBadData = 1;  // the input is malformed, or does not read back
constexpr int kExitTrouble = 2;  // bad usage; a file that cannot be read or written

struct Options {
  std::string input = "-";   // "-": standard input
  std::string output = "-";  // "-": standard output
  bool utf16 = false;        // text in UTF-16LE rather than UTF-8
  bool text = false;         // validate: the input is text; with json: the other side is text
  bool hex = false;          // dump: show the raw bytes
  bool fromHex = false;      // binary input given as hex digits
  bool json = false;         // encode: JSON in; decode: JSON out; validate: a JSON input
  bool array = false;        // with json: the stream is one JSON array, not JSON Lines
  bool convert = false;      // with json: objects, true, false and null are converted
  bool strict = false;       // validate --text: report every lenient form
  bool lenient = false;      // encode: values that do not read back are warnings, not errors
  size_t piece = 0;          // input read this many bytes at a time; 0: 1 MiB (fuzzing cuts less)
};

// The commands; each returns the exit status.
int RunEncode(const Options& options);
int RunDecode(const Options& options);
int RunDump(const Options& options);
int RunValidate(const Options& options);
int RunDemo(const Options& options);

// What they are made of, where the commands share a file.
//
// encode.cpp: the text input to the binary encoding, in memory bounded by
// its longest token; decode --json --text, a top-level value at a time. A
// named input file is checked first, so that nothing is written when it is
// malformed.
int EncodeText(const Options& options);
int DecodeTextToJson(const Options& options);

// json_commands.cpp, through the converter of qkxdr/json.hpp; a build
// without it prints so and fails with kExitTrouble. The JSON input to the
// binary encoding, or to the text form with --text, converted as it is read;
// whether it converts, and how many values it holds.
int EncodeJson(const Options& options);
int ValidateJson(const Options& options);
// Whether this build has JSON; when not, prints so.
bool HasJson();
// Appends the JSON of one value, given alone in the binary encoding, to
// *json. On a value JSON cannot hold prints why, naming it as value
// index + 1, and returns false.
bool AppendJsonScalar(const Options& options, const std::vector<uint8_t>& value, uint64_t index,
                      std::string* json);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_COMMAND_H_
