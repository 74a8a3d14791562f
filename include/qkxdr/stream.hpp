// qkxdr/stream.hpp: values read as their bytes arrive, and long sequences
// written out as they are made, both in bounded memory.
//
//   qkxdr::BinaryStreamReader in;  // or TextStreamReader, fed UTF-16 units
//   while (std::size_t n = receive(chunk, sizeof chunk)) {
//     in.feed(chunk, n);
//     while (qkxdr::BinaryValues* value = in.next()) {
//       qkxdr::Result<Point> p = value->read<Point>();
//     }
//   }
//   in.finish();
//   while (in.next()) ...;       // a value the end of the input completed
//   if (in.failed()) std::cerr << in.error().message() << '\n';
//
//   // Faster: every value a chunk completed at once, then read one by one.
//   while (qkxdr::BinaryValues* values = in.next_all())
//     while (values->valid()) qkxdr::Result<Point> p = values->read<Point>();
//
//   qkxdr::BinaryStreamWriter out(std::cout);  // or a sink function
//   for (const Point& p : points) out.write(p);
//   if (!out.flush()) ...;       // the destructor flushes too, silently
//
// A reader hands out each complete top-level value (or, with
// StreamUnit::elements, each element of the outer arrays), or all complete
// values at once, as a view that reads them as typed values. The values are
// those the whole-buffer readers give on the same bytes. docs/api.md
// ("Streaming") has the details.

#ifndef QKXDR_STREAM_HPP_
#define QKXDR_STREAM_HPP_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "qkxdr/detail/binary/varint_word.h"
#include "qkxdr/error.hpp"
#include "qkxdr/typed.hpp"

namespace qkxdr {

// What a stream reader hands out.
enum class StreamUnit {
  values,    // each top-level value
  elements,  // each element of the top-level arrays; a top-level scalar is malformed
};

// Longest value a reader holds by default, in bytes or UTF-16 units.
constexpr std::size_t kDefaultMaxValue = std::size_t{64} << 20;
// Output a writer collects before it passes it on, in bytes or UTF-16 units.
constexpr std::size_t kDefaultFlushSize = std::size_t{64} << 10;

namespace detail {

enum class ScanStatus { More, Value, Malformed };

// What one scan found: complete values at [begin, end) of the buffer, a
// malformed one at begin, or the need for more input.
struct Scanned {
  ScanStatus status = ScanStatus::More;
  std::size_t begin = 0;
  std::size_t end = 0;
  ErrorCode code = ErrorCode::malformed;
  const char* what = "";
};

// The values one scan gathers, the value open where it stopped, and the
// malformed value that stopped the scanner, which is reported once the
// values before it are handed out.
//
// A value may be max_value units long, counted from its first unit to its
// last. A longer one is refused (too_large) at its first unit as soon as
// the units known to belong to it are more than that: when it ends, when
// the input stops inside it, and when a malformed item inside it starts
// past the limit. The units known to belong to it, and so the answer, do
// not depend on where the input was cut.
class ScanBatch {
 public:
  // The malformed value found, if any (else status More).
  const Scanned& fault() const { return fault_; }
  std::size_t max_value() const { return max_value_; }

 protected:
  explicit ScanBatch(std::size_t max_value) : max_value_(max_value) {}

  // Starts a scan that ends after one value, or (many) after as many
  // values as follow each other in the buffer.
  void Start(bool many) {
    many_ = many;
    found_ = {};
  }
  bool Empty() const { return found_.status != ScanStatus::Value; }
  bool many() const { return many_; }
  // What the scan found: its values, else the need for more input.
  const Scanned& Found() const { return found_; }

  // The value that starts at `at` is open until EndValue.
  void BeginValue(std::size_t at) {
    in_value_ = true;
    value_begin_ = at;
  }
  bool InValue() const { return in_value_; }
  std::size_t ValueBegin() const { return value_begin_; }
  // The first unit still needed, the scan being at `pos`: the open value's,
  // or pos.
  std::size_t KeptFrom(std::size_t pos) const { return in_value_ ? value_begin_ : pos; }
  // The first k units are gone from the buffer.
  void ShiftValue(std::size_t k) { value_begin_ -= (std::min)(value_begin_, k); }
  bool TooLong(std::size_t units) const { return units > max_value_; }

  // The open value is complete before `end`; true when the scan ends with
  // it: one value was asked for, or it is too long.
  bool EndValue(std::size_t end) {
    in_value_ = false;
    if (TooLong(end - value_begin_)) return TooLarge(value_begin_);
    if (Empty()) found_ = {ScanStatus::Value, value_begin_, end, ErrorCode::malformed, ""};
    found_.end = end;
    return !many_;
  }
  // A malformed value at `at`: the scan ends.
  bool Fail(std::size_t at, const char* what, ErrorCode code = ErrorCode::malformed) {
    fault_ = {ScanStatus::Malformed, at, at, code, what};
    return true;
  }
  // A malformed item whose first unit is `first`, reported at `at`: the
  // open value is refused as too long instead when it was before the item.
  bool FailInside(std::size_t first, std::size_t at, const char* what,
                  ErrorCode code = ErrorCode::malformed) {
    if (in_value_ && TooLong(first - value_begin_)) return TooLarge(value_begin_);
    return Fail(at, what, code);
  }
  // The input stops before `known`, up to where the open value, if any, is
  // known: true when that is too long, or at the end of the input (`cut`)
  // when something is open there, which fails at `at`.
  bool Unfinished(std::size_t known, bool cut, std::size_t at) {
    if (in_value_ && TooLong(known - value_begin_)) return TooLarge(value_begin_);
    return cut && Fail(at, "the input ends inside a value", ErrorCode::truncated);
  }

