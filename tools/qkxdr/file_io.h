// Whole inputs in, outputs out, and what the tool needs to know about the
// terminal. The only part of the tool that differs between platforms.

#ifndef QKXDR_TOOLS_QKXDR_FILE_IO_H_
#define QKXDR_TOOLS_QKXDR_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qkxdr::tool {

// Inputs of this size and more show their progress on a terminal.
constexpr uint64_t kProgressThreshold = uint64_t{64} << 20;

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

// A file or standard input (path "-", in binary mode), read chunk by chunk.
class Input {
 public:
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();

  bool Open(const std::string& path, std::string* error);
  // Appends up to 1 MiB (or the piece set) to *bytes and returns how much;
  // 0 at the end, and on failure with the reason in *error.
  size_t Read(std::vector<uint8_t>* bytes, std::string* error);
  // Reads at most `bytes` at a time; 0: 1 MiB.
  void set_piece(size_t bytes) { piece_ = bytes; }
  // The size of a regular file; 0 when not known in advance.
  uint64_t size() const { return size_; }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  uint64_t size_ = 0;
  size_t piece_ = 0;
};

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
  bool IsTerminal() const { return terminal_; }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  bool terminal_ = false;
  std::string name_;
};

// A line on standard error that tells how far a long job has come. It shows
// only for jobs of kProgressThreshold bytes and more, and only when standard
// error is a terminal; a total of 0 means the size is not known.
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
