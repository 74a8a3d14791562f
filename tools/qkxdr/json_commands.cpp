#include "json_commands.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "command_io.h"
#include "file_io.h"

#if defined(QKXDR_TOOL_JSON)
#include "qkxdr/json.hpp"
#endif

namespace qkxdr::tool {

#if defined(QKXDR_TOOL_JSON)
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// "line L, column C (byte B)" for byte `offset` of UTF-8 text; columns count
// characters.
std::string DescribeByte(std::string_view text, size_t offset) {
  size_t line = 1;
  size_t column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      ++line;
      column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + " (byte " +
         std::to_string(offset) + ")";
}

json::Options JsonOptions(const Options& options) {
  json::Options converter;
  converter.layout = options.array ? json::Layout::array : json::Layout::lines;
  converter.others = options.convert ? json::Others::convert : json::Others::refuse;
  return converter;
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

bool ReadJson(const Options& options, Writer& out, int* status) {
  std::vector<uint8_t> bytes;
  if (!LoadInput(options, &bytes, status)) return false;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const size_t skipped = text.substr(0, kUtf8Mark.size()) == kUtf8Mark ? kUtf8Mark.size() : 0;
  const Result<void> converted = json::from_json(text.substr(skipped), out, JsonOptions(options));
  if (converted) return true;
  const Error& error = converted.error();
  PrintError(DisplayName(options.input) + ": " + DescribeByte(text, skipped + error.offset()) +
             ": " + (error.path().empty() ? "" : error.path() + ": ") + error.detail());
  *status = kExitBadData;
  return false;
}

int WriteJson(const Options& options, Reader& in) {
  const Result<std::string> text = json::to_json(in, JsonOptions(options));
  if (!text) {
    PrintError(DisplayName(options.input) + ": " + text.error().message());
    return kExitBadData;
  }
  Output out;
  int status;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write(*text);
  return Finish(&out, kExitOk);
}

int ValidateJson(const Options& options) {
  BinaryWriter converted;
  int status;
  if (!ReadJson(options, converted, &status)) return status;
  const auto* begin = static_cast<const uint8_t*>(converted.data());
  impl::ItemWalk walk(begin, begin + converted.size());
  uint64_t values = 0;
  for (impl::WalkItem item; walk.Next(&item);) ++values;
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

bool ReadJson(const Options& /*options*/, Writer& /*out*/, int* status) {
  *status = NoJson();
  return false;
}

int WriteJson(const Options& /*options*/, Reader& /*in*/) { return NoJson(); }

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
