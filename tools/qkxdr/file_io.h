// Files and standard streams in binary mode, and the terminal: the only part
// of the tool that differs between platforms.

#ifndef QKXDR_TOOLS_QKXDR_FILE_IO_H_
#define QKXDR_TOOLS_QKXDR_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qkxdr::tool {

// The standard streams, by their descriptors.
enum class StdStream { In = 0, Out = 1, Err = 2 };

bool IsTerminal(StdStream stream);

// How an input or output path is named in messages ("-" is standard input
// or output).
std::string DisplayName(const std::string& path);

// Whether `output` names a regular file that `input` ("-": standard input)
// already is, by the same path or another, a hard link or a symbolic link:
// writing it would destroy the input. False when either cannot be looked at,
// as an output that does not exist yet.
bool IsInputFile(const std::string& input, const std::string& output);

// Opens `path` with `mode` ("rb", "wb"), or "-" as the `standard` stream,
// which carries bytes unchanged. Null on failure (see SystemReason); *owned
// says whether the file is to be closed.
std::FILE* OpenFile(const std::string& path, const char* mode, std::FILE* standard, bool* owned);

// Why the last call to the system failed.
std::string SystemReason();

// The size of the regular file at `path`; 0 when it is not one.
uint64_t RegularFileSize(const std::string& path);

// Standard output (path "-") or a file, written in binary mode.
class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  bool Open(const std::string& path, std::string* error);
  void Write(const void* data, size_t size);
  void Write(const std::string& s) { Write(s.data(), s.size()); }
  // Flushes and closes; false, with the reason, when any write failed.
  bool Close(std::string* error);

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  std::string name_;
};

// A line on standard error that tells how far a long job has come. It shows
// only for jobs of 64 MiB and more, and only when standard error is a
// terminal; a total of 0 means the size is not known.
class Progress {
 public:
  Progress(const char* label, uint64_t total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  void Update(uint64_t done) {
    if (enabled_ && done >= next_) Show(done);
  }
  // Erases the line, if shown, so that a message can start on a clean line.
  void Clear();

 private:
  void Show(uint64_t done);

  const char* label_;
  uint64_t total_;
  uint64_t next_;  // the next amount worth a new line
  bool enabled_;
  bool shown_ = false;
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_FILE_IO_H_
