#include "json_commands.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_io.h"
#include "file_io.h"

#if defined(QKXDR_TOOL_JSON)
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/json.hpp"
#include "qkxdr/stream.hpp"
#include "utf8.h"
#include "values.h"
#endif

namespace qkxdr::tool {

#if defined(QKXDR_TOOL_JSON)
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

json::Options JsonOptions(const Options& options) {
  json::Options converter;
  converter.layout = options.array ? json::Layout::array : json::Layout::lines;
  converter.others = options.convert ? json::Others::convert : json::Others::refuse;
  return converter;
}

// The exported writer interface over a streaming writer of the library:
// every write is passed on as it comes, and counted as a value. Nothing is
// kept: GetData() and GetSize() tell of no output.
template <typename Target>
class PassingStream final : public QkXDROStream2 {
 public:
  explicit PassingStream(Target* target) : calls_(target) {}

  // Each byte a unit, sign-extended, as the exported writers take it.
  void WriteStringA(const char* s) override {
    units_.clear();
    for (; *s != '\0'; ++s) units_.push_back(static_cast<char16_t>(static_cast<signed char>(*s)));
    Count().WriteString(units_.c_str());
  }
  void WriteBinary(const QkXDRBinary* blob) override {
    Count().WriteBytes(static_cast<const uint8_t*>(QkXDRBinaryData(blob)), QkXDRBinarySize(blob));
  }
  void WriteInt64(int64_t v) override { Count().WriteInt64(v); }
  void WriteString(const char16_t* s) override { Count().WriteString(s); }
  void WriteDouble(double v) override { Count().WriteDouble(v); }
  void WriteInt(int32_t v) override { Count().WriteInt(v); }
  void BeginArray() override { Count().BeginArray(); }
  void EndArray() override { Count().EndArray(); }
  const void* GetData() override { return nullptr; }
  uint32_t GetSize() override { return 0; }
  void Release() override { delete this; }

  uint64_t values() const { return values_; }

 private:
  StreamCalls<Target>& Count() {
    ++values_;
    return calls_;
  }

  StreamCalls<Target> calls_;
  std::u16string units_;
  uint64_t values_ = 0;
};

// A Writer whose writes go to `target` as they come.
template <typename Target>
class PassingWriter final : public Writer {
 public:
  explicit PassingWriter(Target* target) : Writer(new PassingStream<Target>(target)) {}
  uint64_t values() const { return static_cast<const PassingStream<Target>*>(get())->values(); }
};

// The JSON input, read in pieces of 1 MiB and converted as it comes.
class JsonInput {
 public:
  JsonInput(const Options& options, Writer& out)
      : options_(options), converter_(out, JsonOptions(options)) {}

  // Converts the whole input. On a problem prints it, with its line, column
  // and byte, and returns false with the exit status in *status.
  bool Convert(const char* label, int* status) {
    if (!OpenInput(options_, &input_, status)) return false;
    std::string error;
    Progress progress(label, input_.size());
    std::vector<uint8_t> piece;
    for (;;) {
      piece.clear();
      const size_t got = input_.Read(&piece, &error);
      read_ += got;
      progress.Update(read_);
      if (!error.empty()) {
        progress.Clear();
        PrintError(DisplayName(options_.input) + ": " + error);
        return false;
      }
      Result<void> converted = converter_.feed(Text(piece, got == 0));
      if (converted && got == 0) converted = converter_.finish();
      if (!converted) {
        progress.Clear();
        Report(converted.error(), status);
        return false;
      }
      if (got == 0) return true;
    }
  }

 private:
  // The text of a piece, without the byte-order mark that may start the
  // input, which is looked for once three bytes are there (or the input
  // ends); counts its line ends.
  std::string_view Text(const std::vector<uint8_t>& piece, bool end) {
    std::string_view text(reinterpret_cast<const char*>(piece.data()), piece.size());
    if (!marked_) {
      head_.append(text);
      if (head_.size() < kUtf8Mark.size() && !end) return {};
      marked_ = true;
      text = head_;
      if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        skipped_ = kUtf8Mark.size();
        text.remove_prefix(skipped_);
      }
    }
    line_ends_ += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    return text;
  }

