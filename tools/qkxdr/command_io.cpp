#include "command_io.h"

#include <cstddef>
#include <cstdio>
#include <optional>

#include "dump.h"
#include "file_io.h"
#include "item_writer.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

constexpr size_t kPiece = size_t{1} << 20;  // read at a time, unless the options say

// The binary input of the options, raw or as hex digits, read piece by
// piece.
class BinarySource {
 public:
  explicit BinarySource(const Options& options) : options_(options), reader_(options) {}

  bool Open(const char* label, int* status) { return reader_.Open(label, status); }
  // The next Read reports a problem of the hex input.
  bool stopping() const { return !pending_.empty(); }

  // Appends the next bytes to *bytes, and sets *ended at the end of the
  // input. A piece of hex input may give no byte before its end. A
  // character that is no hex digit, and an odd number of digits, are
  // reported only once the bytes before them are walked, so that a fault
  // among them comes first, however the input is cut.
  bool Read(std::vector<uint8_t>* bytes, bool* ended, int* status) {
    *ended = false;
    if (stopping()) return reader_.Fail(pending_, kExitBadData, status);
    if (!options_.fromHex) return reader_.Read(bytes, ended, status);
    digits_.clear();
    if (!reader_.Read(&digits_, ended, status)) return false;
    ParseDigits(bytes, *ended);
    *ended = *ended && !stopping();
    return true;
  }

 private:
  // Appends the bytes of the digits just read to *bytes: digits in either
  // case, two a byte, with whitespace anywhere; a pair may be split between
  // two pieces. What is wrong with them, once they end, becomes pending.
  void ParseDigits(std::vector<uint8_t>* bytes, bool end) {
    for (size_t i = 0; i < digits_.size(); ++i) {
      const uint8_t c = digits_[i];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
      const int lower = c | 0x20;
      if (!((c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'f'))) {
        pending_ = "byte " + std::to_string(reader_.read() - digits_.size() + i) +
                   " of the hex input is not a hex digit";
        return;
      }
      const int digit = impl::HexDigitTable[c];
      if (high_ >= 0) bytes->push_back(static_cast<uint8_t>(high_ << 4 | digit));
      high_ = high_ >= 0 ? -1 : digit;
    }
    if (end && high_ >= 0) pending_ = "the hex input has an odd number of digits";
  }

  const Options& options_;
  InputReader reader_;
  std::vector<uint8_t> digits_;
  int high_ = -1;        // the first digit of a pair, while its second is awaited
  std::string pending_;  // a problem of the hex input, to report next
};

bool FailAtByte(const Options& options, uint64_t offset, const std::string& what, int* status) {
  PrintError(options, "byte " + std::to_string(offset) + ": " + what);
  *status = kExitBadData;
  return false;
}

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

void PrintError(const Options& options, const std::string& message) {
  PrintError(DisplayName(options.input) + ": " + message);
}

void PrintWarning(const Options& options, const std::string& message) {
  PrintWarning(DisplayName(options.input) + ": " + message);
}

InputReader::~InputReader() {
  if (owned_) std::fclose(file_);
}

bool InputReader::Open(const char* label, int* status) {
  *status = kExitTrouble;
  if (options_.input == "-" && IsTerminal(StdStream::In)) {
    PrintError("no input: give a FILE, or send the data to standard input");
    return false;
  }
  file_ = OpenFile(options_.input, "rb", stdin, &owned_);
  if (file_ == nullptr) {
    PrintError(options_, "cannot open: " + SystemReason());
    return false;
  }
  progress_.emplace(label, owned_ ? RegularFileSize(options_.input) : 0);
  return true;
}

bool InputReader::Read(std::vector<uint8_t>* bytes, bool* ended, int* status) {
  const size_t used = bytes->size();
  const size_t piece = options_.piece != 0 ? options_.piece : kPiece;
  bytes->resize(used + piece);
  const size_t got = std::fread(bytes->data() + used, 1, piece, file_);
  bytes->resize(used + got);
  if (got == 0 && std::ferror(file_)) {
    return Fail("cannot read: " + SystemReason(), kExitTrouble, status);
  }
  read_ += got;
  progress_->Update(read_);
  *ended = got == 0;
  return true;
}

bool InputReader::Fail(const std::string& message, int exit, int* status) {
  if (progress_) progress_->Clear();  // none before Open
  PrintError(options_, message);
  *status = exit;
  return false;
}

