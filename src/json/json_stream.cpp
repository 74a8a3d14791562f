// JSON text fed in pieces: each piece is looked at a byte at a time, once,
// to find where lines of whole top-level values end, and what it completes
// is handed to from_json. Offsets of what from_json reports are moved by
// the text dropped before.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "json/json_text.h"
#include "qkxdr/json.hpp"

namespace qkxdr::json {
namespace {

// Characters of numbers and of true, false and null: with whitespace,
// brackets, separators and quotes, all that JSON has outside strings.
bool IsValueCharacter(char c) {
  return std::string_view("0123456789+-.eEtrufalsn").find(c) != std::string_view::npos;
}

// The bytes of the UTF-8 sequence that `lead` starts: 1 for ASCII and for
// bytes that start none.
std::size_t SequenceLength(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  return byte >= 0xF0 && byte <= 0xF4 ? 4 : 1;
}

// "64 MiB", or the bytes of a limit that is not whole MiB.
std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                           : std::to_string(bytes) + " bytes";
}

}  // namespace

Result<void> StreamConverter::feed(std::string_view piece) {
  if (error_) return *error_;
  held_.append(piece);
  if (held_offset_ == 0 && scanned_ == 0 && !DropMark()) return {};
  std::size_t lines_end = 0;  // held_ up to here is whole lines
  for (; scanned_ < held_.size(); ++scanned_) {
    const Seen seen = See(held_[scanned_]);
    if (seen == Seen::misplaced) {
      const std::size_t end = scanned_ + SequenceLength(held_[scanned_]);
      if (end > held_.size()) break;  // the rest of its UTF-8 sequence is still to come
      // The whole lines before it are converted first, as when they came
      // in a piece of their own.
      if (lines_end != 0) {
        Result<void> converted = Convert(lines_end);
        if (!converted) return converted;
      }
      return Refuse(end - lines_end);
    }
    if (seen == Seen::line_end && options_.layout == Layout::lines) lines_end = scanned_ + 1;
  }
  if (lines_end != 0) {
    Result<void> converted = Convert(lines_end);
    if (!converted) return converted;
  }
  return CheckSize();
}

bool StreamConverter::DropMark() {
  const std::string_view mark = detail::kByteOrderMark;
  const std::size_t n = std::min(held_.size(), mark.size());
  if (held_.compare(0, n, mark.substr(0, n)) != 0) return true;
  if (n < mark.size()) return false;
  held_.erase(0, n);
  held_offset_ = n;
  held_column_ = 2;
  return true;
}

Result<void> StreamConverter::finish() {
  if (error_) return *error_;
  return Convert(held_.size());
}

StreamConverter::Place StreamConverter::place(std::uint64_t offset) const {
  const auto length = static_cast<std::size_t>(
      offset < held_offset_ ? 0 : std::min<std::uint64_t>(offset - held_offset_, held_.size()));
  const std::string_view before = std::string_view(held_).substr(0, length);
  const std::size_t line_start = before.rfind('\n') + 1;  // 0 when none: held_'s start
  Place place{
      held_line_ + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n')),
      line_start == 0 ? held_column_ : 1};
  // Bytes that start a UTF-8 sequence.
  for (std::size_t i = line_start; i < before.size(); ++i) {
    place.column += (static_cast<unsigned char>(before[i]) & 0xC0) != 0x80;
  }
  return place;
}

StreamConverter::Seen StreamConverter::See(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (in_string_) {
    const bool control = byte < 0x20;
    if (escaped_) {
      escaped_ = false;
    } else {
      escaped_ = c == '\\';
      in_string_ = c != '"';
    }
    return control ? Seen::misplaced : Seen::part;
  }
  switch (c) {
    case '\n':
      return depth_ == 0 ? Seen::line_end : Seen::part;
    case ' ':
    case '\t':
    case '\r':
      return Seen::part;
    case '"':
      in_string_ = true;
      return Seen::part;
    case '[':
    case '{':
      ++depth_;
      return Seen::part;
    case ']':
    case '}':
      if (depth_ == 0) return Seen::misplaced;
      --depth_;
      return Seen::part;
    case ',':
    case ':':
      return depth_ == 0 ? Seen::misplaced : Seen::part;
    default:
      return IsValueCharacter(c) ? Seen::part : Seen::misplaced;
  }
}

Result<void> StreamConverter::Write(std::size_t length) {
  Result<void> written = from_json(std::string_view(held_).substr(0, length), out_, options_);
  if (written) return written;
  Error error = written.error();
  error.shift(held_offset_);
  return error;
}

Result<void> StreamConverter::Convert(std::size_t length) {
  const Result<void> written = Write(length);
  if (!written) return Stop(written.error());
  held_line_ += static_cast<std::uint64_t>(
      std::count(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(length), '\n'));
  held_.erase(0, length);
  held_offset_ += length;
  held_column_ = 1;
  scanned_ -= length;
  return {};
}

Result<void> StreamConverter::Refuse(std::size_t end) {
  const Result<void> written = Write(end);
  if (!written) return Stop(written.error());
  return Stop(Error(ErrorCode::malformed, held_offset_ + scanned_, "not a JSON value"));
}

Result<void> StreamConverter::CheckSize() {
  if (held_.size() <= max_held_) return {};
  const std::size_t start = std::min(held_.find_first_not_of(" \t\r\n"), held_.size());
  const std::string what = options_.layout == Layout::array ? "an array of more than "
                                                            : "a top-level value of more than ";
  return Stop(Error(ErrorCode::too_large, held_offset_ + start, what + SizeText(max_held_)));
}

Result<void> StreamConverter::Stop(Error error) {
  error_ = std::move(error);
  return *error_;
}

}  // namespace qkxdr::json
