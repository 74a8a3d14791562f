// qkxdr: looks into data of the QkXDR library and converts it between its
// binary encoding and its text form. See "qkxdr --help" and docs/cli.md.

#include <cstdio>
#include <new>
#include <string>

#include "args.h"
#include "command.h"
#include "command_io.h"
#include "file_io.h"

namespace qkxdr::tool {
namespace {

int UsageError(const std::string& who, const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", who.c_str(), message.c_str(), who.c_str());
  return kExitTrouble;
}

// Writes a help or version text; a failure to write it is reported, as for
// any output.
int ShowHelp(const std::string& text) {
  Output out;
  std::string error;
  out.Open("-", &error);  // standard output is always there to write to
  out.Write(text);
  return Finish(&out, kExitOk);
}

// Runs `name` with the words after it.
int RunCommand(const std::string& name, int count, char** words) {
  const CommandInfo* command = FindCommand(name);
  if (command == nullptr) return UsageError("qkxdr", "unknown command '" + name + "'");
  Options options;
  bool help = false;
  std::string error;
  if (!ParseOptions(*command, count, words, &options, &help, &error)) {
    return UsageError("qkxdr " + name, error);
  }
  return help ? ShowHelp(command->help) : command->run(options);
}

int Main(int argc, char** argv) {
  if (argc < 2) return UsageError("qkxdr", "no command given");
  const std::string first = argv[1];
  if (first == "-h" || first == "--help" || (first == "help" && argc == 2))
    return ShowHelp(ToolHelp());
  if (first == "--version") return ShowHelp("qkxdr " QKXDR_TOOL_VERSION "\n");
  if (first == "help") {
    const CommandInfo* command = FindCommand(argv[2]);
    if (command == nullptr)
      return UsageError("qkxdr", "unknown command '" + std::string(argv[2]) + "'");
    return ShowHelp(command->help);
  }
  return RunCommand(first, argc - 2, argv + 2);
}

}  // namespace
}  // namespace qkxdr::tool

// Running out of memory ends every command alike, with the status of
// trouble that is not the input's fault.
int main(int argc, char** argv) {
  try {
    return qkxdr::tool::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("qkxdr: out of memory\n", stderr);
    return qkxdr::tool::kExitTrouble;
  }
}
