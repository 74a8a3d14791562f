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

struct DumpTotals {
  uint64_t values = 0;
  uint64_t faults = 0;
};

// Writes the view of [begin, end) to *out; with `hex`, each value's raw
// bytes too, eight on its own line and the rest on lines of their own.
// Shows items one by one as rows, written to `out` in pieces; with `hex`
// every byte too.
class Dumper {
 public:
  Dumper(bool hex, Output* out);
  // A row for the item, whose bytes `bytes` holds.
  void Take(const WalkItem& item, const StreamBytes& bytes);
  // The last row, for a stream of `size` bytes.
  DumpTotals Finish(uint64_t size);

 private:
  bool hex_;
  Output* out_;
  std::string text_;
  DumpTotals totals_;
  WalkItem unclosed_;
  bool open_ = false;
};

DumpTotals Dump(const uint8_t* begin, const uint8_t* end, bool hex, Output* out);

// What is wrong at an item with a fault, in words.
std::string DescribeFault(const WalkItem& item);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_DUMP_H_
