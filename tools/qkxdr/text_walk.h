// The text input of encode, validate --text and decode --json --text, checked
// piece by piece as it is read (see text_source.h), with the problems and
// the findings of each piece reported at their places in the whole input.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_WALK_H_
#define QKXDR_TOOLS_QKXDR_TEXT_WALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "text_forms.h"
#include "values.h"

namespace qkxdr::tool {

// A well-formed piece: `prefixed` holds "[" for each array open before it,
// then its units, as the library's reader reads it; `values` counts the
// values before it. False ends the walk there.
using TakePiece = std::function<bool(const TextInput& piece, const std::u16string& prefixed,
                                     uint64_t values, bool last)>;

// Reads and checks the text input of `options` piece by piece, as validate
// --text checks a text, and hands each piece to take(). On the first
// problem, or a failure to read, prints it and returns false with the exit
// status in *status. *values counts the values of the pieces handed out;
// *size the bytes read. Says how many invalid sequences were replaced before
// a problem, and with `warn` also at the end.
bool WalkText(const Options& options, const TakePiece& take, bool warn, uint64_t* values,
              uint64_t* size, int* status);

// Reads the values of a piece handed out by WalkText with the library's
// text decoder, doubles as the nearest ones to their text, and copies them
// to `out` (see CopyValues).
template <typename Out>
CopyResult CopyPiece(const TextInput& piece, const std::u16string& prefixed, Out* out) {
  impl::ExactTextDecoder reader(prefixed.data(), prefixed.data() + prefixed.size());
  Value value;
  for (uint64_t i = 0; i < piece.depth; ++i) ReadValue(&reader, &value);  // the prefix
  return CopyValues(&reader, out);
}

// Prints the findings of the pieces of a text, each with its place, as errors
// or as warnings: 20 of them, then how many more there were. They are held
// until the end, so that a problem found later is the only message.
class FindingPrinter {
 public:
  // Only the losses when `lossesOnly`.
  FindingPrinter(const Options& options, bool lossesOnly, bool warn)
      : options_(options), lossesOnly_(lossesOnly), warn_(warn) {}

  // The findings of the next piece; returns how many there were so far.
  size_t Print(const TextInput& piece, bool last);
  // Prints them, and how many were not shown; returns how many there were.
  size_t Finish();
  size_t count() const { return count_; }

 private:
  const Options& options_;
  bool lossesOnly_;
  bool warn_;
  FormContext context_;
  size_t count_ = 0;
  std::vector<std::string> shown_;
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_WALK_H_
