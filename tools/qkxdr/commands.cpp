// The commands encode, decode, dump and validate.

#include <cstdint>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "dump.h"
#include "file_io.h"
#include "json_commands.h"
#include "text_check.h"
#include "text_forms.h"
#include "utf8.h"
#include "values.h"
#include "wire_walker.h"

namespace qkxdr::tool {
namespace {

int Unavailable(const char* what) {
  PrintError(std::string("this build of the library has no ") + what);
  return kExitTrouble;
}

bool HasTextReader() {
  const char16_t empty[] = u"";
  return StreamPtr<QkXDRIStream2>(QkXDRCreateTextIStream2(empty, 0)) != nullptr;
}

void PrintFault(const Options& options, const WireItem& item) {
  PrintError(DisplayName(options.input) + ": byte " + std::to_string(item.offset) + ": " +
             DescribeFault(item));
}

// Walks the stream to its first fault; prints it and returns false when
// there is one. *values counts the values before it.
bool CheckBinary(const Options& options, const std::vector<uint8_t>& bytes, uint64_t* values) {
  Progress progress("checking", bytes.size());
  WireWalker walker(bytes.data(), bytes.data() + bytes.size());
  WireItem item;
  *values = 0;
  while (walker.Next(&item)) {
    if (item.fault != WireFault::None) {
      progress.Clear();
      PrintFault(options, item);
      return false;
    }
    ++*values;
    progress.Update(item.end);
  }
  return true;
}

// CheckBinary as the input is read, in bounded memory: an endless input
// is read until its first fault. *size counts the bytes read; *status is
// the exit status when it returns false.
bool CheckBinaryInput(const Options& options, uint64_t* values, uint64_t* size, int* status) {
  WireItem fault;
  *values = 0;
  const auto take = [&fault, values](const WireItem& item, const StreamBytes&) {
    if (item.fault != WireFault::None) {
      fault = item;
      return false;
    }
    ++*values;
    return true;
  };
  if (!WalkBinaryInput(options, "checking", take, size, status)) return false;
  if (fault.fault == WireFault::None) return true;
  PrintFault(options, fault);
  *status = kExitBadData;
  return false;
}

std::string TextFaultText(const TextCheck& check, const TextInput& text) {
  switch (check.fault) {
    case TextFault::Unreadable:
      return "not a value the reader accepts: \"" + Excerpt(text, check.unit) + "\"";
    case TextFault::UnbalancedEnd:
      return "\"]\" without an open array";
    case TextFault::OpenString:
      return "the string that starts here has no closing quote";
    default:
      return "the text ends with " + Counted(check.depth, "array", "arrays") + " still open";
  }
}

// Loads the text input and checks it; prints the first problem and returns
// false with the exit status in *status when there is one.
bool LoadCheckedText(const Options& options, TextInput* text, uint64_t* values, int* status) {
  if (!LoadText(options, text, status)) return false;
  *status = kExitTrouble;
  if (!HasTextReader()) {
    Unavailable("text reader");
    return false;
  }
  const TextCheck check = CheckText(&text->units);
  *values = check.values;
  if (check.fault == TextFault::None) return true;
  PrintError(DisplayName(options.input) + ": " + DescribePlace(*text, check.unit) + ": " +
             TextFaultText(check, *text));
  *status = kExitBadData;
  return false;
}

// Findings of a well-formed text shown one a line; the rest only counted.
constexpr size_t kShownFindings = 20;

// Prints the findings of the text (only the losses when `lossesOnly`), each
// with its place, as errors or as warnings; returns how many there are.
size_t PrintFindings(const Options& options, const TextInput& text, bool lossesOnly, bool warn) {
  size_t count = 0;
  for (const TextFinding& finding : FindTextForms(text.units)) {
    if (lossesOnly && !finding.loss) continue;
    if (++count > kShownFindings) continue;
    const std::string message =
        DisplayName(options.input) + ": " + DescribePlace(text, finding.unit) + ": " + finding.what;
    warn ? PrintWarning(message) : PrintError(message);
  }
  if (count > kShownFindings) {
    const std::string more = "and " + std::to_string(count - kShownFindings) + " more";
    warn ? PrintWarning(more) : PrintError(more);
  }
  return count;
}

int RefuseZeroUnit(const Options& options, uint64_t index, const char* target) {
  PrintError(DisplayName(options.input) + ": value " + std::to_string(index + 1) +
             ": a string holding U+0000 cannot be written " + target);
  return kExitBadData;
}

// Reads the text back against the stream it came from and warns when
// values do not survive the text form.
void CompareReadBack(const std::vector<uint8_t>& bytes, QkXDROStream2* text) {
  StreamPtr<QkXDRIStream2> original(
      QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size())));
  StreamPtr<QkXDRIStream2> copy(
      QkXDRCreateTextIStream2(static_cast<const char16_t*>(text->GetData()), text->GetSize() / 2));
  if (!original || !copy) return;
  const Comparison comparison = Compare(original.get(), copy.get());
  if (comparison.differences == 0) return;
  PrintWarning(std::to_string(comparison.differences) + " of " + std::to_string(comparison.values) +
               " values read back from the text differently, the first is value " +
               std::to_string(comparison.first + 1) +
               " (the text keeps 10 significant digits of a double, and a string that starts "
               "with \"0x\" reads back as a blob)");
}

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

