// The JSON side of encode, decode and validate, through the converter of
// qkxdr/json.hpp; a build without it prints so and fails with kExitTrouble.

#include "command.h"

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
#endif

namespace qkxdr::tool {

#if defined(QKXDR_TOOL_JSON)
namespace {

// Prints the problem the converter found at its line, column and byte;
// returns false with the exit status in *status.
bool Report(const Options& options, const json::StreamConverter& converter, const Error& error,
            InputReader* input, int* status) {
  const json::StreamConverter::Place place = converter.place(error.offset());
  std::string hint;
  if (error.code() == ErrorCode::too_large) {
    hint = options.array ? ": give its values as JSON Lines, one a line, without --array"
                         : ": give its values as JSON Lines, one a line";
  } else if (error.code() == ErrorCode::unsupported && error.detail() != impl::kZeroUnitDetail) {
    hint = " (--convert converts it)";
  }
  return input->Fail("line " + std::to_string(place.line) + ", column " +
                         std::to_string(place.column) + " (byte " + std::to_string(error.offset()) +
                         "): " + (error.path().empty() ? "" : error.path() + ": ") +
                         error.detail() + hint,
                     error.code() == ErrorCode::too_large ? kExitTrouble : kExitBadData, status);
}

// Converts the JSON input into `out` as it is read, showing the progress
// with `label`. On a problem prints it and returns false with the exit
// status in *status.
bool ConvertJson(const Options& options, const char* label, Writer& out, int* status) {
  InputReader input(options);
  if (!input.Open(label, status)) return false;
  json::StreamConverter converter(out,
                                  {options.array ? json::Layout::array : json::Layout::lines,
                                   options.convert ? json::Others::convert : json::Others::refuse});
  std::vector<uint8_t> piece;
  for (bool ended = false; !ended;) {
    piece.clear();
    if (!input.Read(&piece, &ended, status)) return false;
    Result<void> converted =
        converter.feed(std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
    if (converted && ended) converted = converter.finish();
    if (!converted) return Report(options, converter, converted.error(), &input, status);
  }
  return true;
}

// Converts the JSON input to the binary encoding, written to `out` when
// there is one; *values counts its values.
bool ToBinary(const Options& options, Output* out, uint64_t* values, int* status) {
  BinaryStreamWriter writer([out](const uint8_t* data, size_t n) {
    if (out != nullptr) out->Write(data, n);
    return true;
  });
  json::PassingWriter passing(writer);
  const char* label = out == nullptr ? "checking" : "converting";
  if (!ConvertJson(options, label, passing, status)) return false;
  *values = passing.values();
  return true;
}

// Converts the JSON input to the text form, written to `out`.
bool ToText(const Options& options, Output* out, int* status) {
  TextOutput text(options.utf16, out);
  TextStreamWriter writer([&text](const char16_t* data, size_t n) { return text.Pass(data, n); });
  json::PassingWriter passing(writer);
  if (!ConvertJson(options, "converting", passing, status)) return false;
  static_cast<void>(writer.flush());  // the sink reports its own failures
  text.Finish();
  return true;
}

}  // namespace

bool HasJson() { return true; }

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
  PrintError(options, "value " + std::to_string(index + 1) + ": " + problem);
  return false;
}

int EncodeJson(const Options& options) {
  return CheckThenWrite(options, !options.text, [&options](Output* out) {
    int status;
    uint64_t values;
    const bool converted = out != nullptr && options.text
                               ? ToText(options, out, &status)
                               : ToBinary(options, out, &values, &status);
    return converted ? kExitOk : status;
  });
}

int ValidateJson(const Options& options) {
  uint64_t values;
  int status;
  if (!ToBinary(options, nullptr, &values, &status)) return status;
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("well formed: " + Counted(values, "value", "values") + "\n");
  return Finish(&out, kExitOk);
}

#else  // the build had no RapidJSON: each JSON command prints so and fails

bool HasJson() {
  PrintError("this qkxdr was built without JSON (RapidJSON was not found)");
  return false;
}

// Never called: its callers ask HasJson() first.
bool AppendJsonScalar(const Options& /*options*/, const std::vector<uint8_t>& /*value*/,
                      uint64_t /*index*/, std::string* /*json*/) {
  return false;
}

int EncodeJson(const Options& /*options*/) { return HasJson() ? kExitOk : kExitTrouble; }

int ValidateJson(const Options& /*options*/) { return HasJson() ? kExitOk : kExitTrouble; }

#endif

}  // namespace qkxdr::tool
