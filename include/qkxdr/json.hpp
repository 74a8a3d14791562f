// qkxdr/json.hpp: QkXDR value streams to and from standard JSON (RFC 8259,
// UTF-8), through the readers and writers of QkXDR.hpp.
//
// Declared here, compiled into the companion static library qkxdr_json
// (CMake target QkXDR::json). Nothing of the JSON parser it uses inside
// shows through this header, and nothing is thrown: failures come back as
// false with an Error. docs/api.md, "JSON", gives the mapping:
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
#include <string>
#include <string_view>

#include "QkXDR.hpp"

namespace qkxdr::json {

// How the values of a stream sit in the JSON text.
enum class Layout {
  Lines,  // each top-level value on a line of its own (JSON Lines)
  Array,  // the whole stream as the elements of one JSON array
};

// What becomes of the JSON values that no QkXDR type holds: objects other
// than the two tagged forms above, true, false and null.
enum class Others {
  Refuse,   // an error that names the place
  Convert,  // an object: an array of [key, value] arrays, in order;
            // true and false: the integers 1 and 0; null: an empty array
};

struct Options {
  Layout layout = Layout::Lines;
  Others others = Others::Refuse;  // JSON to QkXDR only
};

// Why a conversion stopped.
struct Error {
  // to_json: the 0-based index of the value in the stream; from_json: the
  // byte offset in the JSON text.
  std::size_t offset = 0;
  std::string message;  // one line, no place in it
};

// Appends the values of `in`, from its current value to its end, to *json:
// UTF-8 with "\n" after each line. False, with *error, when the stream holds
// what JSON cannot: an array end with no open array, arrays still open at
// its end, a value the reader cannot read (damaged data). An empty Reader
// is an empty stream.
bool to_json(Reader& in, std::string* json, const Options& options, Error* error);

// Writes the values of the JSON text to `out`. False, with the first
// problem in *error, for text that is not JSON (with the JSON Lines layout:
// top-level values that do not each stand on a line of their own), and for
// a value that no QkXDR type holds: an integer beyond 64 bits, a number
// beyond the range of a double, a string holding U+0000 (the writers take
// zero-terminated strings), and the others that options.others refuses.
// `out` then holds the values before the problem.
bool from_json(std::string_view json, Writer& out, const Options& options, Error* error);

}  // namespace qkxdr::json

#endif  // QKXDR_JSON_HPP_
