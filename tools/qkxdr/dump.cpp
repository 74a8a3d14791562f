#include "dump.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "command_io.h"
#include "qkxdr/detail/text/hex_digits.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

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
std::string DoubleText(const WalkItem& item) {
  const double v = ItemDouble(item);
  char text[32];
  const char* end = std::to_chars(text, text + sizeof text, v).ptr;
  std::string s(text, static_cast<size_t>(end - text));
  if (std::isnan(v)) {
    char payload[24];
    std::snprintf(payload, sizeof payload, " (%016" PRIX64 ")", item.number);
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
      return complete ? DoubleText(item) : "";
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

// Appends the row's offset and, with hex, the first kHexPerLine of the n
// bytes at p.
void AppendRowStart(size_t offset, const uint8_t* p, size_t n, bool hex, std::string* row) {
  char text[24];
  std::snprintf(text, sizeof text, "%*llu  ", kOffsetWidth,
                static_cast<unsigned long long>(offset));
  row->append(text);
  if (!hex) return;
  std::string shown;
  AppendHex(p, std::min(n, kHexPerLine), ' ', &shown);
  AppendPadded(shown, kHexWidth, row);
}

// The rest of a value's bytes, kHexPerLine to a line.
void AppendHexLines(const WalkItem& item, const StreamBytes& bytes, std::string* out) {
  for (size_t at = item.offset + kHexPerLine; at < item.end; at += kHexPerLine) {
    AppendRowStart(at, bytes.At(at), item.end - at, true, out);
    while (out->back() == ' ') out->pop_back();
    out->push_back('\n');
  }
}

void AppendIndent(uint64_t depth, std::string* out) {
  out->append(2 * std::min(depth, kMaxIndent), ' ');
  if (depth > kMaxIndent) out->append("<depth " + std::to_string(depth) + "> ");
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

// Shows items one by one as rows, written to `out` in pieces.
class Dumper {
 public:
  Dumper(bool hex, Output* out) : hex_(hex), out_(out) {
    text_.append(kOffsetWidth - 6, ' ').append("offset  ");
    if (hex) AppendPadded("bytes", kHexWidth, &text_);
    AppendPadded("run", kRunWidth, &text_);
    text_.append("value\n");
  }

  // A row for the item, whose bytes `bytes` holds.
  void Take(const WalkItem& item, const StreamBytes& bytes) {
    if (item.fault != WalkFault::None) ++faults_;
    if (item.fault == WalkFault::UnclosedArrays) {
      unclosed_ = DescribeFault(item);
      return;
    }
    if (item.fault == WalkFault::None || item.fault == WalkFault::UnbalancedEnd) ++values_;
    AppendRowStart(item.offset, bytes.At(item.offset), item.end - item.offset, hex_, &text_);
    AppendPadded(RunText(item), kRunWidth, &text_);
    AppendIndent(item.depth, &text_);
    text_.append(ValueText(item, bytes));
    if (item.fault != WalkFault::None) text_.append("  ! ").append(DescribeFault(item));
    text_.push_back('\n');
    if (hex_) AppendHexLines(item, bytes, &text_);
    if (text_.size() >= (size_t{1} << 16)) {
      out_->Write(text_);
      text_.clear();
    }
  }

  // The last row, for a stream of `size` bytes: the totals and the arrays
  // left open, if any. Returns the problems marked.
  uint64_t Finish(uint64_t size) {
    AppendRowStart(static_cast<size_t>(size), nullptr, 0, hex_, &text_);
    AppendPadded("end", kRunWidth, &text_);
    text_.append(Counted(size, "byte", "bytes") + ", " + Counted(values_, "value", "values"));
    text_.append(faults_ == 0 ? ", no problems" : ", " + Counted(faults_, "problem", "problems"));
    if (!unclosed_.empty()) text_.append("  ! ").append(unclosed_);
    text_.push_back('\n');
    out_->Write(text_);
    return faults_;
  }

 private:
  bool hex_;
  Output* out_;
  std::string text_;
  uint64_t values_ = 0;
  uint64_t faults_ = 0;
  std::string unclosed_;  // what is wrong with the arrays left open
};

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

void AppendHex(const uint8_t* p, size_t n, char separator, std::string* out) {
  for (size_t i = 0; i < n; ++i) {
    if (i != 0 && separator != '\0') out->push_back(separator);
    out->push_back(impl::kUpperHexDigits[p[i] >> 4]);
    out->push_back(impl::kUpperHexDigits[p[i] & 0xF]);
  }
}

uint64_t Dump(const uint8_t* begin, const uint8_t* end, bool hex, Output* out) {
  const StreamBytes bytes{begin, 0, static_cast<size_t>(end - begin)};
  Dumper dumper(hex, out);
  impl::ItemWalk walk(begin, end);
  for (WalkItem item; walk.Next(&item);) dumper.Take(item, bytes);
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
