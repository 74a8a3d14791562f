#include "values.h"

#include <cstring>

namespace qkxdr::tool {
namespace {

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

bool SameBytes(const Blob& a, const Blob& b) {
  return a.size() == b.size() && (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

}  // namespace

bool ReadValue(QkXDRIStream2* in, Value* value) {
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

bool ReadTextUnits(QkXDRIStream2* in, std::u16string* text) {
  text->clear();  // an empty string may be read without a buffer
  StringSink sink(text);
  return in->ReadString(&sink);
}

bool SameValue(const Value& a, const Value& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case QkXDRType2::Int:
      return a.integer == b.integer;
    case QkXDRType2::Double: {
      // Bit for bit: NaN payloads and the sign of zero count.
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, &a.real, sizeof x);
      std::memcpy(&y, &b.real, sizeof y);
      return x == y;
    }
    case QkXDRType2::String:
      return a.text == b.text;
    case QkXDRType2::Binary:
      return SameBytes(a.blob, b.blob);
    default:
      return true;
  }
}

Comparison Compare(QkXDRIStream2* a, QkXDRIStream2* b) {
  Comparison result;
  Value va, vb;
  for (;; ++result.values) {
    const bool readA = ReadValue(a, &va);
    const bool readB = ReadValue(b, &vb);
    if (!readA && !readB) return result;
    if (readA && readB && SameValue(va, vb)) continue;
    if (result.differences++ == 0) result.first = result.values;
  }
}

}  // namespace qkxdr::tool
