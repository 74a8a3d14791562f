#include "text_source.h"

#include <algorithm>

#include "text_check.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr uint8_t kUtf16Mark[] = {0xFF, 0xFE};
// A fault found without a place to cut is sure when this many units follow
// it: no token it starts reaches the end of what is held. They show it too.
constexpr size_t kProbeMargin = 4096;
static_assert(kProbeMargin >= kAheadUnits, "the units shown after a fault are held");

template <size_t N>
size_t MarkLength(const std::vector<uint8_t>& bytes, const uint8_t (&mark)[N]) {
  return bytes.size() >= N && std::equal(mark, mark + N, bytes.begin()) ? N : 0;
}

// What separates tokens for the reader: its whitespace, and the comma.
bool IsSeparator(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\b' || c == u'\f' ||
         c == u',';
}

}  // namespace

bool TextSource::Open(int* status) {
  if (!InputGiven(options_, status)) return false;
  std::string error;
  if (!input_.Open(options_.input, &error)) {
    PrintError(DisplayName(options_.input) + ": " + error);
    return false;
  }
  progress_.emplace("reading", input_.size());
  held_.utf16 = options_.utf16;
  return true;
}

bool TextSource::Next(TextInput* piece, bool* last, int* status) {
  bool sure = false;  // what is held has a fault that more input keeps
  while (!end_ && (cut_ == 0 || held_.units.size() < kPieceUnits)) {
    if (held_.units.size() >= probe_ && (sure = Probe())) break;
    if (held_.units.size() > kMaxTokenUnits) {
      Fail("a string or word longer than 64 Mi units, which is more than qkxdr holds", status);
      return false;
    }
    if (!Fill(status)) return false;
  }
  *last = end_ || sure;
  Cut(*last ? held_.units.size() : cut_, piece);
  return true;
}

void TextSource::Fail(const std::string& why, int* status) {
  ClearProgress();
  PrintError(DisplayName(options_.input) + ": " + why);
  *status = kExitTrouble;
}

void TextSource::WarnReplaced() {
  if (replaced_ == 0) return;
  ClearProgress();
  PrintWarning(DisplayName(options_.input) + ": " +
               (options_.utf16
                    ? std::string("an odd last byte")
                    : Counted(replaced_, "invalid UTF-8 sequence", "invalid UTF-8 sequences")) +
               " replaced by U+FFFD");
}

void TextSource::ClearProgress() {
  if (progress_) progress_->Clear();
}

bool TextSource::Fill(int* status) {
  std::string error;
  const size_t got = input_.Read(&held_.bytes, &error);
  if (!error.empty()) {
    Fail(error, status);
    return false;
  }
  read_ += got;
  progress_->Update(read_);
  end_ = got == 0;
  Convert();
  Scan();
  return true;
}

void TextSource::Convert() {
  std::vector<uint8_t>& bytes = held_.bytes;
  if (!marked_) {
    if (bytes.size() < sizeof kUtf8Mark && !end_) return;
    marked_ = true;
    held_.skipped = held_.utf16 ? MarkLength(bytes, kUtf16Mark) : MarkLength(bytes, kUtf8Mark);
    converted_ = held_.skipped;
  }
  const size_t until = bytes.size() - (end_ ? 0 : HeldBack());
  if (until <= converted_) return;
  const uint8_t* const b = bytes.data();
  replaced_ += held_.utf16 ? Utf16LeToUtf16(b + converted_, b + until, &held_.units)
                           : Utf8ToUtf16(b + converted_, b + until, &held_.units);
  converted_ = until;
}

// Bytes at the end that may start a sequence the next bytes complete.
size_t TextSource::HeldBack() const {
  const size_t n = held_.bytes.size() - converted_;
  if (held_.utf16) return n % 2;
  for (size_t k = 1; k <= 3 && k <= n; ++k) {
    const uint8_t byte = held_.bytes[held_.bytes.size() - k];
    if (byte < 0x80) return 0;
    if (byte >= 0xC0) {
      const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
      return length > k ? k : 0;
    }
  }
  return 0;
}

// Finds the places to cut in the units not scanned yet: before a value that
// follows a separator, a bracket or a string, outside strings and objects.
void TextSource::Scan() {
  const std::u16string& units = held_.units;
  for (; scanned_ < units.size(); ++scanned_) {
    if (next_ != 0 && scanned_ >= next_ + kAheadUnits) {
      cut_ = next_;
      cutDepth_ = nextDepth_;
      next_ = 0;
    }
    const char16_t c = units[scanned_];
    if (quote_ != 0) {
      if (escape_) {
        escape_ = false;
      } else if (c == u'\\') {
        escape_ = true;
      } else if (c == quote_) {
        quote_ = 0;
        broken_ = true;
      }
      continue;
    }
    if (IsSeparator(c) || c == u']' || c == u'}') {
      depth_ -= c == u']';
      braces_ -= c == u'}' && braces_ > 0;
      broken_ = true;
      continue;
    }
    if (broken_ && braces_ == 0 && depth_ >= 0 && scanned_ > 0 && next_ == 0) {
      next_ = scanned_;
      nextDepth_ = static_cast<uint64_t>(depth_);
    }
    depth_ += c == u'[';
    braces_ += c == u'{';
    if (c == u'"' || c == u'\'') quote_ = c;
    broken_ = c == u'[' || c == u'{';
  }
}

// Whether what is held, with no place to cut, has a fault that more input
// keeps: a token the reader does not accept, or a "]" without an array,
// well before its end.
bool TextSource::Probe() {
  probe_ = 2 * held_.units.size();
  std::u16string text(held_.depth, u'[');
  text += held_.units;
  const TextCheck check = CheckText(&text);
  return (check.fault == TextFault::Unreadable || check.fault == TextFault::UnbalancedEnd) &&
         check.unit + kProbeMargin < text.size();
}

// Hands out the first `units` units held as *piece.
void TextSource::Cut(size_t units, TextInput* piece) {
  const uint8_t* const data = held_.bytes.data() + held_.skipped;
  const size_t bytes =
      held_.skipped +
      (held_.utf16 ? 2 * units : Utf8BytesForUnits(data, held_.bytes.data() + converted_, units));
  piece->units.assign(held_.units, 0, units);
  piece->ahead.assign(held_.units, units, kAheadUnits);
  piece->bytes.assign(held_.bytes.begin(),
                      held_.bytes.begin() + static_cast<std::ptrdiff_t>(bytes));
  piece->skipped = held_.skipped;
  piece->utf16 = held_.utf16;
  piece->byte = held_.byte;
  piece->line = held_.line;
  piece->column = held_.column;
  piece->depth = held_.depth;
  // Where the rest starts.
  const char16_t* const end = held_.units.data() + units;
  for (const char16_t* p = held_.units.data(); p < end; ++held_.column) {
    uint32_t cp;
    p = NextCodePoint(p, end, &cp);
    if (cp != u'\n') continue;
    ++held_.line;
    held_.column = 0;
  }
  held_.byte += bytes;
  held_.skipped = 0;
  held_.depth = cutDepth_;
  held_.units.erase(0, units);
  held_.bytes.erase(held_.bytes.begin(), held_.bytes.begin() + static_cast<std::ptrdiff_t>(bytes));
  converted_ -= bytes;
  scanned_ -= units;
  next_ = next_ > units ? next_ - units : 0;
  cut_ = 0;
  probe_ = kPieceUnits;
}

}  // namespace qkxdr::tool
