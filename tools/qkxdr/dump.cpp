#include "dump.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "command_io.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

struct DumpTotals {
  uint64_t values = 0;
  uint64_t faults = 0;
};

constexpr uint32_t kShownUnits = 64;  // longer strings are cut in the view
constexpr uint32_t kShownBytes = 32;  // longer blobs too
constexpr size_t kHexPerLine = 8;
constexpr int kOffsetWidth = 10;
constexpr int kHexWidth = 3 * kHexPerLine + 1;
constexpr int kRunWidth = 21;
constexpr uint64_t kMaxIndent = 32;  // deeper values say their depth instead

const char* TypeName(WireType type) {
  static const char* const kNames[] = {"ArrayBegin", "ArrayEnd", "Int",    "Double",
                                       "String",     "Binary",   "Unknown"};
  return kNames[static_cast<int>(type)];
}

void AppendPadded(const std::string& text, int width, std::string* line) {
  line->append(text);
  if (static_cast<int>(text.size()) < width) line->append(width - text.size(), ' ');
}

// The shortest text that reads back as the same double, marked as a double
// even when it is whole; NaN also shows its bits.
std::string DoubleText(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, v).ptr;
  std::string s(text, static_cast<size_t>(end - text));
  if (std::isnan(v)) {
    char payload[24];
    std::snprintf(payload, sizeof payload, " (%016" PRIX64 ")", bits);
    s += payload;
  } else if (s.find_first_of(".ein") == std::string::npos) {
    s += ".0";
  }
  return s;
}

// The escapes of a string as the view shows it between quotation marks.
struct Escape {
  uint32_t cp;
  const char* text;
};
constexpr Escape kEscapes[] = {
    {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}};

void AppendShown(uint32_t cp, std::string* out) {
  for (const Escape& escape : kEscapes) {
    if (cp == escape.cp) {
      out->append(escape.text);
      return;
    }
  }
  if (cp < 0x20 || cp == 0x7F || IsSurrogate(cp)) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
    out->append(escape);
    return;
  }
  AppendUtf8(cp, out);
}

std::string StringText(const WalkItem& item, const StreamBytes& bytes) {
  std::u16string units;
  ItemUnits(item, bytes, std::min(item.present, kShownUnits), &units);
  std::string s = "\"";
  for (const char16_t* p = units.data(); p < units.data() + units.size();) {
    uint32_t cp;
    p = NextCodePoint(p, units.data() + units.size(), &cp);
    AppendShown(cp, &s);
  }
  if (units.size() == item.number) s += '"';
  if (units.size() < item.present) s += "...";  // cut for the view
  if (item.number > kShownUnits) s += " (" + Counted(item.number, "unit", "units") + ")";
  return s;
}

std::string BlobText(const WalkItem& item, const StreamBytes& bytes) {
  std::string s = "0x";
  AppendHex(bytes.At(item.data), std::min(item.present, kShownBytes), '\0', &s);
  if (item.present > kShownBytes) s += "...";
  return s + " (" + Counted(item.number, "byte", "bytes") + ")";
}

std::string IntText(uint64_t number) {
  const int64_t v = impl::UnZigZag64(number);
  std::string s = std::to_string(v);
  if (v < INT32_MIN || v > INT32_MAX) s += "  (64-bit)";
  return s;
}

std::string ValueText(const WalkItem& item, const StreamBytes& bytes) {
  const bool complete = item.fault != WalkFault::Truncated;
  switch (item.type) {
    case WireType::ArrayBegin:
      return "[";
    case WireType::ArrayEnd:
      return "]";
    case WireType::Int:
      return complete ? IntText(item.number) : "";
    case WireType::Double:
      return complete ? DoubleText(item.number) : "";
    case WireType::String:
      return complete || item.number > 0 ? StringText(item, bytes) : "";
    case WireType::Binary:
      return complete || item.number > 0 ? BlobText(item, bytes) : "";
    default:
      return "";
  }
}

std::string RunText(const WalkItem& item) {
  char tag[4];
  std::snprintf(tag, sizeof tag, "%02X", item.tag);
  std::string s = std::string(tag) + " " + TypeName(item.type);
  if (item.type != WireType::Other) {
    s += " " + std::to_string(item.index) + "/" + std::to_string(item.count);
  }
  return s;
}

std::string OffsetText(size_t offset) {
  char text[24];
  std::snprintf(text, sizeof text, "%*llu", kOffsetWidth, static_cast<unsigned long long>(offset));
  return text;
}

// Appends the row's offset and, with hex, up to kHexPerLine bytes at it.
void AppendRowStart(size_t offset, const StreamBytes& bytes, size_t end, bool hex,
                    std::string* row) {
  row->append(OffsetText(offset)).append("  ");
  if (!hex) return;
  std::string shown;
  AppendHex(bytes.At(offset), std::min(end - offset, kHexPerLine), ' ', &shown);
  AppendPadded(shown, kHexWidth, row);
}

// The rest of a value's bytes, kHexPerLine to a line.
void AppendHexLines(const WalkItem& item, const StreamBytes& bytes, std::string* out) {
  for (size_t at = item.offset + kHexPerLine; at < item.end; at += kHexPerLine) {
    AppendRowStart(at, bytes, item.end, true, out);
    while (out->back() == ' ') out->pop_back();
    out->push_back('\n');
  }
}

