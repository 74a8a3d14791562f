// qkxdr: looks into data of the QkXDR library and converts it between its
// binary encoding and its text form. See "qkxdr --help" and docs/cli.md.
// This file is the command line: the commands, the options each takes, and
// their help, which is made from docs/help/*.txt by tools/CMakeLists.txt.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "command.h"
#include "command_io.h"
#include "file_io.h"
#include "help_texts.h"

namespace qkxdr::tool {
namespace {

struct CommandInfo {
  const char* name;
  const char* help;  // what "qkxdr NAME --help" prints
  unsigned options;  // the OptionBit values it takes
  int (*run)(const Options& options);
};

enum OptionBit : unsigned {
  kFile = 1,  // takes an input FILE
  kUtf16 = 2,
  kText = 4,
  kHex = 8,
  kFromHex = 16,
  kJson = 32,       // --json, with --array
  kTextInput = 64,  // not a flag: --text names the input, not a side of a JSON conversion
  kStrict = 128,
  kLenient = 256,
  kConvert = 512,
};

struct Flag {
  const char* shortName;  // or null
  const char* longName;
  unsigned bit;
  bool Options::*member;
};

const Flag kFlags[] = {
    {nullptr, "--utf16", kUtf16, &Options::utf16},
    {nullptr, "--text", kText, &Options::text},
    {nullptr, "--hex", kHex, &Options::hex},
    {"-x", "--from-hex", kFromHex, &Options::fromHex},
    {nullptr, "--json", kJson, &Options::json},
    {nullptr, "--array", kJson, &Options::array},
    {nullptr, "--convert", kConvert, &Options::convert},
    {nullptr, "--strict", kStrict, &Options::strict},
    {nullptr, "--lenient", kLenient, &Options::lenient},
};

const CommandInfo kCommands[] = {
    {"encode", kEncodeHelp, kFile | kUtf16 | kJson | kText | kStrict | kLenient | kConvert,
     RunEncode},
    {"decode", kDecodeHelp, kFile | kUtf16 | kFromHex | kJson | kText, RunDecode},
    {"dump", kDumpHelp, kFile | kHex | kFromHex, RunDump},
    {"validate", kValidateHelp,
     kFile | kText | kTextInput | kUtf16 | kFromHex | kJson | kConvert | kStrict, RunValidate},
    {"demo", kDemoHelp, 0, RunDemo},
};

const Flag* FindFlag(const std::string& word) {
  for (const Flag& flag : kFlags) {
    if (word == flag.longName || (flag.shortName != nullptr && word == flag.shortName))
      return &flag;
  }
  return nullptr;
}

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

bool TakeFile(const CommandInfo& command, const std::string& word, int* files, Options* options,
              std::string* error) {
  if (!(command.options & kFile)) return Fail(error, "takes no FILE: '" + word + "'");
  if (++*files > 1) return Fail(error, "takes one FILE at most: '" + word + "'");
  options->input = word;
  return true;
}

// Combinations that name two different inputs, or options without the one
// they go with.
bool CheckCombination(const CommandInfo& command, const Options& options, std::string* error) {
  const bool textInput = (command.options & kTextInput) != 0;
  if (options.text && options.fromHex)
    return Fail(error, "--from-hex is for binary input, not with --text");
  if (textInput && options.json && (options.text || options.fromHex))
    return Fail(error, "--json names the input: not with --text or --from-hex");
  if ((options.array || options.convert) && !options.json)
    return Fail(error, "--array and --convert are for JSON: add --json");
  if (options.strict && (options.json || (textInput && !options.text)))
    return Fail(error, "--strict is for text input: add --text");
  if (options.lenient && options.json) return Fail(error, "--lenient is for text input, not JSON");
  if (options.lenient && options.strict) return Fail(error, "--strict and --lenient: choose one");
  if (!textInput && options.text && !options.json)
    return Fail(error, "--text names the other side of a JSON conversion: add --json");
  if (options.utf16 && !options.text && (textInput || options.json)) {
    return Fail(error, "--utf16 is for the text form: add --text");
  }
  return true;
}

// The command of that name, or null.
const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

// Parses the words after the command's name into *options. Sets *help for
// -h or --help. On bad usage returns false with the reason in *error.
bool ParseOptions(const CommandInfo& command, int count, char** words, Options* options, bool* help,
                  std::string* error) {
  bool onlyFiles = false;
  int files = 0;
  for (int i = 0; i < count; ++i) {
    const std::string word = words[i];
    if (onlyFiles || word == "-" || word.empty() || word[0] != '-') {
      if (!TakeFile(command, word, &files, options, error)) return false;
    } else if (word == "--") {
      onlyFiles = true;
    } else if (word == "-h" || word == "--help") {
      *help = true;
    } else if (word == "-o" || word == "--output") {
      if (++i == count) return Fail(error, word + " needs a FILE");
      options->output = words[i];
    } else if (word.rfind("--output=", 0) == 0) {
      options->output = word.substr(std::strlen("--output="));
    } else if (const Flag* flag = FindFlag(word)) {
      if (!(command.options & flag->bit)) return Fail(error, "does not take " + word);
      options->*flag->member = true;
    } else {
      return Fail(error, "unknown option '" + word + "'");
    }
  }
  return CheckCombination(command, *options, error);
}

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
    return ShowHelp(kQkxdrHelp);
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
