// The demo command: a sample record written through the binary writer and the
// text writer, shown both ways, and read back from both.

#include <cstdint>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "dump.h"
#include "file_io.h"
#include "hex.h"
#include "utf8.h"
#include "values.h"

namespace qkxdr::tool {
namespace {

const uint8_t kChecksum[] = {0xDE, 0xAD, 0xBE, 0xEF};

struct SampleValue {
  QkXDRType2 type;
  int64_t integer = 0;
  double real = 0;
  const char16_t* text = nullptr;
};

// A reading of a weather station: its name, a sequence number, a calibration
// offset, a timestamp in microseconds (it needs 64 bits), two measurements,
// its place, a checksum, and a nested array of tags with an empty one.
const SampleValue kSample[] = {
    {QkXDRType2::ArrayBegin},
    {QkXDRType2::String, 0, 0, u"station-7"},
    {QkXDRType2::Int, 1042},
    {QkXDRType2::Int, -3},
    {QkXDRType2::Int, 1700000000123456},
    {QkXDRType2::Double, 0, 21.5},
    {QkXDRType2::Double, 0, -0.125},
    {QkXDRType2::String, 0, 0, u"Z\u00FCrich \u2603"},
    {QkXDRType2::Binary},
    {QkXDRType2::ArrayBegin},
    {QkXDRType2::String, 0, 0, u"roof"},
    {QkXDRType2::ArrayBegin},
    {QkXDRType2::ArrayEnd},
    {QkXDRType2::ArrayEnd},
    {QkXDRType2::ArrayEnd},
};

std::vector<Value> SampleRecord() {
  std::vector<Value> record;
  for (const SampleValue& sample : kSample) {
    Value value;
    value.type = sample.type;
    value.integer = sample.integer;
    value.real = sample.real;
    if (sample.text != nullptr) value.text = sample.text;
    if (sample.type == QkXDRType2::Binary) {
      QkXDRBinaryAttach(value.blob.slot(), kChecksum, sizeof kChecksum);
    }
    record.push_back(value);
  }
  return record;
}

void WriteRecord(const std::vector<Value>& record, QkXDROStream2* out) {
  for (const Value& value : record) WriteValue(value, out);
}

std::string HexLines(const uint8_t* bytes, size_t size) {
  constexpr size_t kPerLine = 16;
  std::string text;
  for (size_t at = 0; at < size; at += kPerLine) {
    text += "  ";
    AppendHex(bytes + at, std::min(kPerLine, size - at), ' ', &text);
    text += '\n';
  }
  return text;
}

// Reads `in` to its end and says how its values compare with the record's.
std::string ReadBack(const char* name, const std::vector<Value>& record, QkXDRIStream2* in,
                     bool* match) {
  size_t read = 0, same = 0;
  for (Value value; ReadValue(in, &value); ++read) {
    if (read < record.size() && SameValue(value, record[read])) ++same;
  }
  *match = read == record.size() && same == read;
  return std::string("  from ") + name + std::to_string(read) + " values read, " +
         (*match ? "all match the record\n"
                 : std::to_string(read - same) + " differ from the record\n");
}

}  // namespace

int RunDemo(const Options& options) {
  StreamPtr<QkXDROStream2> binary(QkXDRCreateOStream2());
  StreamPtr<QkXDROStream2> text(QkXDRCreateTextOStream2());
  if (!binary || !text) {
    PrintError("this build of the library has no binary or no text writer");
    return kExitTrouble;
  }
  const std::vector<Value> record = SampleRecord();
  WriteRecord(record, binary.get());
  WriteRecord(record, text.get());
  const uint8_t* bytes = static_cast<const uint8_t*>(binary->GetData());
  const uint32_t size = binary->GetSize();
  const char16_t* units = static_cast<const char16_t*>(text->GetData());
  const uint32_t length = text->GetSize() / 2;

  Output out;
  int status;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("A sample record of " + std::to_string(record.size()) + " values, written twice.\n\n");
  out.Write("Binary encoding, " + std::to_string(size) + " bytes:\n" + HexLines(bytes, size));
  out.Write("\nThe same bytes, value by value (qkxdr dump):\n");
  Dump(bytes, bytes + size, false, &out);
  std::string utf8;
  Utf16ToUtf8(units, units + length, &utf8);
  out.Write("\nText encoding, " + std::to_string(length) + " UTF-16 units:\n  " + utf8 + "\n");

  StreamPtr<QkXDRIStream2> fromBinary(QkXDRCreateIStream2(bytes, size));
  StreamPtr<QkXDRIStream2> fromText(QkXDRCreateTextIStream2(units, length));
  if (!fromBinary || !fromText) {
    PrintError("this build of the library has no binary or no text reader");
    return kExitTrouble;
  }
  bool binaryMatches, textMatches;
  out.Write("\nRead back:\n" + ReadBack("the binary: ", record, fromBinary.get(), &binaryMatches) +
            ReadBack("the text:   ", record, fromText.get(), &textMatches));
  const bool match = binaryMatches && textMatches;
  out.Write(match ? "Both encodings give the record back unchanged.\n"
                  : "MISMATCH: the record did not survive.\n");
  return Finish(&out, match ? kExitOk : kExitBadData);
}

}  // namespace qkxdr::tool
