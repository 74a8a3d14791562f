#include "command_io.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "file_io.h"
#include "hex.h"
#include "text_check.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr uint8_t kUtf16Mark[] = {0xFF, 0xFE};
constexpr size_t kExcerptChars = 16;

template <size_t N>
size_t MarkLength(const std::vector<uint8_t>& bytes, const uint8_t (&mark)[N]) {
  return bytes.size() >= N && std::equal(mark, mark + N, bytes.begin()) ? N : 0;
}

// Refuses a terminal as the input; sets *status for a failure to come.
bool InputGiven(const Options& options, int* status) {
  *status = kExitTrouble;
  if (options.input == "-" && IsTerminal(StdStream::In)) {
    PrintError("no input: give a FILE, or send the data to standard input");
    return false;
  }
  return true;
}

bool ReadInput(const Options& options, std::vector<uint8_t>* bytes, int* status) {
  if (!InputGiven(options, status)) return false;
  std::string error;
  if (!ReadAll(options.input, bytes, &error)) {
    PrintError(DisplayName(options.input) + ": " + error);
    return false;
  }
  return true;
}

// Where the unit at `unit` starts in the input's bytes.
size_t ByteOffset(const TextInput& text, size_t unit) {
  if (text.utf16) return text.skipped + 2 * unit;
  const uint8_t* data = text.bytes.data() + text.skipped;
  return text.skipped + Utf8BytesForUnits(data, text.bytes.data() + text.bytes.size(), unit);
}

// The binary input of the options, raw or as hex digits, read chunk by
// chunk.
class BinarySource {
 public:
  explicit BinarySource(const Options& options) : options_(options) {}

  // On failure prints why and returns false with the exit status in *status.
  bool Open(int* status) {
    if (!InputGiven(options_, status)) return false;
    std::string error;
    if (input_.Open(options_.input, &error)) return true;
    PrintError(DisplayName(options_.input) + ": " + error);
    return false;
  }

  // The size of the input as read, 0 when not known in advance.
  uint64_t size() const { return input_.size(); }

  // Appends the next bytes to *bytes, *got of them, 0 at the end; shows the
  // progress. On failure clears it, prints why and returns false with the
  // exit status in *status.
  bool Read(std::vector<uint8_t>* bytes, Progress* progress, size_t* got, int* status) {
    std::string error;
    *status = kExitTrouble;
    digits_.clear();
    const size_t before = bytes->size();
    const size_t read = input_.Read(options_.fromHex ? &digits_ : bytes, &error);
    read_ += read;
    progress->Update(read_);
    if (error.empty() && options_.fromHex) error = ParseDigits(bytes, read == 0, status);
    *got = bytes->size() - before;
    if (error.empty()) return true;
    progress->Clear();
    PrintError(DisplayName(options_.input) + ": " + error);
    return false;
  }

 private:
  // The hex digits just read, into bytes; what is wrong with them, if anything.
  std::string ParseDigits(std::vector<uint8_t>* bytes, bool end, int* status) {
    size_t bad;
    if (!hex_.Feed(digits_.data(), digits_.data() + digits_.size(), bytes, &bad)) {
      *status = kExitBadData;
      return "byte " + std::to_string(read_ - digits_.size() + bad) +
             " of the hex input is not a hex digit";
    }
    if (!end || hex_.Paired()) return "";
    *status = kExitBadData;
    return "the hex input has an odd number of digits";
  }

  const Options& options_;
  Input input_;
  HexParser hex_;
  std::vector<uint8_t> digits_;
  uint64_t read_ = 0;  // bytes read from the input
};

}  // namespace

std::string Counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "qkxdr: %s\n", message.c_str());
}

void PrintWarning(const std::string& message) {
  std::fprintf(stderr, "qkxdr: warning: %s\n", message.c_str());
}

bool LoadBinary(const Options& options, std::vector<uint8_t>* bytes, int* status) {
  if (!ReadInput(options, bytes, status)) return false;
  if (!options.fromHex) return true;
  std::vector<uint8_t> decoded;
  size_t bad;
  if (!ParseHex(bytes->data(), bytes->data() + bytes->size(), &decoded, &bad)) {
    const std::string what = bad == bytes->size() ? "the hex input has an odd number of digits"
                                                  : "byte " + std::to_string(bad) +
                                                        " of the hex input is not a hex digit";
    PrintError(DisplayName(options.input) + ": " + what);
    *status = kExitBadData;
    return false;
  }
  bytes->swap(decoded);
  return true;
}

