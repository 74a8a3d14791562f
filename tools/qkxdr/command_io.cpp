#include "command_io.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "dump.h"
#include "file_io.h"
#include "item_writer.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

// Turns hexadecimal text into bytes, as it comes in pieces: digits in either
// case, two a byte, with whitespace anywhere; a pair may be split between
// two pieces.
class HexParser {
 public:
  // Appends the bytes of the digits in [p, e) to *out; false at a character
  // that is neither a digit nor whitespace, with its offset from p in *bad.
  bool Feed(const uint8_t* p, const uint8_t* e, std::vector<uint8_t>* out, size_t* bad) {
    for (const uint8_t* at = p; at < e; ++at) {
      if (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r') continue;
      const int lower = *at | 0x20;
      if (!((*at >= '0' && *at <= '9') || (lower >= 'a' && lower <= 'f'))) {
        *bad = static_cast<size_t>(at - p);
        return false;
      }
      const int digit = impl::HexDigitTable[*at];
      if (high_ >= 0) out->push_back(static_cast<uint8_t>(high_ << 4 | digit));
      high_ = high_ >= 0 ? -1 : digit;
    }
    return true;
  }
  // Whether the digits so far make whole pairs.
  bool Paired() const { return high_ < 0; }

 private:
  int high_ = -1;  // the first digit of a pair, while its second is awaited
};

// The binary input of the options, raw or as hex digits, read chunk by
// chunk.
class BinarySource {
 public:
  explicit BinarySource(const Options& options) : options_(options) {}

  // On failure prints why and returns false with the exit status in *status.
  bool Open(int* status) { return OpenInput(options_, &input_, status); }

  // The size of the input as read, 0 when not known in advance.
  uint64_t size() const { return input_.size(); }
  // The next Read reports a problem of the hex input.
  bool stopping() const { return !pending_.empty(); }

  // Appends the next bytes to *bytes, *got of them, and sets *ended at the
  // end of the input; shows the progress. A piece of hex input may give no
  // byte before its end. A character that is no hex digit, and an odd
  // number of digits, are reported only once the bytes before them are
  // walked, so that a fault among them comes first, however the input is
  // cut. On failure clears the progress, prints why and returns false with
  // the exit status in *status.
  bool Read(std::vector<uint8_t>* bytes, Progress* progress, size_t* got, bool* ended,
            int* status) {
    std::string error = pending_;
    *status = error.empty() ? kExitTrouble : kExitBadData;
    *ended = false;
    const size_t before = bytes->size();
    if (error.empty()) {
      digits_.clear();
      const size_t read = input_.Read(options_.fromHex ? &digits_ : bytes, &error);
      read_ += read;
      progress->Update(read_);
      if (error.empty() && options_.fromHex) ParseDigits(bytes, read == 0);
      *ended = read == 0 && !stopping();
    }
    *got = bytes->size() - before;
    if (error.empty()) return true;
    progress->Clear();
    PrintError(DisplayName(options_.input) + ": " + error);
    return false;
  }

 private:
  // The hex digits just read, into bytes; what is wrong with them, once
  // they end, becomes pending.
  void ParseDigits(std::vector<uint8_t>* bytes, bool end) {
    size_t bad;
    if (!hex_.Feed(digits_.data(), digits_.data() + digits_.size(), bytes, &bad)) {
      pending_ = "byte " + std::to_string(read_ - digits_.size() + bad) +
                 " of the hex input is not a hex digit";
    } else if (end && !hex_.Paired()) {
      pending_ = "the hex input has an odd number of digits";
    }
  }

  const Options& options_;
  Input input_;
  HexParser hex_;
  std::vector<uint8_t> digits_;
  uint64_t read_ = 0;    // bytes read from the input
  std::string pending_;  // a character that is no hex digit, to report next
};

}  // namespace

bool OpenInput(const Options& options, Input* input, int* status) {
  *status = kExitTrouble;
  if (options.input == "-" && IsTerminal(StdStream::In)) {
    PrintError("no input: give a FILE, or send the data to standard input");
    return false;
  }
  std::string error;
  if (!input->Open(options.input, &error)) {
    PrintError(DisplayName(options.input) + ": " + error);
    return false;
  }
  input->set_piece(options.piece);
  return true;
}

std::string Counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "qkxdr: %s\n", message.c_str());
}

void PrintWarning(const std::string& message) {
  std::fprintf(stderr, "qkxdr: warning: %s\n", message.c_str());
}

bool WalkBinaryInput(const Options& options, const char* label, const TakeItem& take,
                     uint64_t* size, int* status) {
  BinarySource source(options);
  if (!source.Open(status)) return false;
  Progress progress(label, source.size());
  std::vector<uint8_t> window;  // the bytes from `at` on
  impl::WalkResume at;
  size_t wanted = 0;  // bytes the window waits for before the next walk
  *size = 0;
  for (bool final = false; !final;) {
    size_t got;
    if (!source.Read(&window, &progress, &got, &final, status)) return false;
    *size += got;
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
  PrintError(DisplayName(options.input) + ": byte " + std::to_string(fault.offset) + ": " +
             DescribeFault(fault));
  *status = kExitBadData;
  return false;
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
  PrintError(DisplayName(options.input) + ": byte " + std::to_string(*zero_unit) + ": " +
             std::string(impl::kZeroUnitDetail));
  *status = kExitBadData;
  return false;
}

bool CheckBeforeWriting(const Options& options, int* status) {
  uint64_t values;
  uint64_t size;
  return options.input == "-" || CheckBinaryInput(options, &values, &size, status);
}

int RefuseZeroUnit(const Options& options, uint64_t index, const char* target) {
  PrintError(DisplayName(options.input) + ": value " + std::to_string(index + 1) + ": " +
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
