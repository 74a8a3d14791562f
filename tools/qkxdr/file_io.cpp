#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

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

constexpr size_t kChunk = size_t{1} << 20;

int Descriptor(StdStream stream) { return static_cast<int>(stream); }

// Standard streams carry bytes unchanged: no CR/LF translation on Windows.
void SetBinaryMode(std::FILE* file) {
#ifdef _WIN32
  _setmode(_fileno(file), _O_BINARY);
#else
  (void)file;
#endif
}

std::string SystemReason() { return std::strerror(errno); }

// What tells a file apart from every other: its device or volume, and its
// number there.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;
  bool regular = false;

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
  return true;
}
#endif

// The size of a regular file, or 0 when it is not known in advance.
uint64_t KnownSize(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return 0;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

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

Input::~Input() {
  if (owned_) std::fclose(file_);
}

bool Input::Open(const std::string& path, std::string* error) {
  if (path == "-") {
    SetBinaryMode(stdin);
    file_ = stdin;
    return true;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    *error = "cannot open: " + SystemReason();
    return false;
  }
  owned_ = true;
  size_ = KnownSize(path);
  return true;
}

size_t Input::Read(std::vector<uint8_t>* bytes, std::string* error) {
  const size_t used = bytes->size();
  const size_t piece = piece_ != 0 ? piece_ : kChunk;
  bytes->resize(used + piece);
  const size_t got = std::fread(bytes->data() + used, 1, piece, file_);
  bytes->resize(used + got);
  if (got == 0 && std::ferror(file_)) *error = "cannot read: " + SystemReason();
  return got;
}

Output::~Output() {
  if (owned_) std::fclose(file_);
}

bool Output::Open(const std::string& path, std::string* error) {
  name_ = path;
  if (path == "-") {
    SetBinaryMode(stdout);
    file_ = stdout;
    terminal_ = tool::IsTerminal(StdStream::Out);
    return true;
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "cannot create " + path + ": " + SystemReason();
    return false;
  }
  owned_ = true;
  return true;
}

void Output::Write(const void* data, size_t size) {
  if (size != 0) std::fwrite(data, 1, size, file_);
}

bool Output::Close(std::string* error) {
  if (file_ == nullptr) return true;
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  if (!ok)
    *error = "cannot write " + (name_ == "-" ? "standard output" : name_) + ": " + SystemReason();
  if (owned_ && std::fclose(file_) != 0 && ok) {
    *error = "cannot write " + name_ + ": " + SystemReason();
    ok = false;
  }
  owned_ = false;
  file_ = nullptr;
  return ok;
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