void InputReader::Warn(const std::string& message) {
  if (progress_) progress_->Clear();  // none before Open
  PrintWarning(options_, message);
}

bool WalkBinaryInput(const Options& options, const char* label, const TakeItem& take,
                     uint64_t* size, int* status) {
  BinarySource source(options);
  if (!source.Open(label, status)) return false;
  std::vector<uint8_t> window;  // the bytes from `at` on
  impl::WalkResume at;
  size_t wanted = 0;  // bytes the window waits for before the next walk
  for (bool final = false; !final;) {
    if (!source.Read(&window, &final, status)) return false;
    *size = at.offset + window.size();
    // An item the last walk stopped before is walked again only once the
    // bytes from its start have doubled: each byte is walked a bounded
    // number of times on average. Before a problem of the hex input is
    // reported, every byte before it is walked.
    if (!final && !source.stopping() && window.size() < wanted) continue;
    impl::ItemWalk walk(window.data(), window.data() + window.size(), at, final);
    const StreamBytes held{window.data(), at.offset, window.size()};
    WalkItem item;
    while (walk.Next(&item)) {
      if (!take(item, held)) return true;
    }
    const size_t start = at.offset;
    at = walk.Stopped();
    window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(at.offset - start));
    wanted = 2 * window.size();
  }
  return true;
}

bool WalkWellFormed(const Options& options, const char* label, const TakeItem& take, uint64_t* size,
                    int* status) {
  WalkItem fault;
  const auto guard = [&fault, &take](const WalkItem& item, const StreamBytes& bytes) {
    if (item.fault == WalkFault::None) return take(item, bytes);
    fault = item;
    return false;
  };
  if (!WalkBinaryInput(options, label, guard, size, status)) return false;
  if (fault.fault == WalkFault::None) return true;
  return FailAtByte(options, fault.offset, DescribeFault(fault), status);
}

bool CheckBinaryInput(const Options& options, uint64_t* values, uint64_t* size, int* status) {
  *values = 0;
  std::u16string units;
  std::optional<size_t> zero_unit;  // the first byte of the first string holding U+0000
  const auto count = [&](const WalkItem& item, const StreamBytes& bytes) {
    ++*values;
    if (!zero_unit && IsZeroUnitString(item, bytes, &units)) zero_unit = item.offset;
    return true;
  };
  if (!WalkWellFormed(options, "checking", count, size, status)) return false;
  if (!zero_unit) return true;
  return FailAtByte(options, *zero_unit, std::string(impl::kZeroUnitDetail), status);
}

bool CheckBeforeWriting(const Options& options, int* status) {
  uint64_t values;
  uint64_t size;
  return options.input == "-" || CheckBinaryInput(options, &values, &size, status);
}

int RefuseZeroUnit(const Options& options, uint64_t index, const char* target) {
  PrintError(options, "value " + std::to_string(index + 1) + ": " +
                          std::string(impl::kZeroUnitDetail) +
                          (target != nullptr ? std::string(" cannot be written ") + target : ""));
  return kExitBadData;
}

bool OpenOutput(const Options& options, bool binary, Output* out, int* status) {
  *status = kExitTrouble;
  if (options.output != "-" && IsInputFile(options.input, options.output)) {
    PrintError(options.output + ": the output file is the input file: nothing was written");
    return false;
  }
  std::string error;
  if (!out->Open(options.output, &error)) {
    PrintError(error);
    return false;
  }
  if (binary && options.output == "-" && IsTerminal(StdStream::Out)) {
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

bool TextOutput::Pass(const char16_t* data, size_t n) {
  encoded_.clear();
  if (utf16_) {
    Utf16ToUtf16Le(data, data + n, &encoded_);
  } else {
    replaced_ += Utf16ToUtf8(data, data + n, &encoded_);
  }
  out_->Write(encoded_);
  wrote_ = wrote_ || n != 0;
  return true;
}

void TextOutput::Finish() {
  if (!utf16_ && wrote_) out_->Write("\n");
  if (replaced_ != 0) {
    PrintWarning(Counted(replaced_, "unpaired surrogate", "unpaired surrogates") +
                 " replaced by U+FFFD in the UTF-8 output (--utf16 keeps them)");
  }
}

}  // namespace qkxdr::tool
