// The commands that read the text form: encode, and decode --json --text.

#ifndef QKXDR_TOOLS_QKXDR_ENCODE_H_
#define QKXDR_TOOLS_QKXDR_ENCODE_H_

#include "command.h"

namespace qkxdr::tool {

// Encodes the text input of `options` on its output, in memory bounded by
// its longest token; returns the exit status. A named input file is checked
// first, so that nothing is written when it is malformed.
int EncodeText(const Options& options);

// decode --json --text: the text form to JSON, a top-level value at a time,
// in memory bounded by the largest; returns the exit status. A named input
// file is checked first.
int DecodeTextToJson(const Options& options);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_ENCODE_H_