 private:
  bool TooLarge(std::size_t at) {
    return Fail(at, "a value longer than the limit of ", ErrorCode::too_large);
  }

  std::size_t max_value_;
  bool many_ = false;
  bool in_value_ = false;
  std::size_t value_begin_ = 0;
  Scanned found_;
  Scanned fault_;
};

// Finds where the values of a binary stream end as the bytes come, keeping
// its place between calls: every byte is looked at once, runs of numbers
// and the units of strings a word at a time, but for those of an item cut
// by the end of a chunk, which are looked at up to twice more (a length cut
// there, up to five bytes, again with each chunk), and for those of an array
// value that is not all there where its scan starts, looked at once more.
// An array value that is all there is passed in one loop over its runs.
class BinaryScanner : public ScanBatch {
 public:
  using Unit = std::uint8_t;
  using Decoder = impl::BinaryDecoder;

  BinaryScanner(StreamUnit unit, std::size_t max_value)
      : ScanBatch(max_value), base_(unit == StreamUnit::elements ? 1 : 0) {}

  // Scans data[0, size), of which the bytes before Kept() are those given
  // before, from where the last call stopped, for one value or (many) all
  // that are complete; with `final` no byte comes after data[size - 1].
  //
  // A value starts, and its faults are placed, where the decoder places
  // it: at the byte after the tag byte for the first value of a run; for
  // an array marker, which has no payload, at the byte after its run.
  Scanned Scan(const std::uint8_t* data, std::size_t size, bool final, bool many) {
    Start(many);
    while (!Step(data, size)) {
    }
    if (fault().status != ScanStatus::Malformed && (part_ != Part::None || pos_ >= size)) {
      // The data ran out: an item is cut at its start, else at the end.
      Unfinished(size, final && (InValue() || depth_ != 0),
                 part_ != Part::None ? item_begin_ : size);
    }
    return Found();
  }

  // The first byte still needed: the open value's, or the next to scan.
  std::size_t Kept() const { return KeptFrom(pos_); }

  // The first k bytes are gone from the buffer.
  void Shift(std::size_t k) {
    pos_ -= k;
    ShiftValue(k);
    item_begin_ -= (std::min)(item_begin_, k);
    run_tag_ = Dropped(run_tag_, k);
    cut_tag_ = Dropped(cut_tag_, k);
  }

  // Builds in *out a decoder over the values Scan found last, holding
  // exactly them: a run they end inside is cut at their end, in the buffer
  // when its tag byte is among them (that byte is never scanned again).
  void Open(std::uint8_t* data, const Scanned& found, std::optional<Decoder>* out) const {
    impl::RunState first = first_of_batch_;
    if (cut_.count != 0) {
      if (cut_tag_ >= static_cast<std::ptrdiff_t>(found.begin)) {
        const auto own = static_cast<std::uint8_t>(cut_total_ - cut_.count);
        data[cut_tag_] = impl::RunState{cut_.type, own}.TagByte();
      } else {
        first.count = static_cast<std::uint8_t>(first.count - cut_.count);
      }
    }
    // The first run comes from the scan: it may start before the values.
    out->emplace(data + found.begin, data + found.end, first);
  }

 private:
  // The part of a string, blob, number or double being passed.
  enum class Part : std::uint8_t { None, Length, Varint, Units, Bytes };

  // Scans on by one item, run or tag byte; true when the scan ends.
  bool Step(const std::uint8_t* data, std::size_t size) {
    if (part_ != Part::None) {
      if (!PassWhole(data, size) && !ContinueItem(data, size)) return true;
      --run_.count;
      return depth_ == base_ && Completed();
    }
    if (run_.count == 0) {
      if (pos_ >= size) return true;
      if (!LoadTag(data[pos_])) {
        return FailInside(pos_ - 1, pos_, "a tag byte of no type (252-255)");
      }
    }
    switch (run_.type) {
      case impl::WireType::ArrayBegin:
        if (!InValue() && depth_ == base_ && PassWholeArray(data, size)) return Completed();
        Begins();
        return false;
      case impl::WireType::ArrayEnd:
        return Ends();
      default:
        return PassItems(data, size);
    }
  }

  // Where a byte at `at` is once the first k bytes are gone: -1 when it is
  // gone too (kept there, so that no run of drops can wrap it).
  static std::ptrdiff_t Dropped(std::ptrdiff_t at, std::size_t k) {
    return at < 0 || static_cast<std::size_t>(at) < k ? -1 : at - static_cast<std::ptrdiff_t>(k);
  }

  bool LoadTag(std::uint8_t tag) {
    run_tag_ = static_cast<std::ptrdiff_t>(pos_++);
    run_.Split(tag);
    run_total_ = run_.count;
    return run_.type != impl::WireType::Other;
  }

  // A value starts at pos_ with `first`, the rest of the run there.
  void StartValue(impl::RunState first) {
    BeginValue(pos_);
    first_run_ = first;
  }

  // The open value is complete; true when the scan ends with it.
  bool Completed() {
    if (TooLong(pos_ - ValueBegin())) return EndValue(pos_);  // refused: not in the batch
    if (Empty()) first_of_batch_ = first_run_;
    cut_ = run_;
    cut_tag_ = run_tag_;
    cut_total_ = run_total_;
    return EndValue(pos_);
  }

