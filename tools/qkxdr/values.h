// Moving values from any reader to any writer through the library's public
// interfaces: one value at a time, whatever the two encodings are.

#ifndef QKXDR_TOOLS_QKXDR_VALUES_H_
#define QKXDR_TOOLS_QKXDR_VALUES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// Hands a reader a buffer of exactly the units it asks for, inside *text.
class StringSink final : public QkXDRAllocator {
 public:
  explicit StringSink(std::u16string* text) : text_(text) {}
  void* Alloc(uint32_t count) override {
    text_->resize(count);
    return text_->data();
  }

 private:
  std::u16string* text_;
};

// Reads a String value, or a blob of a text reader, as the units of its
// text into *text and moves past it; false, with nothing moved, for others.
// `in`: an exported reader, or a decoder of the library with its calls.
template <typename Reader>
bool ReadTextUnits(Reader* in, std::u16string* text) {
  text->clear();  // an empty string may be read without a buffer
  StringSink sink(text);
  return in->ReadString(&sink);
}

// Reads the current value of `in` into *value and moves past it; false,
// with nothing moved, when there is no current value or its type is None.
template <typename Reader>
bool ReadValue(Reader* in, Value* value) {
  value->type = in->PeekType();
  switch (value->type) {
    case QkXDRType2::ArrayBegin:
      return in->ReadBeginArray();
    case QkXDRType2::ArrayEnd:
      return in->ReadEndArray();
    case QkXDRType2::Int:
      return in->ReadInt64(&value->integer);
    case QkXDRType2::Double:
      return in->ReadDouble(&value->real);
    case QkXDRType2::String:
      return ReadTextUnits(in, &value->text);
    case QkXDRType2::Binary:
      return in->ReadBinary(value->blob.slot());
    default:
      return false;
  }
}

// Same type and same contents; doubles compare bit for bit.
bool SameValue(const Value& a, const Value& b);

// An integer with WriteInt when it fits 32 bits, else with WriteInt64.
template <typename Out>
void WriteInteger(int64_t v, Out* out) {
  if (v >= INT32_MIN && v <= INT32_MAX) {
    out->WriteInt(static_cast<int32_t>(v));
  } else {
    out->WriteInt64(v);
  }
}

inline void WriteBlob(const Blob& blob, QkXDROStream2* out) { out->WriteBinary(blob.slot()); }
// To an encoder of the streaming layer (qkxdr/stream.hpp).
template <typename Encoder>
void WriteBlob(const Blob& blob, Encoder* out) {
  out->WriteBytes(blob.data(), blob.size());
}

// The encoder calls that WriteValue and WriteItem make, on a stream writer
// of the library (qkxdr/stream.hpp).
template <typename Writer>
class StreamCalls {
 public:
  explicit StreamCalls(Writer* writer) : writer_(*writer) {}
  void BeginArray() { writer_.begin_array(); }
  void EndArray() { writer_.end_array(); }
  void WriteInt(int32_t v) { writer_.write(v); }
  void WriteInt64(int64_t v) { writer_.write(v); }
  void WriteDouble(double v) { writer_.write(v); }
  void WriteString(const char16_t* s) { writer_.write(std::u16string_view(s)); }
  void WriteString(const char16_t* s, size_t n) { writer_.write(std::u16string_view(s, n)); }
  void WriteBytes(const uint8_t* data, uint32_t n) {
    writer_.write(std::vector<uint8_t>(data, data + n));
  }

 private:
  Writer& writer_;
};

// Writes the value to a writer of the library, or to StreamCalls: integers that fit 32 bits with
// WriteInt, the others with WriteInt64. A string stops at its first U+0000 unit, since the writers
// take zero-terminated strings: the commands refuse such strings first.
template <typename Out>
void WriteValue(const Value& value, Out* out) {
  switch (value.type) {
    case QkXDRType2::ArrayBegin:
      out->BeginArray();
      break;
    case QkXDRType2::ArrayEnd:
      out->EndArray();
      break;
    case QkXDRType2::Int:
      WriteInteger(value.integer, out);
      break;
    case QkXDRType2::Double:
      out->WriteDouble(value.real);
      break;
    case QkXDRType2::String:
      out->WriteString(value.text.c_str());
      break;
    case QkXDRType2::Binary:
      WriteBlob(value.blob, out);
      break;
    default:
      break;
  }
}

}  // namespace qkxdr::tool

#endif  // QKXDR_TOOLS_QKXDR_VALUES_H_
