#include "args.h"

#include <cstring>

namespace qkxdr::tool {
namespace {

enum OptionBit : unsigned {
  kFile = 1,  // takes an input FILE
  kUtf16 = 2,
  kText = 4,
  kHex = 8,
  kFromHex = 16,
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
};

const char kEncodeHelp[] =
    R"(Usage: qkxdr encode [--utf16] [-o FILE] [FILE]

Reads values in the text form and writes them in the binary encoding.

The text is checked first, as "qkxdr validate --text" checks it: on its first
problem nothing is written and the exit status is 1. The values are then read
with the library's text reader and written with its binary writer, one by
one: integers that need 64 bits are written as 64-bit integers, and a string
that starts with "0x" or "0X" is a blob of the hex digits after it, as the
text reader reports it. A string holding U+0000 (from a \u0000 escape) cannot
be written and is refused.

Binary output is not written to a terminal: use -o FILE, or a redirection.

Options:
  --utf16            the text is UTF-16LE, not UTF-8
  -o, --output FILE  write to FILE instead of standard output
  -h, --help         show this help
)";

const char kDecodeHelp[] =
    R"(Usage: qkxdr decode [--utf16] [-x] [-o FILE] [FILE]

Reads a binary stream and writes the same values in the text form.

The stream is checked first, as "qkxdr validate" checks it: on its first
problem nothing is written and the exit status is 1. The values are then read
with the library's binary reader and written with its text writer; the UTF-8
text ends with a line end. Afterwards the text is read back and compared with
the stream, and a warning tells how many values do not survive the text form:
the text keeps 10 significant digits of a double, and a string that starts
with "0x" reads back as a blob. A string holding U+0000 cannot be written as
text and is refused.

Options:
  --utf16            write the text as UTF-16LE, unit for unit, with no line
                     end; UTF-8 output replaces unpaired surrogates by U+FFFD
  -x, --from-hex     the input is hex digits (whitespace allowed), not bytes
  -o, --output FILE  write to FILE instead of standard output
  -h, --help         show this help
)";

const char kDumpHelp[] =
    R"(Usage: qkxdr dump [--hex] [-x] [-o FILE] [FILE]

Shows a binary stream for a person, one line per value, without the
library's reader:

  offset  the byte offset of the value; for the first value of a run, the
          offset of the run's tag byte
  run     the tag byte in hex, the type, and the value's place in the run of
          values the tag announces (2/3: the second of three)
  value   indented by array depth: integers in decimal (64-bit marks one that
          needs more than 32 bits), doubles in their shortest exact form,
          strings in quotes with \" \\ \n \r \t and \uXXXX escapes for other
          control characters and unpaired surrogates (cut after 64
          UTF-16 units), blobs as 0x and hex digits (cut after 32 bytes)

Problems are marked with "!" and the dump goes on: an unknown tag byte
(252-255) has no value type, so the next byte is read as a tag; a value cut
off by the end of the data is shown as far as it goes; an array end with no
open array is marked, and so are arrays still open at the end. The last line
gives the size and the totals. The exit status is 1 when a problem is marked.

Options:
  --hex              show the raw bytes of each value too: eight on the
                     value's line, the rest on lines of their own below it
  -x, --from-hex     the input is hex digits (whitespace allowed), not bytes
  -o, --output FILE  write to FILE instead of standard output
  -h, --help         show this help
)";

const char kValidateHelp[] =
    R"(Usage: qkxdr validate [--text [--utf16] | -x] [-o FILE] [FILE]

Checks a binary stream, or a text with --text. When it is well formed, prints
the number of values and exits 0; otherwise prints its first problem, with
where it is, on standard error and exits 1.

A binary stream is well formed when every value is complete, every array end
closes an array, every array is closed, and no tag byte is unknown. No bytes
at all are an empty stream. The place of a problem is its byte offset.

A text is well formed when the library's text reader reads every token in it
as a value (so no bare words, true, false, null, objects, or doubled commas),
every "]" closes an array, every array is closed, and every string has its
closing quote. The place of a problem is its line and column, and its byte
offset in the input.

Options:
  --text             the input is text, not a binary stream
  --utf16            with --text: the text is UTF-16LE, not UTF-8
  -x, --from-hex     the binary input is hex digits (whitespace allowed)
  -o, --output FILE  write the summary to FILE instead of standard output
  -h, --help         show this help
)";

const char kDemoHelp[] =
    R"(Usage: qkxdr demo [-o FILE]

Writes a sample record with the library's binary writer and its text writer,
shows the bytes in hex, their dump, and the text, then reads both back with
the library's readers and says whether every value matches the record. The
exit status is 1 when one does not.

Options:
  -o, --output FILE  write to FILE instead of standard output
  -h, --help         show this help
)";

const CommandInfo kCommands[] = {
    {"encode", kEncodeHelp, kFile | kUtf16, RunEncode},
    {"decode", kDecodeHelp, kFile | kUtf16 | kFromHex, RunDecode},
    {"dump", kDumpHelp, kFile | kHex | kFromHex, RunDump},
    {"validate", kValidateHelp, kFile | kText | kUtf16 | kFromHex, RunValidate},
    {"demo", kDemoHelp, 0, RunDemo},
};

const char kToolHelp[] =
    R"(Usage: qkxdr COMMAND [OPTION]... [FILE]

Looks into data of the QkXDR library, and converts it between its binary
encoding and its text form.

Commands:
  encode     text form to binary encoding
  decode     binary encoding to text form
  dump       a binary stream shown value by value, with offsets and runs
  validate   check a binary stream, or a text with --text
  demo       a sample record written both ways, shown, and read back

FILE is read whole; without FILE, or with "-", standard input is read.
Output goes to standard output, or to the file given with -o FILE. Inputs of
64 MiB and more show their progress on standard error when it is a terminal.

Text on the terminal side is UTF-8, and the library's text is UTF-16: each
invalid UTF-8 sequence of the input (a stray byte, an overlong form, an
encoded surrogate, a value beyond U+10FFFF, a sequence cut short) becomes
U+FFFD, and so does an unpaired surrogate on output; a warning says how many
were replaced. With --utf16 the text is UTF-16LE instead, unit for unit. A
byte-order mark at the start of a text input is skipped.

Exit status: 0 done; 1 the input is malformed (the message says what and
where) or does not read back; 2 bad usage, or a file that cannot be read or
written.

"qkxdr COMMAND --help" shows the options of a command.
)";

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

// Combinations that name two different inputs.
bool CheckCombination(const CommandInfo& command, const Options& options, std::string* error) {
  if (options.text && options.fromHex)
    return Fail(error, "--from-hex is for binary input, not with --text");
  if ((command.options & kText) && options.utf16 && !options.text) {
    return Fail(error, "--utf16 is for text input: add --text");
  }
  return true;
}

}  // namespace

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string ToolHelp() { return kToolHelp; }

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

}  // namespace qkxdr::tool
