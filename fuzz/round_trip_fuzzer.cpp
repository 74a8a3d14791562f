// Any sequence of writes, through the second-generation binary and text
// writers, reads back through the reader of the same encoding as the same
// values. The binary encoding keeps every value exactly. In the text
// encoding the format itself changes a few, and those changes are expected:
// - a double whose text has no decimal point (ten integer digits, e.g. 1e9)
//   reads back as an Int with the same text;
// - any other double reads back as a double with the same text, except that
//   "-0." reads as +0, a text whose exponent is below -308 as a zero of its
//   sign (the power of ten underflows), and "1.797693135e+308" as an infinity
//   of its sign (ten digits round it past the largest double);
// - the second-generation reader reports a string that begins "0x" or "0X"
//   as a blob (it still reads as a string);
// - an array end with no array open, the implicit top-level one included,
//   is no value.
// The first-generation writers, given the operations they share, must write
// the same bytes and text as the second-generation ones.
//
// The input is a sequence of operations: one byte (its low 3 bits choose the
// operation) followed by the operation's argument.

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

struct Value {
  enum Kind { kInt, kInt64, kDouble, kString, kStringA, kBlob, kBegin, kEnd } kind;
  int64_t integer = 0;
  double real = 0;
  std::u16string units;  // kString
  std::string bytes;     // kStringA, kBlob
};

bool SecondGenerationOnly(Value::Kind kind) {
  return kind == Value::kInt64 || kind == Value::kStringA || kind == Value::kBlob;
}

Value NextValue(ByteSource* in) {
  Value v;
  v.kind = static_cast<Value::Kind>(in->Byte() % 8);
  switch (v.kind) {
    case Value::kInt:
      v.integer = static_cast<int32_t>(in->Bits(4));
      break;
    case Value::kInt64:
      v.integer = static_cast<int64_t>(in->Bits(8));
      break;
    case Value::kDouble: {
      const uint64_t bits = in->Bits(8);
      std::memcpy(&v.real, &bits, sizeof bits);
      break;
    }
    case Value::kString:
      for (uint8_t n = in->Byte() % 32; n != 0; --n) v.units.push_back(in->Unit());
      // Writers take zero-terminated strings: the first zero ends it.
      v.units.resize(std::char_traits<char16_t>::length(v.units.c_str()));
      break;
    case Value::kStringA:
    case Value::kBlob: {
      size_t n;
      const uint8_t* p = in->Take(in->Byte() % 64, &n);
      v.bytes.assign(reinterpret_cast<const char*>(p), n);
      if (v.kind == Value::kStringA) v.bytes.resize(std::strlen(v.bytes.c_str()));
      break;
    }
    default:
      break;
  }
  return v;
}

template <typename O>
void Write(O* out, const Value& v) {
  constexpr bool kSecond = std::is_same_v<O, QkXDROStream2>;
  if (out == nullptr) return;
  switch (v.kind) {
    case Value::kInt:
      out->WriteInt(static_cast<int32_t>(v.integer));
      break;
    case Value::kDouble:
      out->WriteDouble(v.real);
      break;
    case Value::kString:
      out->WriteString(v.units.c_str());
      break;
    case Value::kBegin:
      out->BeginArray();
      break;
    case Value::kEnd:
      out->EndArray();
      break;
    default:
      if constexpr (kSecond) {
        if (v.kind == Value::kInt64) {
          out->WriteInt64(v.integer);
        } else if (v.kind == Value::kStringA) {
          out->WriteStringA(v.bytes.c_str());
        } else {
          QkXDRBinary blob{};
          QkXDRBinaryAttach(&blob, v.bytes.data(), static_cast<uint32_t>(v.bytes.size()));
          out->WriteBinary(&blob);
          QkXDRBinaryFree(&blob);
        }
      }
      break;
  }
}

