// qkxdr/json.hpp: QkXDR value streams to and from standard JSON (RFC 8259,
// UTF-8), through the readers and writers of QkXDR.hpp.
//
// Declared here, compiled into the companion static library qkxdr_json
// (CMake target QkXDR::json). Nothing of the JSON parser it uses inside
// shows through this header, and nothing but std::bad_alloc is thrown:
// failures come back as a qkxdr::Error. docs/api.md, "JSON", gives the
// mapping:
//
//   QkXDR                     JSON
//   array                     array
//   integer (32 or 64 bits)   integer: 7, -9223372036854775808
//   double                    number with a "." or an exponent: 1.0, 1e+300,
//                             -0.0; NaN and infinities as {"$double": "NaN"},
//                             {"$double": "NaN:7FF0000000000001"} (the bits
//                             of any other NaN), {"$double": "Infinity"},
//                             {"$double": "-Infinity"}
//   string                    string; an unpaired surrogate as \uXXXX
//   blob                      {"$blob": "<base64, padded>"}

#ifndef QKXDR_JSON_HPP_
#define QKXDR_JSON_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "QkXDR.hpp"
#include "qkxdr/error.hpp"

namespace qkxdr {

class BinaryStreamWriter;  // qkxdr/stream.hpp
class TextStreamWriter;

namespace json {

// How the values of a stream sit in the JSON text.
enum class Layout {
  lines,  // each top-level value on a line of its own (JSON Lines)
  array,  // the whole stream as the elements of one JSON array
};

// What becomes of the JSON values that no QkXDR type holds: objects other
// than the two tagged forms above, true, false and null.
enum class Others {
  refuse,   // an error that names the place
  convert,  // an object: an array of [key, value] arrays, in order;
            // true and false: the integers 1 and 0; null: an empty array
};

struct Options {
  Layout layout = Layout::lines;
  Others others = Others::refuse;  // JSON to QkXDR only
};

// The values of `in`, from its current value to its end, as JSON: UTF-8
// with "\n" after each line. An empty Reader is an empty stream. Errors, with
// the path of the value in the stream ("[2][0]": the first element of the
// third top-level value) and no offset (the exported readers report none):
//   malformed    an array end with no open array; a value of no known type
//   truncated    arrays still open at the end of the stream; a value cut
//                short
//   unsupported  a string holding U+0000
//   no_value     text the reader cannot read where a value should be
// (the codes of Reader's reads, QkXDR.hpp).
Result<std::string> to_json(Reader& in, const Options& options = {});

// Writes the values of the JSON text to `out`, skipping the byte-order mark
// (EF BB BF) that may start it. Errors, with the byte offset in `json`:
//   malformed     text that is not UTF-8 or not JSON (a zero byte
//                 included); with the JSON Lines layout, two top-level
//                 values on one line (one value may span lines); a "$blob"
//                 or "$double" object whose string names no value
//   truncated     text that ends inside a value
//   out_of_range  an integer beyond 64 bits; a number beyond the range of a
//                 double
//   unsupported   a string holding U+0000 (the writers take zero-terminated
//                 strings), and the values that options.others refuses
//   io            `out` takes no values (an empty Writer)
// For a value that the parser accepts but no QkXDR type holds, the offset
// is where its top-level value starts, and the path its JSON Pointer
// ("/1/name"). `out` then holds the values before the problem.
Result<void> from_json(std::string_view json, Writer& out, const Options& options = {});

// The longest text a StreamConverter holds by default: 64 MiB.
inline constexpr std::size_t kDefaultMaxHeld = std::size_t{64} << 20;

// from_json for a text that comes in pieces, in memory bounded by its
// longest top-level value. With Layout::lines the values of each line are
// written to `out` once the line has come whole (a value may span lines:
// then once it ends); with Layout::array the text is held and converted by
// finish(). A byte that cannot stand where it is in JSON (a zero byte, a
// control character in a string; outside strings a letter that no literal
// has, or any character beyond ASCII; a closing bracket or separator
// outside any value) fails at once, with the text held so far, before more
// is fed. A value held beyond `max_held`
// bytes fails with too_large at its start.
//
// Errors are those of from_json, with offsets in the whole text fed, found
// a line at a time: a problem is the first in the order of the text only
// among problems of one line or one value (from_json checks UTF-8 first).
// The first error sticks: later calls return it again.
class StreamConverter {
 public:
  explicit StreamConverter(Writer& out, const Options& options = {},
                           std::size_t max_held = kDefaultMaxHeld)
      : out_(out), options_(options), max_held_(max_held) {}

  // Takes the next piece of the text.
  Result<void> feed(std::string_view piece);
  // The end of the text: converts what is still held.
  Result<void> finish();

  // The text fed and not yet converted, and where it starts in the whole
  // text: a value not yet ended, or after an error the text that holds the
  // error's offset.
  std::string_view held() const noexcept { return held_; }
  std::uint64_t held_offset() const noexcept { return held_offset_; }

  // Where a byte of the whole text stands, both from 1; a column counts
  // characters (UTF-8 sequences), not bytes.
  struct Place {
    std::uint64_t line;
    std::uint64_t column;
  };
  // The place of byte `offset`, which is in held() or at its end, as the
  // offset of an error is; other offsets are placed at the nearer end.
  Place place(std::uint64_t offset) const;

 private:
  // What a byte is, where it stands.
  enum class Seen { part, line_end, misplaced };

  // Drops the byte-order mark that starts the text; false while the text
  // held may still be the start of one.
  bool DropMark();
  Seen See(char c);
  // from_json on the first `length` bytes held.
  Result<void> Write(std::size_t length);
  // Writes the first `length` bytes held and drops them.
  Result<void> Convert(std::size_t length);
  // Fails the text held up to `end`, the end of the misplaced byte (or
  // UTF-8 sequence) at held_[scanned_]: from_json's error, there or before.
  Result<void> Refuse(std::size_t end);
  // Fails when more than max_held_ bytes are held.
  Result<void> CheckSize();
  // Keeps `error` as the one to return from now on.
  Result<void> Stop(Error error);

  Writer& out_;
  Options options_;
  std::size_t max_held_;
  std::string held_;
  std::uint64_t held_offset_ = 0;
  // Where held_ starts: at a line's start, or after the byte-order mark.
  std::uint64_t held_line_ = 1;
  std::uint64_t held_column_ = 1;
  std::size_t scanned_ = 0;  // bytes of held_ that See() has seen
  std::uint64_t depth_ = 0;  // brackets open at scanned_
  bool in_string_ = false;
  bool escaped_ = false;  // after a backslash in a string
  std::optional<Error> error_;
};

// A Writer that passes each value on to a streaming writer of
// qkxdr/stream.hpp as it comes, and holds none: through one, a
// StreamConverter writes a text of any size into a stream in bounded
// memory, with the bytes or text of the in-memory writers. data() and
// size() stay null and 0; the streaming writer collects the output, reports
// its failures, and must outlive this one. WriteStringA takes each byte as
// the exported writer of the same encoding does: a unit of the byte's value
// in binary, sign-extended in text.
class PassingWriter final : public Writer {
 public:
  explicit PassingWriter(BinaryStreamWriter& out);
  explicit PassingWriter(TextStreamWriter& out);

  // The values passed on: each number, string and blob, and each array
  // begin and end; 0 once moved from.
  std::uint64_t values() const noexcept;
};

}  // namespace json
}  // namespace qkxdr

#endif  // QKXDR_JSON_HPP_
