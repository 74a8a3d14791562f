// The text input of encode, validate --text and decode --json --text, read as
// it comes and split into tokens by the library's tokenizer: in time linear
// in the input, in memory bounded by its longest token. Every fault the
// library's text reader stops at is found at its place, and every value
// read here is what the reader reads from the whole text.

#ifndef QKXDR_TOOLS_QKXDR_TEXT_WALK_H_
#define QKXDR_TOOLS_QKXDR_TEXT_WALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/text/exact_number.h"
#include "qkxdr/detail/text/reader_values.h"
#include "qkxdr/detail/text/tokenizer.h"

namespace qkxdr::tool {

// A token (a string or a word) may be this long at most, in units.
constexpr size_t kMaxTokenUnits = size_t{64} << 20;

// One token of a well-formed text: an array's "[" or "]", or a value.
struct TextItem {
  QkXDRType2 type = QkXDRType2::None;      // ArrayBegin, ArrayEnd, Int, Double, String, Binary
  const impl::TextValue* value = nullptr;  // for a value: as the tokenizer read it
  std::u16string_view units;               // the token's own text
  uint64_t unit = 0;                       // where it starts in the whole text
  uint64_t index = 0;                      // values before it
  uint64_t depth = 0;                      // arrays open after it
  std::optional<uint64_t> comma;           // the comma between it and the token before
};

// Whether the item is a string holding U+0000, which no writer takes.
inline bool IsZeroUnitString(const TextItem& item) {
  return item.type == QkXDRType2::String &&
         impl::HoldsZeroUnit(std::u16string_view(item.value->text));
}

// Writes what the item reads as to a streaming writer of the library
// (qkxdr/stream.hpp): doubles as the nearest to their text.
template <typename Writer>
void WriteTextItem(const TextItem& item, Writer* out) {
  switch (item.type) {
    case QkXDRType2::ArrayBegin:
      out->begin_array();
      break;
    case QkXDRType2::ArrayEnd:
      out->end_array();
      break;
    case QkXDRType2::Int:
      out->write(item.value->integer);
      break;
    case QkXDRType2::Double:
      out->write(impl::NearestDouble(item.units.data(), item.units.data() + item.units.size(),
                                     item.value->real));
      break;
    case QkXDRType2::String:
      out->write(std::u16string_view(item.value->text));
      break;
    default: {
      std::vector<uint8_t> bytes(impl::HexBlobSize(item.value->text));
      impl::DecodeHexBlob(item.value->text, bytes.data());
      out->write(bytes);
      break;
    }
  }
}

// What a well-formed text holds that a careful writer would not write: values
// whose text does not read back as written, and the lenient forms that only
// the library's reader takes. The text writer's own forms ("1." for 1.0,
// "5.e-002", no comma before a blob) are not lenient.
struct TextFinding {
  uint64_t unit = 0;  // where the form starts in the text
  bool loss = false;  // the value read differs from what the text says
  std::string what;   // one line, with the form quoted
};

// The findings of the next item of a text, in text order (text_forms.cpp).
// *after_value says whether a value or "]" came last, and is updated.
std::vector<TextFinding> FindTextForms(const TextItem& item, bool* after_value);

class TextWalk {
 public:
  explicit TextWalk(const Options& options) : options_(options), reader_(options) {}

  // Reads the text input to its end and hands every item to take() until it
  // returns false. At the first problem, or a failure to read, prints it and
  // returns false with the exit status in *status. Says how many invalid
  // sequences were replaced before a problem, and with `warn` also at the
  // end.
  bool Run(const std::function<bool(const TextItem&)>& take, bool warn, int* status);

  // "line L, column C (byte B)" for a unit at or after the start of the
  // last item handed out, for the comma before it or after the last item,
  // and for first_invalid().
  std::string Place(uint64_t unit) const;

  uint64_t values() const { return values_; }
  uint64_t bytes() const { return reader_.read(); }
  // After Run: the comma after the last item, if any.
  std::optional<uint64_t> trailing_comma() const { return comma_.unit; }
  // The unit of the first invalid UTF-8 sequence (UTF-16: an odd last
  // byte), if any.
  std::optional<uint64_t> first_invalid() const { return invalid_.unit; }

 private:
  // Where a unit of the text is in the input.
  struct Cursor {
    uint64_t unit = 0;
    uint64_t byte = 0;
    uint64_t line = 1;
    uint64_t column = 1;
  };
  // A unit whose place may be asked for once its text is dropped.
  struct Noted {
    std::optional<uint64_t> unit;
    std::string place;  // worked out before the unit is dropped
  };

  bool Fill(int* status);
  void Convert();
  size_t HeldBack() const;
  void Drop();
  void Keep(Noted* noted, uint64_t until);
  void Advance(Cursor* at, uint64_t unit) const;
  const char16_t* PassSeparator(const char16_t* cur, const char16_t* end);
  // Hands out the next item (*done at the end, or when take() says so), or
  // waits for the units that decide it; false at a problem, printed.
  bool Step(const std::function<bool(const TextItem&)>& take, int* status, bool* done);
  // Prints the problem at `at`, with the text there when `excerpt`.
  bool Fail(size_t at, const std::string& what, int* status, bool excerpt = false);
  void WarnReplaced();
  // The text at `unit`, to the line's end and 16 characters at most.
  std::string Excerpt(uint64_t unit) const;
  size_t Local(uint64_t unit) const { return static_cast<size_t>(unit - base_); }

  const Options& options_;
  InputReader reader_;
  impl::TextTokenizer tokenizer_{impl::ContainerKind::Array};
  std::vector<uint8_t> bytes_;  // read, from cursor_.byte on
  size_t converted_ = 0;        // of bytes_, in units_
  std::u16string units_;        // the text from unit base_ on
  uint64_t base_ = 0;           // the text's unit at units_[0]
  size_t pos_ = 0;              // in units_, after the last item
  size_t waited_ = 0;           // units after pos_ when the last step had to wait
  Cursor cursor_;               // at base_
  bool marked_ = false;         // the byte-order mark was looked for
  bool end_ = false;            // the input has ended: units_ ends with a space of our own
  size_t replaced_ = 0;
  uint64_t values_ = 0;
  Noted comma_;  // passed since the last item
  Noted invalid_;
};

// Prints the findings of a text, each with its place, as errors or as
// warnings: 20 of them, then how many more there were. They are held until
// the end, so that a problem found later is the only message.
class FindingPrinter {
 public:
  // All forms with `strict`, else only the values that do not read back.
  FindingPrinter(const Options& options, bool strict, bool warn)
      : options_(options), strict_(strict), warn_(warn) {}

  // The findings of the item; returns how many there were so far.
  size_t Check(const TextWalk& walk, const TextItem& item);
  // Adds the findings of the end of the text; returns how many there were.
  size_t Close(const TextWalk& walk);
  // Prints them, in text order, and how many were not shown.
  void Print();

 private:
  void Add(const TextWalk& walk, uint64_t unit, const std::string& what);

  const Options& options_;
  bool strict_;
  bool warn_;
  bool after_value_ = false;
  size_t count_ = 0;
  std::vector<std::pair<uint64_t, std::string>> shown_;
};

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_TEXT_WALK_H_