// The output of a writer, in a block of exactly its size; empty for null.
template <typename T, typename O>
std::vector<T> Output(O* out) {
  if (out == nullptr) return {};
  const auto* p = static_cast<const T*>(out->GetData());
  return p == nullptr ? std::vector<T>() : std::vector<T>(p, p + out->GetSize() / sizeof(T));
}

// The text a new text writer gives for one value.
template <typename Write>
std::u16string TextOf(Write write) {
  QkXDROStream2* out = QkXDRCreateTextOStream2();
  write(out);
  const std::vector<char16_t> text = Output<char16_t>(out);
  out->Release();
  return std::u16string(text.begin(), text.end());
}

std::u16string DoubleText(double d) {
  return TextOf([d](QkXDROStream2* out) { out->WriteDouble(d); });
}

template <typename String>
bool HasHexPrefix(const String& s) {
  return s.size() >= 2 && s[0] == '0' && (s[1] | 0x20) == 'x';
}

// The decimal exponent of a double's text, 0 without one.
int Exponent(const std::u16string& text) {
  const size_t e = text.find(u'e');
  if (e == std::u16string::npos) return 0;
  int magnitude = 0;
  for (size_t i = e + 2; i < text.size(); ++i) magnitude = magnitude * 10 + (text[i] - u'0');
  return text[e + 1] == u'-' ? -magnitude : magnitude;
}

// Whether d, read back from the text of a double, stands for that text.
bool SameText(const std::u16string& text, double d) {
  if (DoubleText(d) == text) return true;
  const bool negative = text[0] == u'-';
  const std::u16string magnitude = text.substr(negative ? 1 : 0);
  if (magnitude == u"0.") return d == 0 && !std::signbit(d);
  if (magnitude == u"1.797693135e+308") return std::isinf(d) && std::signbit(d) == negative;
  return Exponent(text) < -308 && d == 0 && std::signbit(d) == negative;
}

template <typename Unit>
bool ReadsUnits(QkXDRIStream2* in, bool (QkXDRIStream2::*read)(QkXDRAllocator*),
                const std::basic_string<Unit>& expected) {
  FuzzAllocator allocator(UINT32_MAX);
  allocator.unit_size = sizeof(Unit);
  if (!(in->*read)(&allocator)) return false;
  // The text reader asks for no block for an empty string.
  return allocator.calls == 0 ? expected.empty() : allocator.Last<Unit>() == expected;
}

bool ReadsBlob(QkXDRIStream2* in, const std::string& expected) {
  QkXDRBinary slot{};
  bool same = in->ReadBinary(&slot);
  const auto* data = static_cast<const char*>(QkXDRBinaryData(&slot));
  const uint32_t size = QkXDRBinarySize(&slot);
  same = same && (size == 0 ? expected.empty() : std::string(data, size) == expected);
  QkXDRBinaryFree(&slot);
  return same;
}

// Reads v, which the reader must report as `type`.
bool ReadsBack(QkXDRIStream2* in, const Value& v, QkXDRType2 type, bool text) {
  if (in->PeekType() != type) return false;
  int64_t i;
  double d;
  switch (v.kind) {
    case Value::kInt:
    case Value::kInt64:
      return in->ReadInt64(&i) && i == v.integer;
    case Value::kDouble:
      if (!text) return in->ReadDouble(&d) && SameBits(d, v.real);
      if (type == QkXDRType2::Int) {
        return in->ReadInt64(&i) &&
               TextOf([i](QkXDROStream2* out) { out->WriteInt64(i); }) == DoubleText(v.real);
      }
      return in->ReadDouble(&d) && SameText(DoubleText(v.real), d);
    case Value::kString:
      return ReadsUnits(in, &QkXDRIStream2::ReadString, v.units);
    case Value::kStringA:
      return ReadsUnits(in, &QkXDRIStream2::ReadStringA, v.bytes);
    case Value::kBlob:
      return ReadsBlob(in, v.bytes);
    case Value::kBegin:
      return in->ReadBeginArray();
    default:
      return type == QkXDRType2::None ? in->ReadType() == QkXDRType2::None : in->ReadEndArray();
  }
}

