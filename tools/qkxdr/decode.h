// decode: a binary input to the text form or to JSON, as it is read.

#ifndef QKXDR_TOOLS_QKXDR_DECODE_H_
#define QKXDR_TOOLS_QKXDR_DECODE_H_

#include "command.h"

namespace qkxdr::tool {

// Decodes the binary input of `options` to the text form on its output, in
// memory bounded by the largest value; returns the exit status.
int DecodeToText(const Options& options);

// The same to JSON, one top-level value at a time: memory bounded by the
// largest of them.
int DecodeToJson(const Options& options);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_DECODE_H_
