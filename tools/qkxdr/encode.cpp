// encode: the text form to the binary encoding; decode --json --text: the
// text form to JSON. Both read the text with TextWalk, as it comes.

#include "command.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
// only checks them without `out`; returns the exit status.
int Encode(const Options& options, Output* out) {
  TextWalk walk(options);
  FindingPrinter findings(options, options.strict, options.lenient);
  BinaryStreamWriter writer([out](const uint8_t* data, size_t n) {
    if (out != nullptr) out->Write(data, n);
    return true;
  });
  std::optional<uint64_t> refused;
  // After a finding that is an error, or a string that cannot be written,
  // only checks.
  const auto take = [&](const TextItem& item) {
    const bool error = findings.Check(walk, item) != 0 && !options.lenient;
    if (!error && Takes(item, &refused)) WriteTextItem(item, &writer);
    return true;
  };
  int status;
  if (!walk.Run(take, out != nullptr, &status)) return status;
  const bool lost = findings.Close(walk) != 0 && !options.lenient;
  // A check before writing leaves the warnings to the writing.
  if (out != nullptr || lost || refused) findings.Print();
  if (lost) return kExitBadData;
  if (refused) return RefuseZeroUnit(options, *refused, "by the binary writer");
  static_cast<void>(writer.flush());  // the sink reports its own failures
  return kExitOk;
}

// Writes the values of a text as JSON, each top-level value converted
// alone once it is complete; returns the exit status.
int TextToJson(const Options& options, Output* out) {
  std::vector<uint8_t> value;  // the top-level value at hand, encoded
  BinaryStreamWriter writer([&value](const uint8_t* data, size_t n) {
    value.insert(value.end(), data, data + n);
    return true;
  });
  uint64_t values = 0;  // top-level values
  std::optional<uint64_t> refused;
  bool failed = false;  // from a value JSON cannot hold on, only checks
  std::string line;
  const auto take = [&](const TextItem& item) {
    if (failed || !Takes(item, &refused)) return true;
    WriteTextItem(item, &writer);
    if (item.depth != 0 || item.type == QkXDRType2::ArrayBegin) return true;
    static_cast<void>(writer.flush());  // the sink reports its own failures
    line.assign(!options.array ? "" : values == 0 ? "[" : ",");
    failed = !AppendJsonScalar(options, value, item.index, &line);
    value.clear();
    ++values;
    if (failed || out == nullptr) return true;
    if (!options.array) line += '\n';
    out->Write(line);
    return true;
  };
  TextWalk walk(options);
  int status;
  if (!walk.Run(take, true, &status)) return status;
  if (refused) return RefuseZeroUnit(options, *refused, "as JSON");
  if (failed) return kExitBadData;
  if (options.array && out != nullptr) out->Write(values == 0 ? "[]\n" : "]\n");
  return kExitOk;
}

}  // namespace

int DecodeTextToJson(const Options& options) {
  if (!HasJson()) return kExitTrouble;
  return CheckThenWrite(options, false,
                        [&options](Output* out) { return TextToJson(options, out); });
}

int EncodeText(const Options& options) {
  // The writer passes on what it still holds before the output is closed.
  return CheckThenWrite(options, true, [&options](Output* out) { return Encode(options, out); });
}

}  // namespace qkxdr::tool