  // A run of array openings, passed whole: all but one open arrays inside
  // the first.
  void Begins() {
    std::uint32_t n = run_.count;
    run_.count = 0;
    if (!InValue() && depth_ < base_) {  // the outer array of StreamUnit::elements
      depth_ = base_;
      if (--n == 0) return;
    }
    if (!InValue()) StartValue({impl::WireType::ArrayBegin, static_cast<std::uint8_t>(n)});
    depth_ += n;
  }

  // A run of array ends, as far as they close the open value; true when
  // the scan ends: a value is complete, an end closes nothing, or the outer
  // array of StreamUnit::elements closes after values (its end is no value's).
  bool Ends() {
    if (depth_ == 0) return Fail(pos_, "an array end that closes no array");
    if (depth_ == base_) {
      depth_ = 0;
      --run_.count;
      return !Empty();
    }
    const std::uint64_t open = depth_ - base_;
    const auto closed = static_cast<std::uint8_t>(std::min<std::uint64_t>(run_.count, open));
    depth_ -= closed;
    run_.count = static_cast<std::uint8_t>(run_.count - closed);
    return depth_ == base_ && Completed();
  }

  // Passes what is there of the current run of numbers, strings or blobs:
  // the items that are all there at once, as many as may go into the scan;
  // else starts one item. True when the scan ends.
  bool PassItems(const std::uint8_t* data, std::size_t size) {
    if (!InValue()) {
      if (depth_ < base_) return Fail(pos_, "a value outside the outer array");
      StartValue(run_);
    }
    const bool values = depth_ == base_;  // each item is a value
    const std::uint32_t passed = PassWholeItems(data, size, values && !many() ? 1 : run_.count);
    if (passed == 0) {
      item_begin_ = pos_;
      StartItem();
      return false;
    }
    if (values && passed > 1 && TooLong(pos_ - ValueBegin())) return PassEach(data, size, passed);
    run_.count = static_cast<std::uint8_t>(run_.count - passed);
    return values && Completed();
  }

  // Passes again, one at a time, n items that are each a value and were
  // passed together: together they are longer than the limit, so each is
  // held to it. True when the scan ends.
  bool PassEach(const std::uint8_t* data, std::size_t size, std::uint32_t n) {
    pos_ = ValueBegin();
    for (; n != 0; --n) {
      if (!InValue()) StartValue(run_);
      PassWholeItems(data, size, 1);
      --run_.count;
      if (Completed()) return true;
    }
    return false;
  }

  // Passes up to `limit` items of the run that are all there; how many.
  std::uint32_t PassWholeItems(const std::uint8_t* data, std::size_t size, std::uint32_t limit) {
    switch (run_.type) {
      case impl::WireType::Int:
        return static_cast<std::uint32_t>(PassStops(data, size, &pos_, limit));
      case impl::WireType::Double: {
        const auto whole = static_cast<std::uint32_t>(
            std::min<std::size_t>(limit, (size - pos_) / impl::kDoubleSize));
        pos_ += std::size_t{whole} * impl::kDoubleSize;
        return whole;
      }
      default: {  // String, Binary
        std::uint32_t whole = 0;
        while (whole != limit && PassSized(data, size)) ++whole;
        return whole;
      }
    }
  }

  // Passes a string or blob when its length and payload are all there.
  bool PassSized(const std::uint8_t* data, std::size_t size) {
    const std::size_t end = SizedEnd(data, size, pos_, run_.type);
    if (end == 0) return false;
    pos_ = end;
    return true;
  }

  // Where the string or blob (`type`) at `at` ends when its length and
  // payload are all there; else 0, where no item ends.
  QKXDR_INLINE static std::size_t SizedEnd(const std::uint8_t* data, std::size_t size,
                                           std::size_t at, impl::WireType type) {
    const std::uint8_t* const p = data + at;
    std::uint32_t n = 0;
    const std::uint8_t* const after = impl::GetVarint32(p, data + size, &n);
    if (!impl::VarintComplete(p, after)) return 0;
    at = static_cast<std::size_t>(after - data);
    if (type == impl::WireType::Binary) {
      if (n > size - at) return 0;
      return at + n;
    }
    if (n <= size - at && impl::EveryByteEnds(data + at, n)) return at + n;  // ASCII
    return PassStops(data, size, &at, n) == n ? at : 0;
  }

  // Passes at once a value that is an array, from the run of openings just
  // loaded to the run of ends that closes it, when all its bytes are there:
  // the state is then the one Step leaves after passing it run by run. False,
  // with nothing changed, when the value is cut, holds a malformed tag byte
  // or a cut item, or closes inside a run of ends: Step passes it then.
  bool PassWholeArray(const std::uint8_t* data, std::size_t size) {
    std::size_t p = pos_;
    std::uint64_t open = run_.count;
    impl::RunState run;
    std::size_t tag = 0;
    while (open != 0) {
      if (p >= size) return false;
      tag = p;
      run.Split(data[p++]);
      if (!PassRunIn(data, size, run, &p, &open)) return false;
    }
    StartValue({impl::WireType::ArrayBegin, run_.count});
    run_ = {impl::WireType::ArrayEnd, 0};
    run_tag_ = static_cast<std::ptrdiff_t>(tag);
    run_total_ = run.count;
    pos_ = p;
    return true;
  }

