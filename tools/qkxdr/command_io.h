// What the commands share to read their input and write their output, and
// to name places in the input for messages.

#ifndef QKXDR_TOOLS_QKXDR_COMMAND_IO_H_
#define QKXDR_TOOLS_QKXDR_COMMAND_IO_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "file_io.h"
#include "item_writer.h"

namespace qkxdr::tool {

// "1 value", "2 values": n and the noun that goes with it.
std::string Counted(uint64_t n, const char* one, const char* many);

// Messages on standard error, "qkxdr: " first; about the input of
// `options`, its name next.
void PrintError(const std::string& message);
void PrintWarning(const std::string& message);
void PrintError(const Options& options, const std::string& message);
void PrintWarning(const Options& options, const std::string& message);

// The input of `options`, read in pieces, with the progress line shown.
class InputReader {
 public:
  explicit InputReader(const Options& options) : options_(options) {}
  InputReader(const InputReader&) = delete;
  ~InputReader();

  // Opens the input, showing the progress with `label`; a terminal is
  // refused. On failure prints why and returns false with the exit status
  // in *status.
  bool Open(const char* label, int* status);
  // Appends the next piece to *bytes; sets *ended at the end of the input.
  bool Read(std::vector<uint8_t>* bytes, bool* ended, int* status);
  // Clears the progress line, prints the message about the input and
  // returns false with `exit` in *status.
  bool Fail(const std::string& message, int exit, int* status);
  // Clears the progress line and prints the warning about the input.
  void Warn(const std::string& message);
  // The bytes read so far.
  uint64_t read() const { return read_; }

 private:
  const Options& options_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::optional<Progress> progress_;
  uint64_t read_ = 0;
};

// Walks the binary input of `options` (raw bytes, or hex digits with
// --from-hex) as it is read, in memory bounded by its largest item, handing
// every item, with the bytes that hold it, to take() until it returns false;
// *size counts the bytes read. Shows the progress with `label`. On failure
// to read prints why and returns false with the exit status in *status.
using TakeItem = std::function<bool(const WalkItem& item, const StreamBytes& bytes)>;
bool WalkBinaryInput(const Options& options, const char* label, const TakeItem& take,
                     uint64_t* size, int* status);

// WalkBinaryInput up to the first fault, which it prints, then returns
// false with kExitBadData in *status; take() sees only items without one.
bool WalkWellFormed(const Options& options, const char* label, const TakeItem& take, uint64_t* size,
                    int* status);

// Walks the input to its first fault, as WalkWellFormed, and refuses a
// string holding U+0000; *values counts the values.
bool CheckBinaryInput(const Options& options, uint64_t* values, uint64_t* size, int* status);

// A command that writes as it reads first checks a named input file, so
// that it writes nothing when the input is malformed; standard input is
// read once, and such a command stops at the first fault.
bool CheckBeforeWriting(const Options& options, int* status);

// Prints that value number index + 1 is a string holding U+0000, which
// cannot be written `target` ("as text"; null: no writer takes it); returns
// kExitBadData.
int RefuseZeroUnit(const Options& options, uint64_t index, const char* target);

// Opens the output of `options`; refuses, before it is created, an output
// file that is the input file, and binary output on a terminal.
// On failure prints why and returns false with the exit status in *status.
bool OpenOutput(const Options& options, bool binary, Output* out, int* status);

// Closes `out` and returns `status`, or kExitTrouble when writing failed.
int Finish(Output* out, int status);

// CheckBeforeWriting for a command `run(out)` that returns the exit status:
// it runs with no output (null), then with the output opened.
template <typename Run>
int CheckThenWrite(const Options& options, bool binary, const Run& run) {
  if (options.input != "-") {
    const int status = run(nullptr);
    if (status != kExitOk) return status;
  }
  Output out;
  int status;
  if (!OpenOutput(options, binary, &out, &status)) return status;
  return Finish(&out, run(&out));
}

// Text of the library's streaming text writer to `out`: in UTF-8, an
// unpaired surrogate as U+FFFD, with a line end after the last value; or in
// UTF-16LE as it is.
class TextOutput {
 public:
  TextOutput(bool utf16, Output* out) : utf16_(utf16), out_(out) {}

  // The sink of the writer.
  bool Pass(const char16_t* data, size_t n);
  // Ends the last line, and warns of replaced surrogates.
  void Finish();

 private:
  bool utf16_;
  Output* out_;
  std::string encoded_;
  size_t replaced_ = 0;
  bool wrote_ = false;
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_COMMAND_IO_H_
