// The qkxdr tool's input paths: text in UTF-8 and UTF-16 (encode, validate
// --text, with and without --strict), binary input raw and as hex digits
// (decode, validate, dump), and JSON (encode --json, validate --json). Each
// command runs on the input read in pieces of 1 MiB and again cut into small
// pieces: the exit status, the output and every message but the warnings
// must be the same however the input is cut.
// Byte 0 picks the command, byte 1 the size of the small pieces (1 to 64);
// the rest is the input.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "command.h"
#include "fuzz_support.h"

namespace {

using qkxdr::tool::Options;

struct Command {
  int (*run)(const Options&);
  bool Options::*flags[2];
};

const Command kCommands[] = {
    {qkxdr::tool::RunEncode, {nullptr, nullptr}},
    {qkxdr::tool::RunEncode, {&Options::strict, nullptr}},
    {qkxdr::tool::RunEncode, {&Options::utf16, nullptr}},
    {qkxdr::tool::RunValidate, {&Options::text, nullptr}},
    {qkxdr::tool::RunValidate, {&Options::text, &Options::strict}},
    {qkxdr::tool::RunValidate, {&Options::text, &Options::utf16}},
    {qkxdr::tool::RunDecode, {nullptr, nullptr}},
    {qkxdr::tool::RunDecode, {&Options::fromHex, nullptr}},
    {qkxdr::tool::RunValidate, {&Options::fromHex, nullptr}},
    {qkxdr::tool::RunDump, {&Options::fromHex, nullptr}},
    {qkxdr::tool::RunDump, {nullptr, nullptr}},
#if defined(QKXDR_TOOL_JSON)
    {qkxdr::tool::RunDecode, {&Options::json, &Options::text}},
    {qkxdr::tool::RunEncode, {&Options::json, nullptr}},
    {qkxdr::tool::RunValidate, {&Options::json, nullptr}},
#endif
};

// A folder of this process's own for the input, the output and the messages.
const std::string& Scratch() {
  static const std::string dir = [] {
    std::string name = "/tmp/qkxdr_tool_fuzz_XXXXXX";
    FUZZ_CHECK(mkdtemp(name.data()) != nullptr);
    return name;
  }();
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The messages but the warnings.
std::string Errors(const std::string& messages) {
  std::istringstream lines(messages);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("warning:") == std::string::npos) kept += line + '\n';
  }
  return kept;
}

struct Outcome {
  int status;
  std::string output;
  std::string errors;
  bool operator==(const Outcome& o) const {
    return status == o.status && output == o.output && errors == o.errors;
  }
};

Outcome Run(const Command& command, Options options) {
  options.output = Scratch() + "/out";
  std::remove(options.output.c_str());
  // The tool's messages go to a file through the C stream; the sanitizers
  // write to the descriptor, so their reports still show.
  const std::string messages = Scratch() + "/messages";
  std::FILE* const terminal = stderr;
  stderr = std::fopen(messages.c_str(), "w");
  FUZZ_CHECK(stderr != nullptr);
  Outcome outcome{command.run(options), "", ""};
  std::fclose(stderr);
  stderr = terminal;
  outcome.output = ReadFile(options.output);
  outcome.errors = Errors(ReadFile(messages));
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Command& command = kCommands[data[0] % std::size(kCommands)];
  Options options;
  options.input = Scratch() + "/in";
  std::ofstream(options.input, std::ios::binary)
      .write(reinterpret_cast<const char*>(data + 2), static_cast<std::streamsize>(size - 2));
  for (bool Options::*flag : command.flags) {
    if (flag != nullptr) options.*flag = true;
  }
  const Outcome whole = Run(command, options);
  options.piece = 1 + data[1] % 64;
  const Outcome cut = Run(command, options);
  if (!(cut == whole)) {
    std::fprintf(stderr, "read whole: %d\n%s\nread in pieces of %zu: %d\n%s\n", whole.status,
                 whole.errors.c_str(), options.piece, cut.status, cut.errors.c_str());
  }
  FUZZ_CHECK(cut == whole);
  return 0;
}