  // Passes the payloads of `run`, whose tag byte is before *p, inside an
  // array value with *open arrays open; false when they are not all there,
  // the tag byte has no type, or its ends close more than is open.
  QKXDR_INLINE static bool PassRunIn(const std::uint8_t* data, std::size_t size, impl::RunState run,
                                     std::size_t* p, std::uint64_t* open) {
    switch (run.type) {
      case impl::WireType::ArrayBegin:
        *open += run.count;
        return true;
      case impl::WireType::ArrayEnd:
        if (run.count > *open) return false;
        *open -= run.count;
        return true;
      case impl::WireType::Int:
        return PassStops(data, size, p, run.count) == run.count;
      case impl::WireType::Double: {
        const std::size_t bytes = std::size_t{run.count} * impl::kDoubleSize;
        if (size - *p < bytes) return false;
        *p += bytes;
        return true;
      }
      case impl::WireType::String:
      case impl::WireType::Binary:
        for (std::uint8_t i = 0; i != run.count; ++i) {
          *p = SizedEnd(data, size, *p, run.type);
          if (*p == 0) return false;
        }
        return true;
      default:
        return false;
    }
  }

  // Passes varints from *pos until n have ended or the data does, eight
  // bytes at a time where they are there; *pos ends after the last one
  // that ended. Returns how many ended.
  QKXDR_INLINE static std::uint64_t PassStops(const std::uint8_t* data, std::size_t size,
                                              std::size_t* pos, std::uint64_t n) {
    std::size_t p = *pos;
    std::uint64_t passed = 0;
    for (; passed != n && size - p >= impl::kWordSize; p += impl::kWordSize) {
      std::uint64_t stops = impl::LoadWord(data + p) & 0x8080808080808080;
      if (stops == 0) continue;
      const std::uint64_t here = impl::CountBytes(stops >> 7);
      if (passed + here >= n) {  // the n-th ends in this word
        *pos = p + ThroughStop(stops, n - passed);
        return n;
      }
      passed += here;
      *pos = p + impl::BitWidth(stops) / 8;
    }
    for (; passed != n && p < size; ++p) {
      if (data[p] & 0x80) {
        ++passed;
        *pos = p + 1;
      }
    }
    return passed;
  }

  // Bytes of a word up to its k-th terminating byte (k >= 1), which it has
  // (`stops`: its terminating bits). Each byte of the running count holds
  // the stops up to it, at most 8, so the bytes compare without carries.
  static std::size_t ThroughStop(std::uint64_t stops, std::uint64_t k) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    const std::uint64_t counts = (stops >> 7) * kOnes;
    const std::uint64_t reached = ((counts | (kOnes << 7)) - k * kOnes) & (kOnes << 7);
    return impl::CountBytes(reached ^ (reached - 1));
  }

  // Starts an item whose bytes are not all there.
  void StartItem() {
    switch (run_.type) {
      case impl::WireType::Int:
        part_ = Part::Varint;
        then_ = Part::None;
        break;
      case impl::WireType::Double:
        part_ = Part::Bytes;
        need_ = impl::kDoubleSize;
        break;
      default:  // String, Binary: a length first
        part_ = Part::Length;
        break;
    }
  }

  // The common cases at once: an integer or a double whose bytes are all
  // there. False leaves the item to ContinueItem.
  bool PassWhole(const std::uint8_t* data, std::size_t size) {
    if (part_ == Part::Varint && then_ == Part::None) {
      const std::uint8_t* const p = data + pos_;
      const std::size_t length = size - pos_ >= impl::kWordSize ? VarintLength(p) : 0;
      if (length != 0) {
        pos_ += length;
      } else {
        const std::uint8_t* const after = impl::SkipVarint(p, data + size);
        if (!impl::VarintComplete(p, after)) return false;
        pos_ = static_cast<std::size_t>(after - data);
      }
    } else if (part_ == Part::Bytes && size - pos_ >= need_) {
      pos_ += static_cast<std::size_t>(need_);
      need_ = 0;
    } else {
      return false;
    }
    part_ = Part::None;
    return true;
  }

  // Bytes of the varint at p, which has a word of bytes after it, when it
  // ends within them; else 0. Without a branch on the length.
  static std::size_t VarintLength(const std::uint8_t* p) {
    const std::uint64_t stops = impl::LoadWord(p) & 0x8080808080808080;
    return stops == 0 ? 0 : impl::CountBytes(stops ^ (stops - 1));
  }

  // Passes what is there of the current item; true once it is complete.
  bool ContinueItem(const std::uint8_t* data, std::size_t size) {
    while (part_ != Part::None) {
      if (part_ == Part::Length && !ReadLength(data, size)) return false;
      if (part_ == Part::Varint && !PassVarint(data, size)) return false;
      if (part_ == Part::Units && !PassUnits(data, size)) return false;
      if (part_ == Part::Bytes && !PassBytes(size)) return false;
    }
    return true;
  }

  // A string's or blob's length, decoded as the readers decode it, once its
  // terminating byte or its first five bytes are there.
  bool ReadLength(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* p = data + pos_;
    const std::uint8_t* e = data + size;
    if (e - p < impl::kMaxVarint32 && !impl::VarintComplete(p, impl::SkipVarint(p, e))) {
      return false;
    }
    std::uint32_t n = 0;
    const std::uint8_t* after = impl::GetVarint32(p, e, &n);
    const Part payload = run_.type == impl::WireType::String ? Part::Units : Part::Bytes;
    need_ = n;
    pos_ = static_cast<std::size_t>(after - data);
    // Longer than five bytes and not yet ended: its terminating byte first.
    part_ = impl::VarintComplete(p, after) ? payload : Part::Varint;
    then_ = payload;
    return true;
  }

