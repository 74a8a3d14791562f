#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qkxdr::tool {
namespace {

constexpr uint64_t kProgressThreshold = uint64_t{64} << 20;  // see Progress

int Descriptor(StdStream stream) { return static_cast<int>(stream); }

// What tells a file apart from every other: its device or volume, and its
// number there; and the size of a regular file.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool regular = false;
  uint64_t size = 0;

  bool operator==(const FileIdentity& o) const { return device == o.device && index == o.index; }
};

// The identity of the file at `path` ("-": standard input), after every
// symbolic link; false when it cannot be looked at.
#ifdef _WIN32
bool Identify(const std::string& path, FileIdentity* id) {
  const bool in = path == "-";
  const HANDLE file =
      in ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin)))
         : CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  if (known) {
    id->device = info.dwVolumeSerialNumber;
    id->index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    id->regular = GetFileType(file) == FILE_TYPE_DISK &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    id->size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  }
  if (!in) CloseHandle(file);
  return known;
}
#else
bool Identify(const std::string& path, FileIdentity* id) {
  struct stat info;
  if ((path == "-" ? fstat(Descriptor(StdStream::In), &info) : stat(path.c_str(), &info)) != 0)
    return false;
  id->device = static_cast<uint64_t>(info.st_dev);
  id->index = static_cast<uint64_t>(info.st_ino);
  id->regular = S_ISREG(info.st_mode);
  id->size = static_cast<uint64_t>(info.st_size);
  return true;
}
#endif

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode, std::FILE* standard, bool* owned) {
  if (path != "-") {
    std::FILE* const file = std::fopen(path.c_str(), mode);
    *owned = file != nullptr;
    return file;
  }
#ifdef _WIN32
  _setmode(_fileno(standard), _O_BINARY);  // no CR/LF translation
#endif
  return standard;
}

std::string SystemReason() { return std::strerror(errno); }

uint64_t RegularFileSize(const std::string& path) {
  FileIdentity id;
  return Identify(path, &id) && id.regular ? id.size : 0;
}

bool IsTerminal(StdStream stream) {
#ifdef _WIN32
  return _isatty(Descriptor(stream)) != 0;
#else
  return isatty(Descriptor(stream)) != 0;
#endif
}

bool IsInputFile(const std::string& input, const std::string& output) {
  FileIdentity in;
  FileIdentity out;
  return Identify(input, &in) && Identify(output, &out) && out.regular && in == out;
}

std::string DisplayName(const std::string& path) { return path == "-" ? "<standard input>" : path; }

Output::~Output() {
  if (owned_) std::fclose(file_);
}

bool Output::Open(const std::string& path, std::string* error) {
  name_ = path;
  file_ = OpenFile(path, "wb", stdout, &owned_);
  if (file_ != nullptr) return true;
  *error = "cannot create " + path + ": " + SystemReason();
  return false;
}

void Output::Write(const void* data, size_t size) {
  if (size != 0) std::fwrite(data, 1, size, file_);
}

bool Output::Close(std::string* error) {
  if (file_ == nullptr) return true;
  std::string reason;
  if (std::fflush(file_) != 0 || std::ferror(file_)) reason = SystemReason();
  if (owned_ && std::fclose(file_) != 0 && reason.empty()) reason = SystemReason();
  owned_ = false;
  file_ = nullptr;
  if (reason.empty()) return true;
  *error = "cannot write " + (name_ == "-" ? "standard output" : name_) + ": " + reason;
  return false;
}

Progress::Progress(const char* label, uint64_t total)
    : label_(label),
      total_(total),
      next_(total == 0 ? kProgressThreshold : 0),
      enabled_((total == 0 || total >= kProgressThreshold) && IsTerminal(StdStream::Err)) {}

Progress::~Progress() { Clear(); }

void Progress::Clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r%*s\r", 40, "");
  shown_ = false;
}

void Progress::Show(uint64_t done) {
  shown_ = true;
  if (total_ == 0) {
    std::fprintf(stderr, "\rqkxdr: %s %llu MiB", label_,
                 static_cast<unsigned long long>(done >> 20));
    next_ = done + (uint64_t{16} << 20);
  } else {
    const unsigned percent = static_cast<unsigned>(std::min<uint64_t>(done * 100 / total_, 100));
    std::fprintf(stderr, "\rqkxdr: %s %3u%%", label_, percent);
    next_ = done + total_ / 100;
  }
  std::fflush(stderr);
}

}  // namespace qkxdr::tool
