// decode: a binary input to the text form or to JSON, item by item as it is
// read, in memory bounded by the largest value.

#include <cstdint>
#include <cstring>
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

// Whether a double reads back from its text as the same bits: all but NaNs
// with payloads of their own. *text is room to write it in.
bool DoubleSurvivesText(double v, std::u16string* text) {
  impl::TextEncoderInto<TextBuffer> encoder(text);
  encoder.WriteDoubleExact(v);
  const auto* units = static_cast<const char16_t*>(encoder.data());
  impl::TextDecoder decoder(units, units + encoder.buffer().size());
  double back = 0;
  return decoder.ReadDoubleExact(&back) && std::memcmp(&v, &back, sizeof v) == 0;
}

// The items of a well-formed stream written as text: in UTF-8 with a line
// end after the last, or in UTF-16LE as the writer gives it.
class TextDecoding {
 public:
  static constexpr const char* kTarget = "as text";

  TextDecoding(const Options& options, Output* out)
      : text_(options.utf16, out),
        writer_([this](const char16_t* data, size_t n) { return text_.Pass(data, n); }) {}

  // Writes item number `index`, a string as `units`.
  bool Write(const WalkItem& item, const StreamBytes& bytes, const std::u16string& units,
             uint64_t index) {
    if (!SurvivesText(item, units) && differences_++ == 0) first_ = index;
    WriteItem(item, bytes, units, &writer_);
    return true;
  }

  // Passes on the rest, then warns of the values that do not survive the
  // text form and of replaced surrogates.
  void Finish(uint64_t values) {
    static_cast<void>(writer_.flush());  // the sink reports its own failures
    if (differences_ != 0) {
      PrintWarning(std::to_string(differences_) + " of " + std::to_string(values) +
                   " values read back from the text differently, the first is value " +
                   std::to_string(first_ + 1) +
                   " (a NaN keeps no payload in the text, and a string that starts with "
                   "\"0x\" reads back as a blob)");
    }
    text_.Finish();
  }

 private:
  // A NaN may lose its payload; a string that starts with "0x" reads back
  // as a blob.
  bool SurvivesText(const WalkItem& item, const std::u16string& units) {
    if (item.type == WireType::Double) return DoubleSurvivesText(ItemDouble(item), &double_text_);
    return item.type != WireType::String || !impl::HasHexPrefix(units);
  }

  TextOutput text_;
  TextStreamWriter writer_;
  std::u16string double_text_;
  uint64_t differences_ = 0;
  uint64_t first_ = 0;  // 0-based index of the first value that differs
};

// The items of a well-formed stream written as JSON: the brackets and
// commas here, each number, string and blob as the converter writes it
// alone.
class JsonDecoding {
 public:
  static constexpr const char* kTarget = "as JSON";

  JsonDecoding(const Options& options, Output* out)
      : options_(options), out_(out), writer_([this](const uint8_t* data, size_t n) {
          scalar_.insert(scalar_.end(), data, data + n);
          return true;
        }) {}

  // Writes item number `index`; false when JSON cannot hold it (printed).
  bool Write(const WalkItem& item, const StreamBytes& bytes, const std::u16string& units,
             uint64_t index) {
    text_.assign(index == 0 && options_.array ? "[" : "");
    if (comma_ && item.type != WireType::ArrayEnd) text_ += ',';
    if (!AppendItem(item, bytes, units, index)) return false;
    comma_ = item.type != WireType::ArrayBegin;
    if (item.depth == 0 && comma_ && !options_.array) {
      text_ += '\n';  // a line of its own
      comma_ = false;
    }
    out_->Write(text_);
    return true;
  }

  void Finish(uint64_t values) {
    if (options_.array) out_->Write(values == 0 ? "[]\n" : "]\n");
  }

 private:
  bool AppendItem(const WalkItem& item, const StreamBytes& bytes, const std::u16string& units,
                  uint64_t index) {
    switch (item.type) {
      case WireType::ArrayBegin:
        text_ += '[';
        return true;
      case WireType::ArrayEnd:
        text_ += ']';
        return true;
      case WireType::Int:
        text_ += std::to_string(impl::UnZigZag64(item.number));
        return true;
      default:
        scalar_.clear();
        WriteItem(item, bytes, units, &writer_);
        static_cast<void>(writer_.flush());  // the sink reports its own failures
        return AppendJsonScalar(options_, scalar_, index, &text_);
    }
  }

  const Options& options_;
  Output* out_;
  std::vector<uint8_t> scalar_;  // the value at hand, encoded alone
  BinaryStreamWriter writer_;    // after its sink: it flushes when destroyed
  std::string text_;
  bool comma_ = false;  // a value came before, in the same array
};

// Checks a named input first, then writes every item of the input with a
// Decoding, until a string holding U+0000, which neither output holds, or a
// value the output cannot hold; returns the exit status.
template <typename Decoding>
int Decode(const Options& options) {
  Output out;
  Decoding decoding(options, &out);
  std::u16string units;  // of the string at hand
  uint64_t values = 0;
  bool refused = false;  // from here on the input is only checked
  bool failed = false;
  const auto take = [&](const WalkItem& item, const StreamBytes& bytes) {
    refused = refused || IsZeroUnitString(item, bytes, &units);
    if (refused) return true;
    failed = !decoding.Write(item, bytes, units, values);
    values += failed ? 0 : 1;
    return !failed;
  };
  int status;
  uint64_t size;
  if (!CheckBeforeWriting(options, &status) || !OpenOutput(options, false, &out, &status) ||
      !WalkWellFormed(options, "decoding", take, &size, &status)) {
    return status;
  }
  if (failed) return kExitBadData;
  if (refused) return RefuseZeroUnit(options, values, Decoding::kTarget);
  decoding.Finish(values);
  return Finish(&out, kExitOk);
}

}  // namespace

int RunDecode(const Options& options) {
  if (options.json && options.text) return DecodeTextToJson(options);
  if (!options.json) return Decode<TextDecoding>(options);
  return HasJson() ? Decode<JsonDecoding>(options) : kExitTrouble;
}

}  // namespace qkxdr::tool
