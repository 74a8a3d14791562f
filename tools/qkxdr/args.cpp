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

const char kEncodeHelp[] =
    R"(Usage: qkxdr encode [--utf16] [--strict | --lenient] [-o FILE] [FILE]
       qkxdr encode --json [--array] [--convert] [--text [--utf16]] [-o FILE] [FILE]

Reads values in the text form and writes them in the binary encoding; with
--json, reads JSON and writes the binary encoding, or the text form with
--text.

The text is checked as "qkxdr validate --text" checks it: on its first
problem the exit status is 1, and nothing is written for a FILE, which is
checked before it is read again to be written; standard input is read once,
written as it comes, and what was written before the problem stays. The
values are read with the library's text reader and written with its binary
writer, one by one: integers that need 64 bits are written as 64-bit integers, and a string
that starts with "0x" or "0X" is a blob of the hex digits after it, as the
text reader reports it. A string holding U+0000 (from a \u0000 escape) cannot
be written and is refused.

A value whose text does not read back as written is an error, with its line
and column, and nothing more is written: an integer beyond 64 bits (the reader
wraps it) and a "0x" string that is not pairs of hex digits (the reader makes
other bytes of it). With --lenient each is a warning and the values are
written as the reader reads them. With --strict every form that "validate
--text --strict" reports is an error too, and so is invalid UTF-8.

JSON input is UTF-8 (RFC 8259), by default one top-level value per line
(JSON Lines), each a value of the stream. Integers become integers, numbers
with a fraction or an exponent doubles, strings strings, arrays arrays;
{"$blob": "<base64>"} is a blob, {"$double": "NaN"} (also "NaN:<16 hex
digits of the bits>", "Infinity", "-Infinity") a double. Other objects, true,
false and null have no QkXDR type and are refused, as are integers beyond 64
bits, numbers beyond the range of a double and strings holding U+0000; the
message gives the line, column and byte, and the path to the value.

Binary output is not written to a terminal: use -o FILE, or a redirection.

Options:
  --utf16            the text is UTF-16LE, not UTF-8
  --strict           also refuse each lenient form, as validate --strict
  --lenient          values that do not read back as written are warnings
  --json             the input is JSON
  --array            with --json: the input is one JSON array whose elements
                     are the values of the stream
  --convert          with --json: an object becomes an array of [key, value]
                     arrays, true and false the integers 1 and 0, null an
                     empty array, instead of being refused
  --text             with --json: write the text form, not the binary encoding
  -o, --output FILE  write to FILE instead of standard output
  -h, --help         show this help
)";

const char kDecodeHelp[] =
    R"(Usage: qkxdr decode [--utf16] [-x] [-o FILE] [FILE]
       qkxdr decode --json [--array] [-x | --text [--utf16]] [-o FILE] [FILE]

Reads a binary stream and writes the same values in the text form; with
--json, writes them as JSON, and with --json --text reads the text form.

The stream is checked as "qkxdr validate" checks it: on its first problem the
exit status is 1, and nothing is written for a FILE, which is checked before
it is read again to be written; standard input is read once, written as it
comes, and what was written before the problem stays. The values are written
with the library's text writer; the UTF-8 text ends with a line end. Each
value is also read back from its text, and a warning tells how many values
do not survive the text form:
a double is written in its shortest exact form, but a NaN keeps no payload,
and a string that starts with "0x" reads back as a blob. A string holding U+0000 cannot be written as
text and is refused.