  bool PassVarint(const std::uint8_t* data, std::size_t size) {
    while (pos_ < size) {
      if (data[pos_++] & 0x80) {
        part_ = then_;
        return true;
      }
    }
    return false;
  }

  // need_ units of a string: one terminating byte each. The bytes after
  // the last unit that ended have no terminating byte: they are passed too.
  bool PassUnits(const std::uint8_t* data, std::size_t size) {
    need_ -= PassStops(data, size, &pos_, need_);
    if (need_ != 0) {
      pos_ = size;
      return false;
    }
    part_ = Part::None;
    return true;
  }

  bool PassBytes(std::size_t size) {
    const std::uint64_t take = std::min<std::uint64_t>(need_, size - pos_);
    pos_ += static_cast<std::size_t>(take);
    need_ -= take;
    if (need_ != 0) return false;
    part_ = Part::None;
    return true;
  }

  std::uint64_t base_;       // depth at which values stand: 1 inside the outer array
  std::uint64_t depth_ = 0;  // arrays open
  std::size_t pos_ = 0;      // next byte to scan
  impl::RunState run_;       // count: values of the run not yet passed
  std::uint8_t run_total_ = 0;
  std::ptrdiff_t run_tag_ = 0;  // where the run's tag byte is; below 0 once dropped
  Part part_ = Part::None;
  Part then_ = Part::None;         // after a long length: the payload
  std::uint64_t need_ = 0;         // units or bytes of the payload still to pass
  std::size_t item_begin_ = 0;     // where the item being passed starts
  impl::RunState first_run_;       // the open value's first run, from its start on
  impl::RunState first_of_batch_;  // that of the scan's first value
  // The run where the scan's last value ended, with the values left in it.
  impl::RunState cut_;
  std::ptrdiff_t cut_tag_ = 0;
  std::uint8_t cut_total_ = 0;
};

// Finds where the values of a text end, with the library's tokenizer, token
// by token as the units come; numbers and strings are passed where the
// tokenizer would end them, without working out their values. A token
// counts once the units after it decide it: two units more, or the end of
// the input. A token cut off by the end of what came is scanned again only
// once the input past its start has doubled (or is longer than a value may
// be), so every unit is scanned a bounded number of times on average.
// Separators between values are passed as they come and not held. Objects,
// words, the literals and separators without a value between them have no
// value type and are malformed here.
class TextScanner : public ScanBatch {
 public:
  using Unit = char16_t;
  using Decoder = impl::TextDecoder;

  TextScanner(StreamUnit unit, std::size_t max_value)
      : ScanBatch(max_value), base_(unit == StreamUnit::elements ? 2 : 1) {}

  // Scans data[0, size) from where the last call stopped, for one value or
  // (many) all that are complete; with `final` no unit comes after
  // data[size - 1].
  Scanned Scan(const char16_t* data, std::size_t size, bool final, bool many) {
    Start(many);
    if (!final && size - pos_ < 2 * waited_ && !TooLong(size - Kept())) return Found();
    waited_ = 0;
    const char16_t* const end = data + size;
    while (true) {
      const char16_t* const start = PassSeparators(data + pos_, end);
      pos_ = static_cast<std::size_t>(start - data);
      if (start == end) return Stop(size, final);
      impl::TextToken token = impl::TextToken::None;
      const char16_t* const after = StepToken(start, end, &token);
      if (token == impl::TextToken::Value && !final && end - after < 2 && !Misplaced()) {
        waited_ = size - pos_;
        if (!InValue()) BeginValue(pos_);
        return Stop(static_cast<std::size_t>(after - data), false);
      }
      const std::size_t at = pos_;
      pos_ = static_cast<std::size_t>(after - data);
      comma_ = false;
      if (Token(token, at)) return Found();
    }
  }

  std::size_t Kept() const { return KeptFrom(pos_); }

  void Shift(std::size_t k) {
    pos_ -= k;
    ShiftValue(k);
  }

  void Open(const char16_t* data, const Scanned& found, std::optional<Decoder>* out) const {
    out->emplace(data + found.begin, data + found.end);
  }

 private:
  // Passes blanks and a comma, or only blanks when a comma was passed since
  // the last token: the tokenizer's separator, kept track of across chunks.
  const char16_t* PassSeparators(const char16_t* cur, const char16_t* end) {
    cur = impl::TextTokenizer::SkipWhitespace(cur, end);
    if (comma_ || cur == end || *cur != u',') return cur;
    comma_ = true;
    return impl::TextTokenizer::SkipWhitespace(cur + 1, end);
  }

  // Reads the token at start, after separators. A number or quoted string
  // is passed without its value, which the decoder works out; anything else
  // is the tokenizer's Step. After a comma another is no value (None): the
  // tokenizer would pass it.
  const char16_t* StepToken(const char16_t* start, const char16_t* end, impl::TextToken* token) {
    literal_ = false;
    if (comma_ && *start == u',') return start;
    const char16_t* const after = impl::TextTokenizer::PassScalar(start, end);
    if (after != start) {
      *token = impl::TextToken::Value;
      return after;
    }
    tokenizer_.ClearToken();
    const char16_t* const next = tokenizer_.Step(start, end);
    *token = tokenizer_.GetToken();
    literal_ = *token == impl::TextToken::Value;  // numbers and strings are passed above
    return next;
  }

  // No token past pos_ is decided; the open value is known up to `known`.
  // At the end of the input an array still open is cut there.
  Scanned Stop(std::size_t known, bool final) {
    Unfinished(known, final && tokenizer_.containers().depth() > 1, known);
    return Found();
  }

