// The command line: the commands, the options each takes, and their help.

#ifndef QKXDR_TOOLS_QKXDR_ARGS_H_
#define QKXDR_TOOLS_QKXDR_ARGS_H_

#include <string>

#include "command.h"

namespace qkxdr::tool {

struct CommandInfo {
  const char* name;
  const char* help;  // what "qkxdr NAME --help" prints
  unsigned options;  // the OptionBit values it takes
  int (*run)(const Options& options);
};

// The command of that name, or null.
const CommandInfo* FindCommand(const std::string& name);

// What "qkxdr --help" prints.
std::string ToolHelp();

// Parses the words after the command's name into *options. Sets *help for
// -h or --help. On bad usage returns false with the reason in *error.
bool ParseOptions(const CommandInfo& command, int count, char** words, Options* options, bool* help,
                  std::string* error);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_ARGS_H_
