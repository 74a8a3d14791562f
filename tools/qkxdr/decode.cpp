#include "decode.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "command_io.h"
#include "file_io.h"
#include "item_writer.h"
#include "json_values.h"
#include "qkxdr/stream.hpp"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

using TextBuffer = impl::VectorBuffer<std::u16string, impl::kMaxTextUnits>;

// Whether a double reads back from its text as the same bits: all but NaNs
// with payloads of their own.
class DoubleReadBack {
 public:
  bool Survives(double v) {
    impl::TextEncoderInto<TextBuffer> encoder(&text_);
    encoder.WriteDoubleExact(v);
    const auto* text = static_cast<const char16_t*>(encoder.data());
    impl::TextDecoder decoder(text, text + encoder.buffer().size());
    double back = 0;
    if (!decoder.ReadDoubleExact(&back)) return false;
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, &v, sizeof a);
    std::memcpy(&b, &back, sizeof b);
    return a == b;  // bit for bit
  }

 private:
  std::u16string text_;
};

// Writes the items of a well-formed stream as text to `out`: in UTF-8 with
// a line end after the last, or in UTF-16LE as the writer gives it.
class TextDecoding {
 public:
  TextDecoding(const Options& options, Output* out)
      : text_(options.utf16, out),
        writer_([this](const char16_t* data, size_t n) { return text_.Pass(data, n); }) {}

  // Writes the item. From a string holding U+0000 on, which text cannot
  // hold, only lets the input be checked.
  bool Take(const WalkItem& item, const StreamBytes& bytes) {
    refused_ = refused_ || IsZeroUnitString(item, bytes, &units_);
    if (refused_) return true;
    if (!SurvivesText(item)) {
      if (differences_++ == 0) first_ = values_;
    }
    StreamCalls calls(&writer_);
    WriteItem(item, bytes, units_, &calls);
    ++values_;
    return true;
  }

  uint64_t values() const { return values_; }
  // Stopped at a string holding U+0000, value number values() + 1.
  bool refused() const { return refused_; }

  // Passes on the rest, then warns of the values that do not survive the
  // text form and of replaced surrogates.
  void Finish() {
    static_cast<void>(writer_.flush());  // the sink reports its own failures
    if (differences_ != 0) {
      PrintWarning(std::to_string(differences_) + " of " + std::to_string(values_) +
                   " values read back from the text differently, the first is value " +
                   std::to_string(first_ + 1) +
                   " (a NaN keeps no payload in the text, and a string that starts with "
                   "\"0x\" reads back as a blob)");
    }
    text_.Finish();
  }

 private:
  // A double may lose digits; a string that starts with "0x" reads back as
  // a blob.
  bool SurvivesText(const WalkItem& item) {
    if (item.type == WireType::Double) return doubles_.Survives(ItemDouble(item));
    if (item.type != WireType::String) return true;
    return units_.size() < 2 || units_[0] != u'0' || (units_[1] | 0x20) != u'x';
  }

  TextOutput text_;
  TextStreamWriter writer_;
  DoubleReadBack doubles_;
  std::u16string units_;
  uint64_t values_ = 0;
  uint64_t differences_ = 0;
  uint64_t first_ = 0;  // 0-based index of the first value that differs
  bool refused_ = false;
};

// The items of a well-formed stream written as JSON one by one: the
// brackets and commas here, each number, string and blob as the converter
// writes it alone.
class JsonDecoding {
 public:
  JsonDecoding(const Options& options, Output* out)
      : options_(options), out_(out), writer_([this](const uint8_t* data, size_t n) {
          scalar_.insert(scalar_.end(), data, data + n);
          return true;
        }) {}

  // Writes the item; false when JSON cannot hold it (printed). From a
  // string holding U+0000 on, only lets the input be checked.
  bool Take(const WalkItem& item, const StreamBytes& bytes) {
    refused_ = refused_ || IsZeroUnitString(item, bytes, &units_);
    if (refused_) return true;
    text_.assign(values_ == 0 && options_.array ? "[" : "");
    if (comma_ && item.type != WireType::ArrayEnd) text_ += ',';
    if (!AppendItem(item, bytes)) return false;
    ++values_;
    comma_ = item.type != WireType::ArrayBegin;
    if (item.depth == 0 && comma_ && !options_.array) {
      text_ += '\n';  // a line of its own
      comma_ = false;
    }
    out_->Write(text_);
    return true;
  }

  uint64_t values() const { return values_; }
  // Stopped at a string holding U+0000, value number values() + 1.
  bool refused() const { return refused_; }

  // The end of the JSON text.
  void Finish() {
    if (options_.array) out_->Write(values_ == 0 ? "[]\n" : "]\n");
  }

 private:
  bool AppendItem(const WalkItem& item, const StreamBytes& bytes) {
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
        StreamCalls calls(&writer_);
        WriteItem(item, bytes, units_, &calls);
        static_cast<void>(writer_.flush());  // the sink reports its own failures
        return AppendJsonScalar(options_, scalar_, values_, &text_);
    }
  }

  const Options& options_;
  Output* out_;
  std::vector<uint8_t> scalar_;  // the value at hand, encoded alone
  BinaryStreamWriter writer_;    // after its sink: it flushes when destroyed
  std::u16string units_;
  std::string text_;
  uint64_t values_ = 0;
  bool comma_ = false;  // a value came before, in the same array
  bool refused_ = false;
};

// Checks a named input first, opens the output, and hands every item of the
// input to take() until it returns false.
bool DecodeInput(const Options& options, Output* out, const TakeItem& take, int* status) {
  uint64_t size;
  return CheckBeforeWriting(options, status) && OpenOutput(options, false, out, status) &&
         WalkWellFormed(options, "decoding", take, &size, status);
}

}  // namespace

int DecodeToText(const Options& options) {
  Output out;
  TextDecoding decoding(options, &out);
  const auto take = [&decoding](const WalkItem& item, const StreamBytes& bytes) {
    return decoding.Take(item, bytes);
  };
  int status;
  if (!DecodeInput(options, &out, take, &status)) return status;
  if (decoding.refused()) return RefuseZeroUnit(options, decoding.values(), "as text");
  decoding.Finish();
  return Finish(&out, kExitOk);
}

int DecodeToJson(const Options& options) {
  if (!HasJson()) return kExitTrouble;
  Output out;
  JsonDecoding decoding(options, &out);
  bool failed = false;
  const auto take = [&decoding, &failed](const WalkItem& item, const StreamBytes& bytes) {
    failed = !decoding.Take(item, bytes);
    return !failed;
  };
  int status;
  if (!DecodeInput(options, &out, take, &status)) return status;
  if (failed) return kExitBadData;
  if (decoding.refused()) return RefuseZeroUnit(options, decoding.values(), "as JSON");
  decoding.Finish();
  return Finish(&out, kExitOk);
}

}  // namespace qkxdr::tool
