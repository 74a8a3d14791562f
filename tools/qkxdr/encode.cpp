// encode: the text form to the binary encoding; decode --json --text: the
// text form to JSON. Both read the text with TextWalk, as it comes.

#include "command.h"

#include <cstdint>
#include <optional>
#include <string>

#include "QkXDR.h"
#include "command_io.h"
#include "file_io.h"
#include "qkxdr/stream.hpp"
#include "text_walk.h"

namespace qkxdr::tool {
namespace {

// Whether a writer takes the item: none after the first string holding
// U+0000, whose index *refused notes.
bool Takes(const TextItem& item, std::optional<uint64_t>* refused) {
  if (!*refused && IsZeroUnitString(item)) *refused = item.index;
  return !*refused;
}

// Reads a text and writes its values with the binary writer to `out`, or
// only checks them without `out`.
class Encoding {
 public:
  Encoding(const Options& options, Output* out)
      : options_(options),
        out_(out),
        walk_(options),
        findings_(options, options.strict, options.lenient),
        writer_([out](const uint8_t* data, size_t n) {
          if (out != nullptr) out->Write(data, n);
          return true;
        }) {}

  // Returns the exit status.
  int Run() {
    int status;
    const auto take = [this](const TextItem& item) { return Take(item); };
    if (!walk_.Run(take, out_ != nullptr, &status)) return status;
    const bool lost = findings_.Close(walk_) != 0 && !options_.lenient;
    // A check before writing leaves the warnings to the writing.
    if (out_ != nullptr || lost || refused_) findings_.Print();
    if (lost) return kExitBadData;
    if (refused_) return RefuseZeroUnit(options_, *refused_, "by the binary writer");
    static_cast<void>(writer_.flush());  // the sink reports its own failures
    return kExitOk;
  }

 private:
  // After a finding that is an error, or a string that cannot be written,
  // only checks.
  bool Take(const TextItem& item) {
    if ((findings_.Check(walk_, item) != 0 && !options_.lenient) || !Takes(item, &refused_)) {
      return true;
    }
    WriteTextItem(item, &writer_);
    return true;
  }

  const Options& options_;
  Output* out_;
  TextWalk walk_;
  FindingPrinter findings_;
  BinaryStreamWriter writer_;
  std::optional<uint64_t> refused_;  // stopped at a string holding U+0000: its index
};

// Writes the values of a text as JSON, each top-level value converted
// alone once it is complete.
class TextToJson {
 public:
  TextToJson(const Options& options, Output* out)
      : options_(options), out_(out), writer_([this](const uint8_t* data, size_t n) {
          value_.insert(value_.end(), data, data + n);
          return true;
        }) {}

  // Returns the exit status.
  int Run() {
    TextWalk walk(options_);
    int status;
    const auto take = [this](const TextItem& item) { return Take(item); };
    if (!walk.Run(take, true, &status)) return status;
    if (refused_) return RefuseZeroUnit(options_, *refused_, "as JSON");
    if (failed_) return kExitBadData;
    if (options_.array && out_ != nullptr) out_->Write(values_ == 0 ? "[]\n" : "]\n");
    return kExitOk;
  }

 private:
  // After a value JSON cannot hold, only checks.
  bool Take(const TextItem& item) {
    if (failed_ || !Takes(item, &refused_)) return true;
    WriteTextItem(item, &writer_);
    if (item.depth == 0 && item.type != QkXDRType2::ArrayBegin) Convert(item.index);
    return true;
  }

  // The top-level value that ends with item number `last`.
  void Convert(uint64_t last) {
    static_cast<void>(writer_.flush());  // the sink reports its own failures
    line_.assign(!options_.array ? "" : values_ == 0 ? "[" : ",");
    failed_ = !AppendJsonScalar(options_, value_, last, &line_);
    value_.clear();
    ++values_;
    if (failed_ || out_ == nullptr) return;
    if (!options_.array) line_ += '\n';
    out_->Write(line_);
  }

  const Options& options_;
  Output* out_;
  std::vector<uint8_t> value_;  // the top-level value at hand, encoded
  BinaryStreamWriter writer_;   // after its sink: it flushes when destroyed
  std::string line_;
  uint64_t values_ = 0;  // top-level values
  std::optional<uint64_t> refused_;
  bool failed_ = false;
};

}  // namespace

int DecodeTextToJson(const Options& options) {
  if (!HasJson()) return kExitTrouble;
  return CheckThenWrite(options, false,
                        [&options](Output* out) { return TextToJson(options, out).Run(); });
}

int EncodeText(const Options& options) {
  // The writer passes on what it still holds before the output is closed.
  return CheckThenWrite(options, true,
                        [&options](Output* out) { return Encoding(options, out).Run(); });
}

}  // namespace qkxdr::tool