  // Why the value token read last cannot stand where it is, or null. Its
  // first unit and the open arrays tell, so no more units are awaited.
  const char* Misplaced() const {
    if (literal_) return "a word or literal, which has no value type";
    if (tokenizer_.containers().depth() < base_) return "a value outside the outer array";
    return nullptr;
  }

  // Takes a token that starts at `at`; true when the scan ends: a value is
  // complete, the token is malformed, or the outer array of
  // StreamUnit::elements closes after values.
  bool Token(impl::TextToken token, std::size_t at) {
    const std::uint32_t depth = tokenizer_.containers().depth();
    switch (token) {
      case impl::TextToken::Value:
        if (const char* why = Misplaced()) return FailInside(at, at, why);
        return Reached(depth, at);
      case impl::TextToken::BeginArray:
        if (!InValue() && depth == base_ + 1) BeginValue(at);
        return false;
      case impl::TextToken::EndArray:
        if (depth == 0) return Fail(at, "a ']' that closes no array");
        return InValue() ? Reached(depth, at) : !Empty();
      case impl::TextToken::None:
        return FailInside(at, at, "no value here: a ',', ':' or closing bracket out of place");
      default:
        return FailInside(at, at, "an object, which has no value type", ErrorCode::unsupported);
    }
  }

  // A value or array end leaves `depth` containers open: true when the
  // scan ends with it.
  bool Reached(std::uint32_t depth, std::size_t at) {
    if (depth != base_) return false;
    if (!InValue()) BeginValue(at);
    return EndValue(pos_);
  }

  impl::TextTokenizer tokenizer_{impl::ContainerKind::Array};
  std::uint32_t base_;      // containers open where values stand, the root included
  std::size_t pos_ = 0;     // after the last token taken and the separators after it
  std::size_t waited_ = 0;  // units after pos_ when the last scan had to wait
  bool comma_ = false;      // a comma was passed since the last token
  bool literal_ = false;    // the token read last is a word or literal
};

// What a stream reader handed out last: one value (next()) or every value a
// scan found complete (next_all()), read one after the other as typed
// values, or walked into with begin_array() and end_array(). Offsets in its
// errors count from the stream's start.
template <typename Decoder>
class ValueView {
 public:
  // Whether a value is left to read.
  bool valid() const { return decoder_ && decoder_->IsValid(); }
  // The next value's type; QkXDRType2::None when none is left.
  QkXDRType2 peek_type() const { return valid() ? decoder_->PeekType() : QkXDRType2::None; }
  // Where the next value starts, from the stream's start.
  std::uint64_t offset() const { return offset_ + (decoder_ ? decoder_->Position() : 0); }

  // Reads the next value as a T, as from_binary and from_text do; the
  // memory budget counts the units of the values handed out together.
  template <typename T>
  QKXDR_INLINE Result<void> read(T& out, const ReadLimits& limits = {}) {
    if (!valid()) return NoValue();
    return DecodeNext(*decoder_, size_, limits, out, offset_);
  }
  template <typename T>
  QKXDR_INLINE Result<T> read(const ReadLimits& limits = {}) {
    T value{};
    Result<void> done = read(value, limits);
    if (!done) return done.error();
    return Result<T>(std::move(value));
  }
  // Moves into the array that is the next value, or out of the one being
  // read at its end.
  Result<void> begin_array() {
    if (valid() && decoder_->ReadBeginArray()) return {};
    return Refused("expected Array");
  }
  Result<void> end_array() {
    if (valid() && decoder_->ReadEndArray()) return {};
    return Refused("expected ArrayEnd");
  }

 protected:
  ValueView() = default;
  ~ValueView() = default;

 private:
  template <typename Scanner, typename View>
  friend class StreamReader;

  // Why an array marker that was `expected` was not read: none is left, or
  // the next value (not consumed) is another.
  QKXDR_NOINLINE Error Refused(const char* expected) const {
    if (!valid()) return NoValue();
    return Error(ErrorCode::type_mismatch, offset(),
                 std::string(expected) + ", found " + TypeName(decoder_->PeekType()));
  }

  QKXDR_NOINLINE Error NoValue() const {
    return Error(ErrorCode::no_value, offset(), "no value left to read");
  }

  void Open(std::uint64_t offset, std::size_t size) {
    offset_ = offset;
    size_ = size;
  }
  void Close() { decoder_.reset(); }

  std::optional<Decoder> decoder_;
  std::uint64_t offset_ = 0;  // of the values' first unit in the stream
  std::size_t size_ = 0;      // units the values take
};

// Holds the input not yet handed out and hands out its values, one by one
// or all that are complete at once, through a View.
template <typename Scanner, typename View>
class StreamReader {
 public:
  using Unit = typename Scanner::Unit;

  explicit StreamReader(StreamUnit unit = StreamUnit::values,
                        std::size_t max_value = kDefaultMaxValue)
      : scanner_(unit, max_value) {}

  // Appends the n units at data. Ignored after finish() and after a failure.
  // The values next() or next_all() handed out last are gone.
  void feed(const Unit* data, std::size_t n) {
    view_.Close();
    if (finished_ || error_ || n == 0) return;
    DropPassed();
    buffer_.insert(buffer_.end(), data, data + n);
  }

  // No more input comes: what is left must be complete values.
  void finish() {
    view_.Close();
    finished_ = true;
  }

  // A view of exactly the next complete value, valid until the next call of
  // next(), next_all() or feed(); null when more input is needed, at the
  // end, and from the first malformed value on (then failed() is true).
  View* next() { return Take(false); }

