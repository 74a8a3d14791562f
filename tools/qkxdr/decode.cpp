// decode: a binary input to the text form or to JSON, item by item as it is
// read, in memory bounded by the largest value.

#include <cstdint>
#include <string>
#include <vector>

#include "command.h"
#include "command_io.h"
#include "file_io.h"
#include "item_writer.h"
#include "qkxdr/detail/text/reader_values.h"
#include "qkxdr/stream.hpp"

namespace qkxdr::tool {
namespace {

using TextBuffer = impl::VectorBuffer<std::u16string, impl::kMaxTextUnits>;

// Whether the item, a string as `units`, reads back from the text form as it
// is (see the warning of DecodeText); *text is room to write a double in.
bool SurvivesText(const WalkItem& item, const std::u16string& units, std::u16string* text) {
  if (item.type == WireType::String) return !impl::HasHexPrefix(units);
  if (item.type != WireType::Double) return true;
  const double v = ItemDouble(item);
  impl::TextEncoderInto<TextBuffer> encoder(text);
  encoder.WriteDoubleExact(v);
  const auto* written = static_cast<const char16_t*>(encoder.data());
  impl::TextDecoder decoder(written, written + encoder.buffer().size());
  double back = 0;
  return decoder.ReadDoubleExact(&back) && SameBits(v, back);
}

// Checks a named input first, then opens `out` and hands every item of the
// input to write(item, bytes, units, index), a string as its units, until a
// string holding U+0000, which neither output holds, or an item write()
// refuses (having printed why). Returns true with the values written in
// *values, or false with the exit status in *status.
template <typename Write>
bool Decode(const Options& options, const char* target, const Write& write, Output* out,
            uint64_t* values, int* status) {
  std::u16string units;  // of the string at hand
  bool refused = false;  // from here on the input is only checked
  bool failed = false;
  *values = 0;
  const auto take = [&](const WalkItem& item, const StreamBytes& bytes) {
    refused = refused || IsZeroUnitString(item, bytes, &units);
    if (refused) return true;
    failed = !write(item, bytes, units, *values);
    *values += failed ? 0 : 1;
    return !failed;
  };
  uint64_t size;
  if (!CheckBeforeWriting(options, status) || !OpenOutput(options, false, out, status) ||
      !WalkWellFormed(options, "decoding", take, &size, status)) {
    return false;
  }
  if (failed) *status = kExitBadData;
  if (refused) *status = RefuseZeroUnit(options, *values, target);
  return !failed && !refused;
}

// A well-formed binary input written as text: in UTF-8 with a line end after
// the last value, or in UTF-16LE as the writer gives it.
int DecodeText(const Options& options) {
  Output out;
  TextOutput text(options.utf16, &out);
  TextStreamWriter writer([&text](const char16_t* data, size_t n) { return text.Pass(data, n); });
  std::u16string double_text;
  uint64_t differences = 0;
  uint64_t first = 0;  // 0-based index of the first value that differs
  const auto write = [&](const WalkItem& item, const StreamBytes& bytes,
                         const std::u16string& units, uint64_t index) {
    if (!SurvivesText(item, units, &double_text) && differences++ == 0) first = index;
    WriteItem(item, bytes, units, &writer);
    return true;
  };
  uint64_t values;
  int status;
  if (!Decode(options, "as text", write, &out, &values, &status)) return status;
  static_cast<void>(writer.flush());  // the sink reports its own failures
  if (differences != 0) {
    PrintWarning(std::to_string(differences) + " of " + std::to_string(values) +
                 " values read back from the text differently, the first is value " +
                 std::to_string(first + 1) +
                 " (a NaN keeps no payload in the text, and a string that starts with "
                 "\"0x\" reads back as a blob)");
  }
  text.Finish();
  return Finish(&out, kExitOk);
}

// Appends the complete item number `index`, a string as `units`, as JSON to
// *json: an array's bracket and an integer here, any other value as the
// converter writes it alone, encoded by `writer` into *scalar. False when
// JSON cannot hold it (printed).
bool AppendJsonItem(const Options& options, const WalkItem& item, const StreamBytes& bytes,
                    const std::u16string& units, uint64_t index, std::vector<uint8_t>* scalar,
                    BinaryStreamWriter* writer, std::string* json) {
  switch (item.type) {
    case WireType::ArrayBegin:
      *json += '[';
      return true;
    case WireType::ArrayEnd:
      *json += ']';
      return true;
    case WireType::Int:
      *json += std::to_string(impl::UnZigZag64(item.number));
      return true;
    default:
      scalar->clear();
      WriteItem(item, bytes, units, writer);
      static_cast<void>(writer->flush());  // the sink reports its own failures
      return AppendJsonScalar(options, *scalar, index, json);
  }
}

// A well-formed binary input written as JSON, the commas between values here.
int DecodeJson(const Options& options) {
  Output out;
  std::vector<uint8_t> scalar;  // the value at hand, encoded alone
  BinaryStreamWriter writer([&scalar](const uint8_t* data, size_t n) {
    scalar.insert(scalar.end(), data, data + n);
    return true;
  });
  std::string json;
  bool comma = false;  // a value came before, in the same array
  const auto write = [&](const WalkItem& item, const StreamBytes& bytes,
                         const std::u16string& units, uint64_t index) {
    json.assign(index == 0 && options.array ? "[" : "");
    if (comma && item.type != WireType::ArrayEnd) json += ',';
    if (!AppendJsonItem(options, item, bytes, units, index, &scalar, &writer, &json)) return false;
    comma = item.type != WireType::ArrayBegin;
    if (item.depth == 0 && comma && !options.array) {
      json += '\n';  // a line of its own
      comma = false;
    }
    out.Write(json);
    return true;
  };
  uint64_t values;
  int status;
  if (!Decode(options, "as JSON", write, &out, &values, &status)) return status;
  if (options.array) out.Write(values == 0 ? "[]\n" : "]\n");
  return Finish(&out, kExitOk);
}

}  // namespace

int RunDecode(const Options& options) {
  if (options.json && options.text) return DecodeTextToJson(options);
  if (!options.json) return DecodeText(options);
  return HasJson() ? DecodeJson(options) : kExitTrouble;
}

}  // namespace qkxdr::tool