// decode --json --text: the text form to JSON.
int DecodeTextToJson(const Options& options) {
  TextInput text;
  uint64_t values;
  int status;
  if (!LoadCheckedText(options, &text, &values, &status)) return status;
  TextReader reader{std::u16string_view(text.units)};
  return WriteJson(options, reader);
}

}  // namespace

int RunEncode(const Options& options) {
  if (options.json) return EncodeJson(options);
  TextInput text;
  uint64_t values;
  int status;
  if (!LoadCheckedText(options, &text, &values, &status)) return status;
  if (PrintFindings(options, text, true, options.lenient) != 0 && !options.lenient) {
    return kExitBadData;
  }
  StreamPtr<QkXDROStream2> writer(QkXDRCreateOStream2());
  if (!writer) return Unavailable("binary writer");
  StreamPtr<QkXDRIStream2> reader(
      QkXDRCreateTextIStream2(text.units.data(), static_cast<uint32_t>(text.units.size())));
  const CopyResult copy = CopyValues(reader.get(), writer.get());
  if (copy.zeroUnit) return RefuseZeroUnit(options, copy.values, "by the binary writer");
  Output out;
  if (!OpenOutput(options, true, &out, &status)) return status;
  out.Write(writer->GetData(), writer->GetSize());
  return Finish(&out, kExitOk);
}

int RunDecode(const Options& options) {
  if (options.json && options.text) return DecodeTextToJson(options);
  std::vector<uint8_t> bytes;
  uint64_t values;
  int status;
  if (!LoadBinary(options, &bytes, &status)) return status;
  if (!CheckBinary(options, bytes, &values)) return kExitBadData;
  if (bytes.size() > UINT32_MAX) {
    PrintError(DisplayName(options.input) + ": the library's reader takes 4 GiB at most");
    return kExitTrouble;
  }
  if (options.json) {
    BinaryReader reader(bytes);
    return WriteJson(options, reader);
  }
  StreamPtr<QkXDROStream2> writer(QkXDRCreateTextOStream2());
  if (!writer) return Unavailable("text writer");
  if (!bytes.empty()) {
    StreamPtr<QkXDRIStream2> reader(
        QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size())));
    if (!reader) return Unavailable("binary reader");
    const CopyResult copy = CopyValues(reader.get(), writer.get());
    if (copy.zeroUnit) return RefuseZeroUnit(options, copy.values, "as text");
    CompareReadBack(bytes, writer.get());
  }
  const std::string encoded = EncodeText(writer.get(), options.utf16);
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write(encoded);
  return Finish(&out, kExitOk);
}

int RunDump(const Options& options) {
  int status;
  if (!options.fromHex) {  // as it is read
    Output out;
    if (!OpenOutput(options, false, &out, &status)) return status;
    Dumper dumper(options.hex, &out);
    uint64_t size = 0;
    const auto take = [&dumper](const WireItem& item, const StreamBytes& bytes) {
      dumper.Take(item, bytes);
      return true;
    };
    if (!WalkBinaryInput(options, "dumping", take, &size, &status)) return status;
    return Finish(&out, dumper.Finish(size).faults == 0 ? kExitOk : kExitBadData);
  }
  std::vector<uint8_t> bytes;
  if (!LoadBinary(options, &bytes, &status)) return status;
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  const DumpTotals totals = Dump(bytes.data(), bytes.data() + bytes.size(), options.hex, &out);
  return Finish(&out, totals.faults == 0 ? kExitOk : kExitBadData);
}

int RunValidate(const Options& options) {
  if (options.json) return ValidateJson(options);
  uint64_t values;
  int status;
  uint64_t size;
  if (options.text) {
    TextInput text;
    if (!LoadCheckedText(options, &text, &values, &status)) return status;
    if (options.strict && PrintFindings(options, text, false, false) != 0) return kExitBadData;
    size = text.bytes.size();
  } else if (!options.fromHex) {
    if (!CheckBinaryInput(options, &values, &size, &status)) return status;
  } else {
    std::vector<uint8_t> bytes;
    if (!LoadBinary(options, &bytes, &status)) return status;
    if (!CheckBinary(options, bytes, &values)) return kExitBadData;
    size = bytes.size();
  }
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("well formed: " + Counted(values, "value", "values") + " in " +
            Counted(size, "byte", "bytes") + "\n");
  return Finish(&out, kExitOk);
}

}  // namespace qkxdr::tool