  // As next(), but of every complete value that follows in the buffer (with
  // StreamUnit::elements, up to the end of an outer array): one call per
  // chunk instead of one per value. When a malformed value follows them,
  // failed() is already true.
  View* next_all() { return Take(true); }

  bool failed() const { return error_.has_value(); }
  // Why the reader stopped; valid when failed().
  const Error& error() const { return *error_; }
  // finish() was called and next() or next_all() found nothing left: every
  // value was handed out and the input ended whole.
  bool done() const { return drained_ && !error_; }
  // Units held: the open value and what came after it.
  std::size_t buffered() const { return buffer_.size() - scanner_.Kept(); }

 private:
  // next() (one value) or next_all() (many).
  View* Take(bool many) {
    view_.Close();
    if (error_) return nullptr;
    const Scanned found = scanner_.Scan(buffer_.data(), buffer_.size(), finished_, many);
    if (scanner_.fault().status == ScanStatus::Malformed) Fail(scanner_.fault());
    if (found.status != ScanStatus::Value) {
      drained_ = finished_;
      return nullptr;
    }
    view_.Open(passed_ + found.begin, found.end - found.begin);
    scanner_.Open(buffer_.data(), found, &view_.decoder_);
    return &view_;
  }

  // Forgets the units before the open value once they are at least half of
  // the buffer, so that each unit is moved a bounded number of times.
  void DropPassed() {
    const std::size_t kept = scanner_.Kept();
    if (kept == 0 || kept < buffer_.size() - kept) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(kept));
    scanner_.Shift(kept);
    passed_ += kept;
  }

  void Fail(const Scanned& fault) {
    std::string what = fault.what;
    if (fault.code == ErrorCode::too_large) what += std::to_string(scanner_.max_value());
    error_.emplace(fault.code, passed_ + fault.begin, std::move(what));
  }

  Scanner scanner_;
  std::vector<Unit> buffer_;
  std::uint64_t passed_ = 0;  // units dropped from the buffer's front
  bool finished_ = false;
  bool drained_ = false;  // a scan after finish() found no value
  std::optional<Error> error_;
  View view_;
};

// The writer's parts for the binary encoding. Output is passed on only
// where a run opens, so the bytes are those of one in-memory writer.
struct BinaryStreamFormat {
  using Unit = std::uint8_t;
  using Container = std::vector<std::uint8_t>;
  using Encoder = impl::BinaryEncoderInto<impl::VectorBuffer<Container>>;

  // Whether output may be passed on before a value of type t.
  bool MayCut(impl::WireType t) const { return !run.Continues(t); }
  void Count(impl::WireType t) { run.Add(t); }
  // The output was passed on: the next value opens a run.
  void Restart(std::unique_ptr<Encoder>* encoder, Container* out) {
    encoder->reset();  // gives the container back before the next takes it
    *encoder = std::make_unique<Encoder>(out);
    run.Reset();
  }

  impl::RunState run;  // the open run, as the encoder has it
};

// The writer's parts for the text encoding: output is passed on anywhere
// between values.
struct TextStreamFormat {
  using Unit = char16_t;
  using Container = std::u16string;
  using Encoder = impl::TextEncoderInto<impl::VectorBuffer<Container, impl::kMaxTextUnits>>;

  static bool MayCut(impl::WireType /*t*/) { return true; }
  static void Count(impl::WireType /*t*/) {}
  static void Restart(std::unique_ptr<Encoder>* encoder, Container* /*out*/) {
    (*encoder)->ClearText();
  }
};

// Takes the values a stream writer writes into an encoder and passes the
// output to a sink whenever `flush_size` units have gathered. Has the write
// calls of the encoders, which the typed layer writes through.
template <typename Format>
class StreamSink : public impl::EncoderWrites<StreamSink<Format>> {
  friend impl::EncoderWrites<StreamSink>;

 public:
  using Unit = typename Format::Unit;
  using Sink = std::function<bool(const Unit* data, std::size_t n)>;

  StreamSink(Sink sink, std::size_t flush_size)
      : sink_(std::move(sink)),
        flush_size_(flush_size),
        encoder_(std::make_unique<typename Format::Encoder>(&output_)) {}

  void WriteInt(std::int32_t v) { Cut(impl::WireType::Int)->WriteInt(v); }
  void WriteInt64(std::int64_t v) { Cut(impl::WireType::Int)->WriteInt64(v); }
  void WriteDouble(double v) { Cut(impl::WireType::Double)->WriteDouble(v); }
  void WriteDoubleExact(double v) { Cut(impl::WireType::Double)->WriteDoubleExact(v); }
  void WriteBytes(const std::uint8_t* data, std::uint32_t n) {
    Cut(impl::WireType::Binary)->WriteBytes(data, n);
  }
  void BeginArray() { Cut(impl::WireType::ArrayBegin)->BeginArray(); }
  void EndArray() { Cut(impl::WireType::ArrayEnd)->EndArray(); }

  // Passes on everything written. A binary run open now is closed: values
  // of its type written next open a new run, which changes the bytes but
  // not the values read back. False once the sink has refused output.
  bool Pass() {
    const auto* data = static_cast<const Unit*>(static_cast<const void*>(encoder_->data()));
    const std::size_t n = encoder_->buffer().size();
    if (n != 0 && ok_) {
      ok_ = sink_ && sink_(data, n);  // an empty sink takes nothing
      if (ok_) written_ += n;
    }
    format_.Restart(&encoder_, &output_);
    return ok_;
  }