JSON output is UTF-8, one top-level value per line (JSON Lines), or one
array with --array. Integers are written as integers, doubles in the
shortest form that reads back the same, always with a "." or an exponent,
NaN and infinities as {"$double": "NaN"} (other NaNs "NaN:<16 hex digits of
the bits>"), "Infinity" and "-Infinity", blobs as {"$blob": "<base64>"},
strings as UTF-8 with an unpaired surrogate as a \uXXXX escape: "encode
--json" gives the same bytes back.

Options:
  --utf16            write the text as UTF-16LE, unit for unit, with no line
                     end; UTF-8 output replaces unpaired surrogates by U+FFFD
  -x, --from-hex     the input is hex digits (whitespace allowed), not bytes
  --json             write JSON
  --array            with --json: the whole stream as one JSON array
  --text             with --json: the input is the text form
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
    R"(Usage: qkxdr validate [--text [--utf16] [--strict] | -x | --json [--array] [--convert]]
                      [-o FILE] [FILE]

Checks a binary stream, a text with --text, or JSON with --json, which is
well formed when "encode --json" with the same options converts it. When the
input is well formed, prints the number of values and exits 0; otherwise
prints its first problem, with where it is, on standard error and exits 1.

A binary stream is well formed when every value is complete, every array end
closes an array, every array is closed, and no tag byte is unknown. No bytes
at all are an empty stream. The place of a problem is its byte offset. A
string holding U+0000, which no writer takes, is refused in a binary stream
or a text that is otherwise well formed.

A text is well formed when the library's text reader reads every token in it
as a value (so no bare words, true, false, null, objects, or doubled commas),
every "]" closes an array, every array is closed, and every string has its
closing quote. The place of a problem is its line and column, and its byte
offset in the input. With --strict it must also hold nothing that the text
writer or a JSON writer would not write (the reader takes such forms as it
defines them): each of them is reported, and any one makes the exit status
1. They are: a "+" sign, a sign without digits, no digit before a point
(".5", the second point of "1.5.5"), a leading zero, "e" without digits, a
string in apostrophes, an escape other than \n \r \t \b \f \" \' \\ \/
and \u with four hex digits, a comma where a value should start, before "]"
or at the end, and two values without a comma between them (but for a blob,
which the writer writes without one). Values whose text does not read back
as written are reported too: an integer beyond 64 bits, and a "0x" string
that is not pairs of hex digits; and the first invalid UTF-8 sequence (with
--utf16, an odd last byte).

Options:
  --text             the input is text, not a binary stream
  --utf16            with --text: the text is UTF-16LE, not UTF-8
  --strict           with --text: also report each lenient form
  -x, --from-hex     the binary input is hex digits (whitespace allowed)
  --json             the input is JSON, as "encode --json" reads it
  --array            with --json: one JSON array holds the values
  --convert          with --json: objects, true, false and null are converted
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
    {"encode", kEncodeHelp, kFile | kUtf16 | kJson | kText | kStrict | kLenient | kConvert,
     RunEncode},
    {"decode", kDecodeHelp, kFile | kUtf16 | kFromHex | kJson | kText, RunDecode},
    {"dump", kDumpHelp, kFile | kHex | kFromHex, RunDump},
    {"validate", kValidateHelp,
     kFile | kText | kTextInput | kUtf16 | kFromHex | kJson | kConvert | kStrict, RunValidate},
    {"demo", kDemoHelp, 0, RunDemo},
};

const char kToolHelp[] =
    R"(Usage: qkxdr COMMAND [OPTION]... [FILE]

Looks into data of the QkXDR library, and converts it between its binary
encoding, its text form and JSON.

Commands:
  encode     text form to binary encoding; JSON to either with --json
  decode     binary encoding to text form; either to JSON with --json
  dump       a binary stream shown value by value, with offsets and runs
  validate   check a binary stream, a text with --text, JSON with --json
  demo       a sample record written both ways, shown, and read back

FILE is read as it comes, in bounded memory (a JSON value 64 MiB at most);
without FILE, or with "-", standard input is read. Output goes to standard output, or to
the file given with -o FILE. Inputs of 64 MiB and more show their progress
on standard error when it is a terminal.

Text on the terminal side is UTF-8, and the library's text is UTF-16: each
invalid UTF-8 sequence of the input (a stray byte, an overlong form, an
encoded surrogate, a value beyond U+10FFFF, a sequence cut short) becomes
U+FFFD, and so does an unpaired surrogate on output; a warning says how many
were replaced. With --utf16 the text is UTF-16LE instead, unit for unit. A
byte-order mark at the start of a text input is skipped.

Exit status:
  0  done (validate: the input is well formed), warnings or not
  1  the input is malformed, or holds a value that the output cannot hold or
     that does not read back as written (the message says what and where);
     dump: the data has problems; demo: the record did not read back
  2  bad usage; no input; a file, standard input or standard output that
     cannot be read or written; an output file that is the input file, or
     binary output to a terminal (nothing is written); a token or text
     beyond the tool's limits; JSON, or a reader or writer, that this build
     lacks; out of memory

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