void AppendIndent(uint64_t depth, std::string* out) {
  if (depth <= kMaxIndent) {
    out->append(2 * depth, ' ');
    return;
  }
  out->append(2 * kMaxIndent, ' ').append("<depth " + std::to_string(depth) + "> ");
}

void AppendItem(const WalkItem& item, const StreamBytes& bytes, bool hex, std::string* out) {
  AppendRowStart(item.offset, bytes, item.end, hex, out);
  AppendPadded(RunText(item), kRunWidth, out);
  AppendIndent(item.depth, out);
  out->append(ValueText(item, bytes));
  if (item.fault != WalkFault::None) out->append("  ! ").append(DescribeFault(item));
  out->push_back('\n');
  if (hex) AppendHexLines(item, bytes, out);
}

void AppendHeader(bool hex, std::string* out) {
  out->append(kOffsetWidth - 6, ' ').append("offset  ");
  if (hex) AppendPadded("bytes", kHexWidth, out);
  AppendPadded("run", kRunWidth, out);
  out->append("value\n");
}

// The last row: the size and the totals, and the arrays left open, if any.
void AppendEnd(size_t size, const DumpTotals& totals, const WalkItem* unclosed, bool hex,
               std::string* out) {
  out->append(OffsetText(size)).append("  ");
  if (hex) out->append(kHexWidth, ' ');
  AppendPadded("end", kRunWidth, out);
  out->append(Counted(size, "byte", "bytes") + ", " + Counted(totals.values, "value", "values"));
  out->append(totals.faults == 0 ? ", no problems"
                                 : ", " + Counted(totals.faults, "problem", "problems"));
  if (unclosed != nullptr) out->append("  ! ").append(DescribeFault(*unclosed));
  out->push_back('\n');
}

std::string TruncationText(const WalkItem& item) {
  const std::string kind = TypeName(item.type);
  if (item.data == item.end && item.number == 0) {
    if (item.index == 1) return kind + " truncated: the data ends right after its tag";
    return kind + " missing: the run announces " + std::to_string(item.count) +
           " values, the data ends after " + std::to_string(item.index - 1);
  }
  switch (item.type) {
    case WireType::Int:
      return "Int truncated: its varint has no last byte";
    case WireType::Double:
      return "Double truncated: " + std::to_string(item.end - item.data) + " of 8 bytes";
    default:
      if (item.number == 0) return kind + " truncated: its length has no last byte";
      return kind + " truncated: " + std::to_string(item.present) + " of " +
             std::to_string(item.number) + (item.type == WireType::String ? " units" : " bytes");
  }
}

}  // namespace

std::string DescribeFault(const WalkItem& item) {
  char tag[8];
  switch (item.fault) {
    case WalkFault::UnknownTag:
      std::snprintf(tag, sizeof tag, "%02X", item.tag);
      return std::string("unknown tag byte ") + tag + ": it names no value type";
    case WalkFault::Truncated:
      return TruncationText(item);
    case WalkFault::UnbalancedEnd:
      return "ArrayEnd without an open array";
    case WalkFault::UnclosedArrays:
      return "the data ends with " + Counted(item.depth, "array", "arrays") + " still open";
    default:
      return "";
  }
}

namespace {

// Shows items one by one as rows, written to `out` in pieces.
class Dumper {
 public:
  Dumper(bool hex, Output* out) : hex_(hex), out_(out) { AppendHeader(hex, &text_); }

  // A row for the item, whose bytes `bytes` holds.
  void Take(const WalkItem& item, const StreamBytes& bytes) {
    if (item.fault != WalkFault::None) ++totals_.faults;
    if (item.fault == WalkFault::UnclosedArrays) {
      unclosed_ = item;
      open_ = true;
      return;
    }
    if (item.fault == WalkFault::None || item.fault == WalkFault::UnbalancedEnd) ++totals_.values;
    AppendItem(item, bytes, hex_, &text_);
    if (text_.size() >= (size_t{1} << 16)) {
      out_->Write(text_);
      text_.clear();
    }
  }

  // The last row, for a stream of `size` bytes; returns the problems marked.
  uint64_t Finish(uint64_t size) {
    AppendEnd(static_cast<size_t>(size), totals_, open_ ? &unclosed_ : nullptr, hex_, &text_);
    out_->Write(text_);
    text_.clear();
    return totals_.faults;
  }

 private:
  bool hex_;
  Output* out_;
  std::string text_;
  DumpTotals totals_;
  WalkItem unclosed_;
  bool open_ = false;
};

}  // namespace

void AppendHex(const uint8_t* p, size_t n, char separator, std::string* out) {
  for (size_t i = 0; i < n; ++i) {
    if (i != 0 && separator != '\0') out->push_back(separator);
    out->push_back(impl::kUpperHexDigits[p[i] >> 4]);
    out->push_back(impl::kUpperHexDigits[p[i] & 0xF]);
  }
}

uint64_t Dump(const uint8_t* begin, const uint8_t* end, bool hex, Output* out) {
  const StreamBytes bytes{begin, 0, static_cast<size_t>(end - begin)};
  Progress progress("dumping", bytes.size);
  Dumper dumper(hex, out);
  impl::ItemWalk walk(begin, end);
  for (WalkItem item; walk.Next(&item);) {
    dumper.Take(item, bytes);
    progress.Update(item.end);
  }
  return dumper.Finish(bytes.size);
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
  return Finish(&out, dumper.Finish(size) == 0 ? kExitOk : kExitBadData);
}

}  // namespace qkxdr::tool