bool WalkBinaryInput(const Options& options, const char* label, const TakeItem& take,
                     uint64_t* size, int* status) {
  BinarySource source(options);
  if (!source.Open(status)) return false;
  Progress progress(label, source.size());
  std::vector<uint8_t> window;  // the bytes from `at` on
  WireWalker::Resume at;
  size_t wanted = 0;  // bytes the window waits for before the next walk
  *size = 0;
  for (bool final = false; !final;) {
    size_t got;
    if (!source.Read(&window, &progress, &got, status)) return false;
    final = got == 0;
    *size += got;
    // An item the last walk stopped before is walked again only once the
    // bytes from its start have doubled: each byte is walked a bounded
    // number of times on average.
    if (!final && window.size() < wanted) continue;
    WireWalker walker(window.data(), window.data() + window.size(), at, final);
    const StreamBytes held{window.data(), at.offset, window.size()};
    WireItem item;
    while (walker.Next(&item)) {
      if (!take(item, held)) return true;
    }
    const size_t start = at.offset;
    at = walker.Stopped();
    window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(at.offset - start));
    wanted = 2 * window.size();
  }
  return true;
}

bool OpenOutput(const Options& options, bool binary, Output* out, int* status) {
  *status = kExitTrouble;
  std::string error;
  if (!out->Open(options.output, &error)) {
    PrintError(error);
    return false;
  }
  if (binary && out->IsTerminal()) {
    PrintError("binary output is not written to a terminal: use -o FILE, or a redirection");
    return false;
  }
  return true;
}

int Finish(Output* out, int status) {
  std::string error;
  if (out->Close(&error)) return status;
  PrintError(error);
  return kExitTrouble;
}

bool LoadText(const Options& options, TextInput* text, int* status) {
  if (!ReadInput(options, &text->bytes, status)) return false;
  text->utf16 = options.utf16;
  text->skipped =
      text->utf16 ? MarkLength(text->bytes, kUtf16Mark) : MarkLength(text->bytes, kUtf8Mark);
  const uint8_t* begin = text->bytes.data() + text->skipped;
  const uint8_t* end = text->bytes.data() + text->bytes.size();
  const size_t replaced = text->utf16 ? Utf16LeToUtf16(begin, end, &text->units)
                                      : Utf8ToUtf16(begin, end, &text->units);
  const std::string name = DisplayName(options.input);
  if (replaced != 0) {
    PrintWarning(name + ": " +
                 (text->utf16
                      ? std::string("an odd last byte")
                      : Counted(replaced, "invalid UTF-8 sequence", "invalid UTF-8 sequences")) +
                 " replaced by U+FFFD");
  }
  if (text->units.size() > kMaxTextUnits) {
    PrintError(name + ": the text is too long for the library's reader (4 Gi units at most)");
    return false;
  }
  return true;
}

std::string DescribePlace(const TextInput& text, size_t unit) {
  const char16_t* const at = text.units.data() + unit;
  const char16_t* line = text.units.data();
  size_t lines = 1;
  for (const char16_t* p = line; p < at; ++p) {
    if (*p == u'\n') {
      ++lines;
      line = p + 1;
    }
  }
  size_t column = 1;
  for (uint32_t cp; line < at; ++column) line = NextCodePoint(line, at, &cp);
  return "line " + std::to_string(lines) + ", column " + std::to_string(column) + " (byte " +
         std::to_string(ByteOffset(text, unit)) + ")";
}

std::string Excerpt(const TextInput& text, size_t unit) {
  const char16_t* p = text.units.data() + unit;
  const char16_t* const end = text.units.data() + text.units.size();
  std::string shown;
  for (size_t n = 0; p < end && *p != u'\n' && *p != u'\r'; ++n) {
    if (n == kExcerptChars) return shown + "...";
    uint32_t cp;
    p = NextCodePoint(p, end, &cp);
    AppendUtf8(cp < 0x20 || IsSurrogate(cp) ? kReplacementChar : cp, &shown);
  }
  return shown;
}

}  // namespace qkxdr::tool
