// The annotated view of a binary stream for a person: one line per value
// with its byte offset, its run and its value, indented by array depth, with
// every fault marked on the line where it is met.

#ifndef QKXDR_TOOLS_QKXDR_DUMP_H_
#define QKXDR_TOOLS_QKXDR_DUMP_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "file_io.h"
#include "item_writer.h"

namespace qkxdr::tool {

// Appends the bytes [p, p + n) as uppercase digit pairs, with `separator`
// between pairs when it is not '\0'.
void AppendHex(const uint8_t* p, size_t n, char separator, std::string* out);

// The view of [begin, end), written to *out; the number of problems marked.
uint64_t Dump(const uint8_t* begin, const uint8_t* end, bool hex, Output* out);

// What is wrong at an item with a fault, in words.
std::string DescribeFault(const WalkItem& item);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_DUMP_H_
