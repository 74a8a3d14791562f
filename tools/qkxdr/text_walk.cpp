#include "text_walk.h"

#include <algorithm>
#include <cstring>

#include "qkxdr/detail/base/utf8.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "utf8.h"

namespace qkxdr::tool {
namespace {

constexpr size_t kExcerptChars = 16;
constexpr size_t kShownFindings = 20;
constexpr char kNotAValue[] = "not a value the reader accepts: ";

bool HasTextReader() {
  const char16_t empty[] = u"";
  QkXDRIStream2* const reader = QkXDRCreateTextIStream2(empty, 0);
  if (reader == nullptr) return false;
  reader->Release();
  return true;
}

}  // namespace

bool TextWalk::Run(const std::function<bool(const TextItem&)>& take, bool warn, int* status) {
  if (!HasTextReader()) {
    PrintError("this build of the library has no text reader");
    *status = kExitTrouble;
    return false;
  }
  if (!reader_.Open("reading", status)) return false;
  for (bool done = false; !done;) {
    if (end_ || units_.size() - pos_ > 2 * waited_) {
      if (!Step(take, status, &done)) return false;
      continue;
    }
    if (units_.size() - pos_ > kMaxTokenUnits) {
      return reader_.Fail(
          "a string or word longer than 64 Mi units, which is more than qkxdr holds", kExitTrouble,
          status);
    }
    Drop();
    if (!Fill(status)) return false;
  }
  if (warn) WarnReplaced();
  return true;
}

bool TextWalk::Fill(int* status) {
  if (!reader_.Read(&bytes_, &end_, status)) return false;
  Convert();
  return true;
}

void TextWalk::Convert() {
  if (!marked_) {
    if (bytes_.size() < 3 && !end_) return;  // a byte-order mark may follow
    marked_ = true;
    const std::string_view mark = options_.utf16 ? "\xFF\xFE" : "\xEF\xBB\xBF";
    if (bytes_.size() >= mark.size() && std::memcmp(bytes_.data(), mark.data(), mark.size()) == 0) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(mark.size()));
      cursor_.byte = mark.size();
    }
  }
  const size_t until = bytes_.size() - (end_ ? 0 : HeldBack());
  const uint8_t* const b = bytes_.data();
  size_t invalid = 0;
  const size_t replaced = options_.utf16
                              ? Utf16LeToUtf16(b + converted_, b + until, &units_, &invalid)
                              : Utf8ToUtf16(b + converted_, b + until, &units_, &invalid);
  converted_ = until;
  if (replaced != 0 && replaced_ == 0) invalid_.unit = base_ + invalid;
  replaced_ += replaced;
  // A space of our own ends the last token: a string that takes it in has
  // no closing quote.
  if (end_) units_.push_back(u' ');
}

// Bytes at the end that may start a sequence the next bytes complete.
size_t TextWalk::HeldBack() const {
  const size_t n = bytes_.size() - converted_;
  if (options_.utf16) return n % 2;
  for (size_t k = 1; k <= 3 && k <= n; ++k) {
    const uint8_t byte = bytes_[bytes_.size() - k];
    if (impl::utf8::IsContinuation(byte)) continue;
    return static_cast<size_t>(impl::utf8::RuleOfLead(byte).length) > k ? k : 0;
  }
  return 0;
}

// Lets go of the units before the last item's end, once they are many.
void TextWalk::Drop() {
  if (pos_ < units_.size() / 2) return;
  Keep(&comma_, base_ + pos_);
  Keep(&invalid_, base_ + pos_);
  Cursor at = cursor_;
  Advance(&at, base_ + pos_);
  const auto dropped = static_cast<size_t>(at.byte - cursor_.byte);
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(dropped));
  converted_ -= dropped;
  units_.erase(0, pos_);
  base_ += pos_;
  pos_ = 0;
  cursor_ = at;
}

// Works out the place of a unit noted before `until`, which is dropped.
void TextWalk::Keep(Noted* noted, uint64_t until) {
  if (noted->unit && *noted->unit < until && noted->place.empty()) {
    noted->place = Place(*noted->unit);
  }
}

void TextWalk::Advance(Cursor* at, uint64_t unit) const {
  const char16_t* p = units_.data() + Local(at->unit);
  const char16_t* const end = units_.data() + Local(unit);
  const char16_t* const first = p;
  for (uint32_t cp; p < end; ++at->column) {
    p = NextCodePoint(p, end, &cp);
    if (cp != u'\n') continue;
    ++at->line;
    at->column = 0;
  }
  const auto units = static_cast<size_t>(end - first);
  if (options_.utf16) {
    at->byte += 2 * uint64_t{units};
  } else {
    const uint8_t* const from = bytes_.data() + (at->byte - cursor_.byte);
    at->byte += Utf8BytesForUnits(from, bytes_.data() + converted_, units);
  }
  at->unit = unit;
}

// Passes the whitespace at cur, a comma unless one was passed since the last
// item (it is noted), and the whitespace after it, as far as they go.
const char16_t* TextWalk::PassSeparator(const char16_t* cur, const char16_t* end) {
  cur = impl::TextTokenizer::SkipWhitespace(cur, end);
  if (cur == end || *cur != u',' || comma_.unit) return cur;
  comma_.unit = base_ + static_cast<uint64_t>(cur - units_.data());
  return impl::TextTokenizer::SkipWhitespace(cur + 1, end);
}