  // Whether the sink took all output passed on so far.
  bool ok() const { return ok_; }
  std::uint64_t written() const { return written_; }

 private:
  template <typename StringUnit>
  void WriteUnits(const StringUnit* s, std::size_t n) {
    if constexpr (std::is_same_v<StringUnit, char16_t>) {
      Cut(impl::WireType::String)->WriteString(s, n);
    } else {
      Cut(impl::WireType::String)->WriteStringA(s, n);
    }
  }

  // Passes the output on before a value of type t when enough has gathered
  // and the encoding allows a cut there; returns the encoder.
  typename Format::Encoder* Cut(impl::WireType t) {
    if (format_.MayCut(t) && encoder_->buffer().size() >= flush_size_) Pass();
    format_.Count(t);
    return encoder_.get();
  }

  Sink sink_;
  std::size_t flush_size_;
  typename Format::Container output_;
  std::unique_ptr<typename Format::Encoder> encoder_;
  Format format_;
  bool ok_ = true;
  std::uint64_t written_ = 0;
};

template <>
struct IsTextForm<StreamSink<TextStreamFormat>> : std::true_type {};

// Writes values into a StreamSink, so that a sequence of any length takes
// bounded memory. Like a standard stream, it flushes when it is destroyed,
// and the first failure sticks: a value that has no form in the format, or
// a sink that took no more output. After one, nothing more is passed on.
template <typename Format>
class StreamWriter {
 public:
  using Unit = typename Format::Unit;
  // Takes n units of output; false when it could not.
  using Sink = std::function<bool(const Unit* data, std::size_t n)>;

  explicit StreamWriter(Sink sink, std::size_t flush_size = kDefaultFlushSize)
      : sink_(std::move(sink), flush_size) {}
  // To a stream of bytes (for text, UTF-16 in the machine's byte order).
  explicit StreamWriter(std::ostream& out, std::size_t flush_size = kDefaultFlushSize)
      : StreamWriter(
            [&out](const Unit* data, std::size_t n) {
              out.write(reinterpret_cast<const char*>(data),
                        static_cast<std::streamsize>(n * sizeof(Unit)));
              return static_cast<bool>(out);
            },
            flush_size) {}
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;
  // Passes on what is still held; a failure here goes unreported: call
  // flush() first to see it.
  ~StreamWriter() {
#if defined(__cpp_exceptions) || defined(_CPPUNWIND)
    try {
      static_cast<void>(flush());
    } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor reports nothing
    }
#else
    static_cast<void>(flush());
#endif
  }

  // Writes v as the typed layer does; false, and the writer failed, when
  // it could not.
  template <typename T>
  bool write(const T& v) {
    if (error_) return false;
    Writing<StreamSink<Format>> writing(sink_);
    detail::Write(writing, v);
    if (writing.refused()) error_ = *writing.refused();
    return CheckSink();
  }
  // Brackets around the values that follow, as one array.
  bool begin_array() { return Bracket(&StreamSink<Format>::BeginArray); }
  bool end_array() { return Bracket(&StreamSink<Format>::EndArray); }

  // Passes on everything written. A binary run open now is closed: values
  // of its type written next open a new run, which changes the bytes but
  // not the values read back.
  Result<void> flush() {
    if (!error_) sink_.Pass();
    if (!CheckSink()) return *error_;
    return {};
  }

  // Whether every value so far was written and all output passed on.
  bool ok() const { return !error_; }
  // The first failure; valid when !ok().
  const Error& error() const { return *error_; }
  // Units the sink took.
  std::uint64_t written() const { return sink_.written(); }

 private:
  bool Bracket(void (StreamSink<Format>::*bracket)()) {
    if (error_) return false;
    (sink_.*bracket)();
    return CheckSink();
  }

  // Records a sink that refused output; returns ok().
  bool CheckSink() {
    if (!error_ && !sink_.ok()) {
      error_.emplace(ErrorCode::io, sink_.written(), "the sink took no more output");
    }
    return ok();
  }

  StreamSink<Format> sink_;
  std::optional<Error> error_;
};

}  // namespace detail

// A view of the values a BinaryStreamReader handed out.
class BinaryValues final : public detail::ValueView<impl::BinaryDecoder> {};
// A view of the values a TextStreamReader handed out.
class TextValues final : public detail::ValueView<impl::TextDecoder> {};

// Reads a binary stream fed in chunks of bytes.
class BinaryStreamReader : public detail::StreamReader<detail::BinaryScanner, BinaryValues> {
 public:
  using StreamReader::feed;
  using StreamReader::StreamReader;
  void feed(const void* data, std::size_t n) { feed(static_cast<const std::uint8_t*>(data), n); }
};

// Reads a text stream fed in chunks of UTF-16 units.
class TextStreamReader : public detail::StreamReader<detail::TextScanner, TextValues> {
 public:
  using StreamReader::feed;
  using StreamReader::StreamReader;
  void feed(std::u16string_view units) { feed(units.data(), units.size()); }
};

// Writes the binary encoding to a sink or a std::ostream.
class BinaryStreamWriter final : public detail::StreamWriter<detail::BinaryStreamFormat> {
 public:
  using StreamWriter::StreamWriter;
};

// Writes the text form, as UTF-16 units, to a sink or a std::ostream.
class TextStreamWriter final : public detail::StreamWriter<detail::TextStreamFormat> {
 public:
  using StreamWriter::StreamWriter;
};

}  // namespace qkxdr

#endif  // QKXDR_STREAM_HPP_
