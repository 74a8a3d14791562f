// Moving values from any reader to any writer through the library's public
// interfaces: one value at a time, whatever the two encodings are.

#ifndef QKXDR_TOOLS_QKXDR_VALUES_H_
#define QKXDR_TOOLS_QKXDR_VALUES_H_

#include <cstdint>
#include <memory>
#include <string>

#include "QkXDR.h"

namespace qkxdr::tool {

// Ends a stream with its own Release.
struct StreamReleaser {
  template <typename Stream>
  void operator()(Stream* stream) const {
    stream->Release();
  }
};
template <typename Stream>
using StreamPtr = std::unique_ptr<Stream, StreamReleaser>;

// A blob slot that empties itself; copies share or view the same bytes.
class Blob {
 public:
  Blob() = default;
  Blob(const Blob& other) { QkXDRBinaryCopy(&slot_, &other.slot_); }
  // A slot copied onto itself stays as it was.
  Blob& operator=(const Blob& other) {  // NOLINT(cert-oop54-cpp)
    QkXDRBinaryCopy(&slot_, &other.slot_);
    return *this;
  }
  ~Blob() { QkXDRBinaryFree(&slot_); }

  QkXDRBinary* slot() { return &slot_; }
  const QkXDRBinary* slot() const { return &slot_; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(QkXDRBinaryData(&slot_)); }
  uint32_t size() const { return QkXDRBinarySize(&slot_); }

 private:
  QkXDRBinary slot_{};
};

// One value between a read and a write. Only the member of its type counts.
struct Value {
  QkXDRType2 type = QkXDRType2::None;
  int64_t integer = 0;
  double real = 0;
  std::u16string text;  // the units of a string; c_str() ends it with a zero
  Blob blob;
};

// Reads the current value of `in` into *value and moves past it; false,
// with nothing moved, when there is no current value or its type is None.
bool ReadValue(QkXDRIStream2* in, Value* value);

// Reads a String value, or a blob of a text reader, as the units of its
// text into *text and moves past it; false, with nothing moved, for others.
bool ReadTextUnits(QkXDRIStream2* in, std::u16string* text);

// Writes the value: integers that fit 32 bits with WriteInt, the others with
// WriteInt64. A string stops at its first U+0000 unit, since the writers take
// zero-terminated strings: CopyValues refuses such strings instead.
void WriteValue(const Value& value, QkXDROStream2* out);

// Same type and same contents; doubles compare bit for bit.
bool SameValue(const Value& a, const Value& b);

struct CopyResult {
  uint64_t values = 0;    // values copied
  bool zeroUnit = false;  // stopped at a string holding U+0000 (value number `values`)
};

// Copies the values of `in` to `out` until `in` has no current value.
CopyResult CopyValues(QkXDRIStream2* in, QkXDROStream2* out);

struct Comparison {
  uint64_t values = 0;       // values compared
  uint64_t differences = 0;  // values that differ, one stream's end included
  uint64_t first = 0;        // 0-based index of the first difference
};

// Reads `a` and `b` side by side to their ends and compares their values.
Comparison Compare(QkXDRIStream2* a, QkXDRIStream2* b);

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_VALUES_H_
