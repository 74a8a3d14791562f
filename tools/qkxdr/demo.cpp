// The demo command: a sample record written through the binary writer and the
// text writer, shown both ways, and read back from both.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "QkXDR.hpp"
#include "command.h"
#include "command_io.h"
#include "dump.h"
#include "file_io.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

using Bytes = std::vector<uint8_t>;
// One value of a record: an array's bracket is its type code.
using Value = std::variant<Type, int64_t, double, std::u16string, Bytes>;

// A reading of a weather station: its name, a sequence number, a calibration
// offset, a timestamp in microseconds (it needs 64 bits), two measurements,
// its place, a checksum, and a nested array of tags with an empty one.
std::vector<Value> SampleRecord() {
  return {Type::ArrayBegin,
          u"station-7",
          int64_t{1042},
          int64_t{-3},
          int64_t{1700000000123456},
          21.5,
          -0.125,
          u"Z\u00FCrich \u2603",
          Bytes{0xDE, 0xAD, 0xBE, 0xEF},
          Type::ArrayBegin,
          u"roof",
          Type::ArrayBegin,
          Type::ArrayEnd,
          Type::ArrayEnd,
          Type::ArrayEnd};
}

// Writes a value of the record with the writer's call for its type.
void Write(Type bracket, Writer* out) {
  if (bracket == Type::ArrayBegin) {
    out->begin_array();
  } else {
    out->end_array();
  }
}
template <typename T>
void Write(const T& v, Writer* out) {
  out->write(v);
}

// The value a read gave; nothing when it failed.
template <typename T>
std::optional<Value> Got(Result<T> read) {
  if (!read) return std::nullopt;
  return Value(std::move(*read));
}

// The current value of `in`, moved past; nothing when there is none or it
// does not read.
std::optional<Value> ReadValue(Reader* in) {
  const Type type = in->peek_type();
  switch (type) {
    case Type::ArrayBegin:
      return in->begin_array() ? std::optional<Value>(type) : std::nullopt;
    case Type::ArrayEnd:
      return in->end_array() ? std::optional<Value>(type) : std::nullopt;
    case Type::Int:
      return Got(in->read_int64());
    case Type::Double:
      return Got(in->read_double());
    case Type::String:
      return Got(in->read_u16string());
    case Type::Binary:
      return Got(in->read_bytes());
    default:
      return std::nullopt;
  }
}

// Same type and contents; doubles bit for bit (NaN payloads and the sign of
// zero count).
bool SameValue(const Value& a, const Value& b) {
  const double* x = std::get_if<double>(&a);
  const double* y = std::get_if<double>(&b);
  if (x != nullptr && y != nullptr) return SameBits(*x, *y);
  return a == b;
}

std::string HexLines(const Bytes& bytes) {
  constexpr size_t kPerLine = 16;
  std::string text;
  for (size_t at = 0; at < bytes.size(); at += kPerLine) {
    text += "  ";
    AppendHex(bytes.data() + at, std::min(kPerLine, bytes.size() - at), ' ', &text);
    text += '\n';
  }
  return text;
}

// Reads `in` to its end and says how its values compare with the record's.
std::string ReadBack(const char* name, const std::vector<Value>& record, Reader* in, bool* match) {
  size_t read = 0, same = 0;
  while (const std::optional<Value> value = ReadValue(in)) {
    if (read < record.size() && SameValue(*value, record[read])) ++same;
    ++read;
  }
  *match = read == record.size() && same == read;
  return std::string("  from ") + name + std::to_string(read) + " values read, " +
         (*match ? "all match the record\n"
                 : std::to_string(read - same) + " differ from the record\n");
}

}  // namespace

int RunDemo(const Options& options) {
  BinaryWriter binary;
  TextWriter text;
  if (!binary || !text) {
    PrintError("this build of the library has no binary or no text writer");
    return kExitTrouble;
  }
  const std::vector<Value> record = SampleRecord();
  for (const Value& value : record) {
    std::visit([&](const auto& v) { Write(v, &binary); }, value);
    std::visit([&](const auto& v) { Write(v, &text); }, value);
  }
  const Bytes bytes = binary.bytes();
  const std::u16string units = text.text();

  Output out;
  int status;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("A sample record of " + std::to_string(record.size()) + " values, written twice.\n\n");
  out.Write("Binary encoding, " + std::to_string(bytes.size()) + " bytes:\n" + HexLines(bytes));
  out.Write("\nThe same bytes, value by value (qkxdr dump):\n");
  Dump(bytes.data(), bytes.data() + bytes.size(), false, &out);
  std::string utf8;
  Utf16ToUtf8(units.data(), units.data() + units.size(), &utf8);
  out.Write("\nText encoding, " + std::to_string(units.size()) + " UTF-16 units:\n  " + utf8 +
            "\n");

  BinaryReader fromBinary(bytes);
  TextReader fromText(units);
  if (!fromBinary || !fromText) {
    PrintError("this build of the library has no binary or no text reader");
    return kExitTrouble;
  }
  bool binaryMatches, textMatches;
  out.Write("\nRead back:\n" + ReadBack("the binary: ", record, &fromBinary, &binaryMatches) +
            ReadBack("the text:   ", record, &fromText, &textMatches));
  const bool match = binaryMatches && textMatches;
  out.Write(match ? "Both encodings give the record back unchanged.\n"
                  : "MISMATCH: the record did not survive.\n");
  return Finish(&out, match ? kExitOk : kExitBadData);
}

}  // namespace qkxdr::tool
