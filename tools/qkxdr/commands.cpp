// The commands encode, decode, dump and validate.

#include <cstdint>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "decode.h"
#include "dump.h"
#include "encode.h"
#include "file_io.h"
#include "json_commands.h"
#include "text_check.h"
#include "text_forms.h"
#include "text_walk.h"
#include "utf8.h"
#include "values.h"

namespace qkxdr::tool {
namespace {

// The writer's text in UTF-8 with a line end, or in UTF-16LE as it is.
std::string EncodeText(QkXDROStream2* writer, bool utf16) {
  const char16_t* units = static_cast<const char16_t*>(writer->GetData());
  const char16_t* end = units + writer->GetSize() / 2;
  std::string encoded;
  if (utf16) {
    Utf16ToUtf16Le(units, end, &encoded);
    return encoded;
  }
  const size_t replaced = Utf16ToUtf8(units, end, &encoded);
  if (replaced != 0) {
    PrintWarning(Counted(replaced, "unpaired surrogate", "unpaired surrogates") +
                 " replaced by U+FFFD in the UTF-8 output (--utf16 keeps them)");
  }
  if (!encoded.empty()) encoded += '\n';
  return encoded;
}

// encode --json: JSON to the binary encoding, or to the text form with --text.
int EncodeJson(const Options& options) {
  int status;
  Output out;
  if (options.text) {
    TextWriter writer;
    if (!ReadJson(options, writer, &status)) return status;
    const std::string encoded = EncodeText(writer.get(), options.utf16);
    if (!OpenOutput(options, false, &out, &status)) return status;
    out.Write(encoded);
  } else {
    BinaryWriter writer;
    if (!ReadJson(options, writer, &status)) return status;
    if (!OpenOutput(options, true, &out, &status)) return status;
    out.Write(writer.data(), writer.size());
  }
  return Finish(&out, kExitOk);
}

// decode --json --text: the text form to JSON. The converter reads the
// whole text: it is checked piece by piece, then held whole.
int DecodeTextToJson(const Options& options) {
  std::u16string text;
  const auto take = [&text](const TextInput& piece, const std::u16string&, uint64_t, bool) {
    text += piece.units;
    return text.size() <= kMaxTextUnits;
  };
  uint64_t values;
  uint64_t size;
  int status;
  if (!WalkText(options, take, true, &values, &size, &status)) return status;
  if (text.size() > kMaxTextUnits) {
    PrintError(DisplayName(options.input) +
               ": the text is too long for the library's reader (4 Gi units at most)");
    return kExitTrouble;
  }
  TextReader reader{std::u16string_view(text)};
  return WriteJson(options, reader);
}

}  // namespace

int RunEncode(const Options& options) {
  if (options.json) return EncodeJson(options);
  return EncodeText(options);
}

int RunDecode(const Options& options) {
  if (options.json && options.text) return DecodeTextToJson(options);
  if (options.json) return DecodeToJson(options);
  return DecodeToText(options);
}

int RunDump(const Options& options) {
  int status;
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  Dumper dumper(options.hex, &out);
  uint64_t size = 0;
  const auto take = [&dumper](const WalkItem& item, const StreamBytes& bytes) {
    dumper.Take(item, bytes);
    return true;
  };
  if (!WalkBinaryInput(options, "dumping", take, &size, &status)) return status;
  return Finish(&out, dumper.Finish(size).faults == 0 ? kExitOk : kExitBadData);
}

int RunValidate(const Options& options) {
  if (options.json) return ValidateJson(options);
  uint64_t values;
  int status;
  uint64_t size;
  if (options.text) {
    FindingPrinter findings(options, false, false);
    CopyResult zero_unit;  // up to the first string holding U+0000
    const auto take = [&](const TextInput& piece, const std::u16string& prefixed, uint64_t before,
                          bool last) {
      if (options.strict) findings.Print(piece, last);
      if (!zero_unit.zeroUnit) {
        zero_unit = CopyPiece<QkXDROStream2>(piece, prefixed, nullptr);
        zero_unit.values += before;
      }
      return true;
    };
    if (!WalkText(options, take, true, &values, &size, &status)) return status;
    if (findings.Finish() != 0) return kExitBadData;
    if (zero_unit.zeroUnit) return RefuseZeroUnit(options, zero_unit.values, nullptr);
  } else if (!CheckBinaryInput(options, &values, &size, &status)) {
    return status;
  }
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("well formed: " + Counted(values, "value", "values") + " in " +
            Counted(size, "byte", "bytes") + "\n");
  return Finish(&out, kExitOk);
}

}  // namespace qkxdr::tool