QkXDRType2 BinaryType(const Value& v) {
  switch (v.kind) {
    case Value::kInt:
    case Value::kInt64:
      return QkXDRType2::Int;
    case Value::kDouble:
      return QkXDRType2::Double;
    case Value::kString:
    case Value::kStringA:
      return QkXDRType2::String;
    case Value::kBlob:
      return QkXDRType2::Binary;
    case Value::kBegin:
      return QkXDRType2::ArrayBegin;
    default:
      return QkXDRType2::ArrayEnd;
  }
}

// `depth` counts the open arrays, the implicit top-level one included.
QkXDRType2 TextType(const Value& v, uint32_t* depth) {
  switch (v.kind) {
    case Value::kDouble:
      return DoubleText(v.real).find(u'.') == std::u16string::npos ? QkXDRType2::Int
                                                                   : QkXDRType2::Double;
    case Value::kString:
      return HasHexPrefix(v.units) ? QkXDRType2::Binary : QkXDRType2::String;
    case Value::kStringA:
      return HasHexPrefix(v.bytes) ? QkXDRType2::Binary : QkXDRType2::String;
    case Value::kBegin:
      ++*depth;
      return QkXDRType2::ArrayBegin;
    case Value::kEnd:
      if (*depth == 0) return QkXDRType2::None;
      --*depth;
      return QkXDRType2::ArrayEnd;
    default:
      return BinaryType(v);
  }
}

void ReadBinaryBack(const std::vector<uint8_t>& bytes, const std::vector<Value>& values) {
  const std::unique_ptr<uint8_t[]> copy = ExactCopy(bytes.data(), bytes.size());
  QkXDRIStream2* in = QkXDRCreateIStream2(copy.get(), static_cast<uint32_t>(bytes.size()));
  FUZZ_CHECK((in == nullptr) == values.empty());
  if (in == nullptr) return;
  for (const Value& v : values) FUZZ_CHECK(ReadsBack(in, v, BinaryType(v), false));
  FUZZ_CHECK(!in->IsValid());
  in->Release();
}

void ReadTextBack(const std::vector<char16_t>& text, const std::vector<Value>& values) {
  const std::unique_ptr<char16_t[]> copy = ExactCopy(text.data(), text.size());
  QkXDRIStream2* in = QkXDRCreateTextIStream2(copy.get(), static_cast<uint32_t>(text.size()));
  if (in == nullptr) return;
  uint32_t depth = 1;
  for (const Value& v : values) FUZZ_CHECK(ReadsBack(in, v, TextType(v, &depth), true));
  FUZZ_CHECK(!in->IsValid());
  in->Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  std::vector<Value> values;
  while (!in.empty() && values.size() < 512) values.push_back(NextValue(&in));

  QkXDROStream2* binary = QkXDRCreateOStream2();
  QkXDROStream2* text = QkXDRCreateTextOStream2();
  QkXDROStream* binary1 = QkXDRCreateOStream();
  QkXDROStream* text1 = QkXDRCreateTextOStream();
  bool shared_only = true;
  for (const Value& v : values) {
    Write(binary, v);
    Write(text, v);
    Write(binary1, v);
    Write(text1, v);
    shared_only = shared_only && !SecondGenerationOnly(v.kind);
  }
  if (shared_only) {
    FUZZ_CHECK(Output<uint8_t>(binary) == Output<uint8_t>(binary1));
    FUZZ_CHECK(Output<char16_t>(text) == Output<char16_t>(text1));
  }
  if (binary != nullptr) ReadBinaryBack(Output<uint8_t>(binary), values);
  if (text != nullptr) ReadTextBack(Output<char16_t>(text), values);
  for (QkXDROStream2* out : {binary, text}) {
    if (out != nullptr) out->Release();
  }
  for (QkXDROStream* out : {binary1, text1}) {
    if (out != nullptr) out->Release();
  }
  return 0;
}