  // "line L, column C (byte B)" for byte `offset` of the text, which the
  // converter holds; columns count characters, the mark as one.
  std::string DescribeByte(uint64_t offset) const {
    const std::string_view held = converter_.held();
    const std::string_view before =
        held.substr(0, std::min<uint64_t>(offset - converter_.held_offset(), held.size()));
    const auto count = [](std::string_view text) {
      return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    };
    const uint64_t line = line_ends_ - count(held) + count(before) + 1;
    const size_t line_start = before.rfind('\n') + 1;  // 0 when none: held starts a line
    uint64_t column = line == 1 && skipped_ != 0 ? 2 : 1;
    for (size_t i = line_start; i < before.size(); ++i) {
      column += (static_cast<unsigned char>(before[i]) & 0xC0) != 0x80;
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + " (byte " +
           std::to_string(skipped_ + offset) + ")";
  }

  void Report(const Error& error, int* status) {
    std::string hint;
    if (error.code() == ErrorCode::too_large) {
      hint = options_.array ? ": give its values as JSON Lines, one a line, without --array"
                            : ": give its values as JSON Lines, one a line";
    } else if (error.code() == ErrorCode::unsupported && error.detail() != impl::kZeroUnitDetail) {
      hint = " (--convert converts it)";
    }
    PrintError(DisplayName(options_.input) + ": " + DescribeByte(error.offset()) + ": " +
               (error.path().empty() ? "" : error.path() + ": ") + error.detail() + hint);
    *status = error.code() == ErrorCode::too_large ? kExitTrouble : kExitBadData;
  }

  const Options& options_;
  json::StreamConverter converter_;
  Input input_;
  uint64_t read_ = 0;       // bytes read
  std::string head_;        // the first bytes, until the mark is looked for
  bool marked_ = false;     // the mark was looked for
  size_t skipped_ = 0;      // bytes of a byte-order mark
  uint64_t line_ends_ = 0;  // in the text fed to the converter
};

// Converts the JSON input into `target`, a streaming writer of the library;
// *values counts the values written.
template <typename Target>
bool ConvertJson(const Options& options, const char* label, Target* target, uint64_t* values,
                 int* status) {
  PassingWriter<Target> out(target);
  if (!JsonInput(options, out).Convert(label, status)) return false;
  *values = out.values();
  return true;
}

// Whether the JSON input converts, and how many values it holds; nothing is
// kept.
bool CheckJson(const Options& options, uint64_t* values, int* status) {
  BinaryStreamWriter discard([](const uint8_t* /*data*/, size_t /*n*/) { return true; });
  return ConvertJson(options, "checking", &discard, values, status);
}

// Converts the JSON input to `out` as it comes: the binary encoding, or the
// text form with --text.
bool WriteConverted(const Options& options, Output* out, int* status) {
  uint64_t values;
  if (!options.text) {
    BinaryStreamWriter writer([out](const uint8_t* data, size_t n) {
      out->Write(data, n);
      return true;
    });
    return ConvertJson(options, "converting", &writer, &values, status);
  }
  TextOutput text(options.utf16, out);
  {
    TextStreamWriter writer([&text](const char16_t* data, size_t n) { return text.Pass(data, n); });
    if (!ConvertJson(options, "converting", &writer, &values, status)) return false;
  }  // the writer passes on what it holds
  text.Finish();
  return true;
}

}  // namespace

bool AppendJsonScalar(const Options& options, const std::vector<uint8_t>& value, uint64_t index,
                      std::string* json) {
  std::string problem = "the library's reader takes 4 GiB at most";
  if (value.size() < UINT32_MAX) {
    BinaryReader reader(value);
    const Result<std::string> text = json::to_json(reader);
    if (text) {
      json->append(*text, 0, text->size() - 1);  // without the line end
      return true;
    }
    problem = text.error().detail();
  }
  PrintError(DisplayName(options.input) + ": value " + std::to_string(index + 1) + ": " + problem);
  return false;
}

bool HasJson() { return true; }

int EncodeJson(const Options& options) {
  return CheckThenWrite(options, !options.text, [&options](Output* out) {
    int status;
    uint64_t values;
    const bool converted = out == nullptr ? CheckJson(options, &values, &status)
                                          : WriteConverted(options, out, &status);
    return converted ? kExitOk : status;
  });
}

int ValidateJson(const Options& options) {
  uint64_t values;
  int status;
  if (!CheckJson(options, &values, &status)) return status;
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("well formed: " + Counted(values, "value", "values") + "\n");
  return Finish(&out, kExitOk);
}

#else  // the build had no RapidJSON

namespace {

int NoJson() {
  PrintError("this qkxdr was built without JSON (RapidJSON was not found)");
  return kExitTrouble;
}

}  // namespace

int EncodeJson(const Options& /*options*/) { return NoJson(); }

bool AppendJsonScalar(const Options& /*options*/, const std::vector<uint8_t>& /*value*/,
                      uint64_t /*index*/, std::string* /*json*/) {
  return false;
}

bool HasJson() {
  NoJson();
  return false;
}

int ValidateJson(const Options& /*options*/) { return NoJson(); }

#endif

}  // namespace qkxdr::tool