bool TextWalk::Step(const std::function<bool(const TextItem&)>& take, int* status, bool* done) {
  const char16_t* const data = units_.data();
  const char16_t* const end = data + units_.size();
  const char16_t* const start = PassSeparator(data + pos_, end);
  pos_ = static_cast<size_t>(start - data);
  waited_ = 0;
  if (start == end) {
    if (!end_) return true;  // the separators are passed: nothing is held for them
    *done = true;
    const uint32_t open = tokenizer_.containers().depth() - 1;
    if (open == 0) return true;
    return Fail(pos_ - 1, "the text ends with " + Counted(open, "array", "arrays") + " still open",
                status);
  }
  if (*start == u',') return Fail(pos_, kNotAValue, status, true);  // the reader stops at it
  tokenizer_.ClearToken();
  const char16_t* const after = tokenizer_.Step(start, end);
  const bool value = tokenizer_.GetToken() == impl::TextToken::Value;
  TextItem item;
  item.type = impl::TokenType(tokenizer_);
  // A word is refused however it goes on; a value waits for the units that
  // end it.
  if (value && item.type != QkXDRType2::None && !end_ && end - after < 2) {
    waited_ = units_.size() - pos_;
    return true;
  }
  const size_t at = pos_;
  pos_ = static_cast<size_t>(after - data);
  const uint32_t depth = tokenizer_.containers().depth();
  if (item.type == QkXDRType2::None) return Fail(at, kNotAValue, status, true);
  if (depth == 0) return Fail(at, "\"]\" without an open array", status);
  if (value && after == end) {
    return Fail(at, "the string that starts here has no closing quote", status);
  }
  if (value) item.value = &tokenizer_.GetValue();
  item.units = std::u16string_view(data + at, pos_ - at);
  item.unit = base_ + at;
  item.index = values_++;
  item.depth = depth - 1;
  item.comma = comma_.unit;
  *done = !take(item);
  comma_ = Noted();
  return true;
}

bool TextWalk::Fail(size_t at, const std::string& what, int* status, bool excerpt) {
  // What follows the place is shown too.
  while (!end_ && units_.size() - at < 2 * kExcerptChars) {
    if (!Fill(status)) return false;
  }
  WarnReplaced();
  return reader_.Fail(
      Place(base_ + at) + ": " + what + (excerpt ? "\"" + Excerpt(base_ + at) + "\"" : ""),
      kExitBadData, status);
}

void TextWalk::WarnReplaced() {
  if (replaced_ == 0) return;
  reader_.Warn((options_.utf16
                    ? std::string("an odd last byte")
                    : Counted(replaced_, "invalid UTF-8 sequence", "invalid UTF-8 sequences")) +
               " replaced by U+FFFD");
}

std::string TextWalk::Place(uint64_t unit) const {
  for (const Noted* noted : {&comma_, &invalid_}) {
    if (noted->unit == unit && !noted->place.empty()) return noted->place;
  }
  Cursor at = cursor_;
  Advance(&at, unit);
  return "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + " (byte " +
         std::to_string(at.byte) + ")";
}

std::string TextWalk::Excerpt(uint64_t unit) const {
  const char16_t* p = units_.data() + Local(unit);
  const char16_t* const end = units_.data() + units_.size() - (end_ ? 1 : 0);
  std::string shown;
  for (size_t n = 0; p < end && *p != u'\n' && *p != u'\r'; ++n) {
    if (n == kExcerptChars) return shown + "...";
    uint32_t cp;
    p = NextCodePoint(p, end, &cp);
    AppendUtf8(cp < 0x20 || IsSurrogate(cp) ? kReplacementChar : cp, &shown);
  }
  return shown;
}

size_t FindingPrinter::Check(const TextWalk& walk, const TextItem& item) {
  for (const TextFinding& finding : FindTextForms(item, &after_value_)) {
    if (strict_ || finding.loss) Add(walk, finding.unit, finding.what);
  }
  return count_;
}

size_t FindingPrinter::Close(const TextWalk& walk) {
  if (!strict_) return count_;
  if (walk.trailing_comma()) Add(walk, *walk.trailing_comma(), "a comma at the end of the text");
  if (walk.first_invalid()) {
    Add(walk, *walk.first_invalid(),
        options_.utf16 ? "an odd last byte, read as U+FFFD"
                       : "an invalid UTF-8 sequence, read as U+FFFD");
  }
  return count_;
}

void FindingPrinter::Print() {
  std::stable_sort(shown_.begin(), shown_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  if (count_ > kShownFindings)
    shown_.emplace_back(UINT64_MAX, "and " + std::to_string(count_ - kShownFindings) + " more");
  for (const auto& shown : shown_) warn_ ? PrintWarning(shown.second) : PrintError(shown.second);
  shown_.clear();
}

// Only the findings shown are placed: each place takes a walk over the text.
void FindingPrinter::Add(const TextWalk& walk, uint64_t unit, const std::string& what) {
  if (++count_ > kShownFindings) return;
  shown_.emplace_back(unit, DisplayName(options_.input) + ": " + walk.Place(unit) + ": " + what);
}

}  // namespace qkxdr::tool
