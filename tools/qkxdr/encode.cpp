#include "encode.h"

#include <cstdint>
#include <string>

#include "QkXDR.h"
#include "command_io.h"
#include "file_io.h"
#include "qkxdr/stream.hpp"
#include "text_walk.h"
#include "values.h"

namespace qkxdr::tool {
namespace {

// Reads the pieces of a text and writes their values with the binary
// writer to `out`, or only checks them without `out`.
class Encoding {
 public:
  Encoding(const Options& options, Output* out)
      : options_(options),
        out_(out),
        findings_(options, true, options.lenient),
        writer_([out](const uint8_t* data, size_t n) {
          if (out != nullptr) out->Write(data, n);
          return true;
        }) {}

  // Returns the exit status.
  int Run() {
    const auto take = [this](const TextInput& piece, const std::u16string& prefixed,
                             uint64_t values,
                             bool last) { return Take(piece, prefixed, values, last); };
    uint64_t values;
    uint64_t size;
    int status;
    if (!WalkText(options_, take, out_ != nullptr, &values, &size, &status)) return status;
    const bool lost = findings_.count() != 0 && !options_.lenient;
    // A check before writing leaves the warnings to the writing.
    if (out_ != nullptr || lost || refused_) findings_.Finish();
    if (lost) return kExitBadData;
    if (refused_) return RefuseZeroUnit(options_, zeroUnit_, "by the binary writer");
    static_cast<void>(writer_.flush());  // the sink reports its own failures
    return kExitOk;
  }

 private:
  // After a value that does not read back as written, or a string that
  // cannot be written, only checks.
  bool Take(const TextInput& piece, const std::u16string& prefixed, uint64_t values, bool last) {
    if ((findings_.Print(piece, last) != 0 && !options_.lenient) || refused_) return true;
    StreamCalls calls(&writer_);
    const CopyResult copy = CopyPiece(piece, prefixed, &calls);
    refused_ = copy.zeroUnit;
    zeroUnit_ = values + copy.values;
    return true;
  }

  const Options& options_;
  Output* out_;
  FindingPrinter findings_;
  BinaryStreamWriter writer_;
  bool refused_ = false;   // stopped at a string holding U+0000
  uint64_t zeroUnit_ = 0;  // its index
};

}  // namespace

int EncodeText(const Options& options) {
  if (options.input != "-") {
    const int status = Encoding(options, nullptr).Run();
    if (status != kExitOk) return status;
  }
  Output out;
  int status;
  if (!OpenOutput(options, true, &out, &status)) return status;
  // The writer passes on what it still holds before Finish closes `out`.
  const int status_of_run = Encoding(options, &out).Run();
  return Finish(&out, status_of_run);
}

}  // namespace qkxdr::tool
