// A text input read piece by piece, in memory bounded by its longest token.
//
// Each piece but the last ends between two tokens, outside strings and
// objects, right before a value: the library's reader makes of a piece,
// read after a "[" for each array open before it, what it makes of the same
// units in the whole text. So each piece can be checked and read alone.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_SOURCE_H_
#define QKXDR_TOOLS_QKXDR_TEXT_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "command_io.h"
#include "file_io.h"

namespace qkxdr::tool {

// Pieces are cut once they hold this many units.
constexpr size_t kPieceUnits = size_t{1} << 20;
// Units of the text after a piece that it holds, for showing where a
// problem is.
constexpr size_t kAheadUnits = 40;
// A token (a string or a word) may be this long at most, in units.
constexpr size_t kMaxTokenUnits = size_t{64} << 20;

class TextSource {
 public:
  explicit TextSource(const Options& options) : options_(options) {}

  // On failure prints why and returns false with the exit status in *status.
  bool Open(int* status);

  // Fills *piece with the next piece, *last telling whether it ends the
  // text (an empty text is one empty piece). On failure prints why and
  // returns false with the exit status in *status.
  bool Next(TextInput* piece, bool* last, int* status);

  // Warns when invalid sequences were replaced so far.
  void WarnReplaced();
  // Erases the progress line, so that a message can start on a clean line.
  void ClearProgress();

  // Bytes read.
  uint64_t size() const { return read_; }

 private:
  void Fail(const std::string& why, int* status);
  bool Fill(int* status);
  void Convert();
  size_t HeldBack() const;
  void Scan();
  bool Probe();
  void Cut(size_t units, TextInput* piece);

  const Options& options_;
  Input input_;
  std::optional<Progress> progress_;
  bool end_ = false;
  bool marked_ = false;  // the byte-order mark is looked for
  uint64_t read_ = 0;
  size_t replaced_ = 0;
  size_t probe_ = kPieceUnits;  // units at which to look for a fault without a cut
  TextInput held_;              // what is read but not handed out
  size_t converted_ = 0;        // bytes of held_.bytes in held_.units
  // The scan of held_.units for places to cut.
  size_t scanned_ = 0;
  char16_t quote_ = 0;  // of the string open
  bool escape_ = false;
  bool broken_ = true;  // a separator, bracket or closing quote came last
  int64_t depth_ = 0;   // arrays open
  uint64_t braces_ = 0;
  size_t cut_ = 0;  // the last place to cut with units enough after it, 0 for none
  uint64_t cutDepth_ = 0;
  size_t next_ = 0;  // the first place to cut found since cut_, while units follow
  uint64_t nextDepth_ = 0;
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_SOURCE_H_
