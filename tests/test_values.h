// The value model of the tests and the round-trip fuzz target: writes, reads,
// a random generator, and the round trip through every writer and reader.

#ifndef QKXDR_TESTS_TEST_VALUES_H_
#define QKXDR_TESTS_TEST_VALUES_H_

// A broken expectation is a test failure, unless the includer (a fuzz target
// without GoogleTest) defines VALUES_CHECK(condition) first.
#ifndef VALUES_CHECK
#include <gtest/gtest.h>
#define VALUES_CHECK_EQ(a, b, what) EXPECT_EQ(a, b) << what
#else
#define VALUES_CHECK_EQ(a, b, what) VALUES_CHECK((a) == (b))
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "QkXDR.h"
#include "exports/binary_streams.h"
#include "qkxdr/detail/text/double_format.h"
#include "test_allocator.h"
#include "test_util.h"

namespace test_values {

using Bytes = std::vector<uint8_t>;

using ::Hex;

// A value as a writer takes it. Readers give Int for Int64, String for
// StringA, and None for what they have no read for.
enum class Kind { Begin, End, Int, Int64, Double, String, StringA, Blob, None };

struct Value {
  Value(Kind k = Kind::None, int64_t integer = 0, double real = 0, std::u16string u = {})
      : kind(k), i(integer), d(real), units(std::move(u)) {}

  Kind kind;
  int64_t i;
  double d;
  std::u16string units;  // a String's units; a StringA's or Blob's bytes, one a unit

  // Doubles are equal when their bits are.
  bool operator==(const Value& o) const {
    return kind == o.kind && i == o.i && std::memcmp(&d, &o.d, sizeof d) == 0 && units == o.units;
  }
};
using Values = std::vector<Value>;

inline std::ostream& operator<<(std::ostream& out, const Value& v) {
  static const char* const kNames[] = {"[",       "]",        "int ",  "int64 ", "double ",
                                       "string ", "stringA ", "blob ", "none"};
  out << kNames[static_cast<int>(v.kind)] << v.i << ' ' << DoubleText(v.d) << ' ';
  return out << Printable(v.units);
}

inline Value I32(int32_t v) { return {Kind::Int, v}; }
inline Value I64(int64_t v) { return {Kind::Int64, v}; }
inline Value Dbl(double v) { return {Kind::Double, 0, v}; }
inline Value Str(std::u16string s) { return {Kind::String, 0, 0, std::move(s)}; }
inline Value StrA(const std::string& s) {
  Value v{Kind::StringA};
  for (char c : s) v.units += static_cast<unsigned char>(c);
  return v;
}
inline Value Blob(const Bytes& b) { return {Kind::Blob, 0, 0, {b.begin(), b.end()}}; }
inline const Value kBegin{Kind::Begin};
inline const Value kEnd{Kind::End};

inline bool FirstGeneration(Kind k) { return k != Kind::Int64 && k < Kind::StringA; }

// What a second-generation reader gives back for v.
inline Value Delivered(Value v) {
  if (v.kind == Kind::Int64) v.kind = Kind::Int;
  if (v.kind == Kind::StringA) v.kind = Kind::String;
  return v;
}

inline Values Times(int n, const Value& v) { return Values(static_cast<size_t>(n), v); }
inline Values Cat(std::initializer_list<Values> parts) {
  Values all;
  for (const Values& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Writes v through w: either generation's interface, or a binary encoder.
template <typename W>
void Write(W* w, const Value& v) {
  if (v.kind == Kind::Begin) return w->BeginArray();
  if (v.kind == Kind::End) return w->EndArray();
  if (v.kind == Kind::Int) return w->WriteInt(static_cast<int32_t>(v.i));
  if (v.kind == Kind::Double) return w->WriteDouble(v.d);
  if (v.kind == Kind::String) return w->WriteString(v.units.c_str());
  if constexpr (std::is_same_v<W, QkXDROStream>) {
    VALUES_CHECK_EQ(FirstGeneration(v.kind), true, "not a first-generation value: " << v);
  } else if (v.kind == Kind::Int64) {
    w->WriteInt64(v.i);
  } else if (v.kind == Kind::StringA) {
    w->WriteStringA(std::string(v.units.begin(), v.units.end()).c_str());
  } else {  // an empty blob as an empty slot, any other as a view
    const Bytes bytes(v.units.begin(), v.units.end());
    QkXDRBinary slot{};
    if (!bytes.empty()) QkXDRBinaryAttach(&slot, bytes.data(), static_cast<uint32_t>(bytes.size()));
    w->WriteBinary(&slot);
    QkXDRBinaryFree(&slot);
  }
}

// The output of writer w after the values; releases w.
template <typename W>
Bytes Encode(W* w, const Values& values) {
  for (const Value& v : values) Write(w, v);
  const auto* data = static_cast<const uint8_t*>(w->GetData());
  Bytes bytes(data, data + w->GetSize());
  w->Release();
  return bytes;
}

// A reader of interface I over data that must outlive it: a binary reader
// over bytes, a text reader over UTF-16 units.
template <typename I, typename T>
I* Open(const T* data, size_t count) {
  const auto n = static_cast<uint32_t>(count);
  constexpr bool kText = std::is_same_v<T, char16_t>;
  constexpr bool kSecond = std::is_same_v<I, QkXDRIStream2>;
  if constexpr (kText && kSecond) return QkXDRCreateTextIStream2(data, n);
  if constexpr (kText && !kSecond) return QkXDRCreateTextIStream(data, n);
  if constexpr (!kText && kSecond) return QkXDRCreateIStream2(data, n);
  if constexpr (!kText && !kSecond) return QkXDRCreateIStream(data, n);
}
template <typename I>
I* Open(const Bytes& bytes) {
  return Open<I>(bytes.data(), bytes.size());
}

// A binary reader's position: its cursor and run.
template <typename I>
const qkxdr::impl::BinaryDecoder& Decoder(I* reader) {
  return static_cast<QkXDRIStreamImp<I>*>(reader)->imp;
}
template <typename I>
auto StateOf(I* reader) {
  const qkxdr::impl::BinaryDecoder& d = Decoder(reader);
  return std::make_tuple(d.dc.p, d.run.type, d.run.count);
}

inline Kind KindOf(QkXDRType t) {
  static const Kind kKinds[] = {Kind::Begin,  Kind::End,    Kind::Int,
                                Kind::String, Kind::Double, Kind::None};
  return kKinds[static_cast<int>(t)];
}
inline Kind KindOf(QkXDRType2 t) {
  static const Kind kKinds[] = {Kind::Begin,  Kind::End,    Kind::None, Kind::Int,
                                Kind::String, Kind::Double, Kind::Blob};
  return kKinds[static_cast<int>(t)];
}

// How to take a value: by its own read (ReadInt64 for integers in the second
// generation, ReadInt in the first), by ReadInt or ReadDouble for an integer,
// by ReadStringA for a string, or by stepping over it with ReadType.
enum class Read { Own, AsInt, AsDouble, AsNarrow, Step };

// What a binary reader's ReadOne gives for written value v when reading as
// `how` (a first-generation reader has no read for a blob but ReadType).
inline Value AsRead(Value v, Read how, bool second) {
  v = Delivered(v);
  if (v.kind == Kind::Blob && !second) return {Kind::None};
  if (how == Read::Step) return {v.kind};
  if (v.kind == Kind::Int && how == Read::AsDouble) return Dbl(static_cast<double>(v.i));
  if (v.kind == Kind::Int && (how == Read::AsInt || !second)) {
    // ReadInt keeps the low 31 bits of the magnitude, and the sign.
    const int64_t low = (v.i < 0 ? -(v.i + 1) : v.i) & 0x7FFFFFFF;
    v.i = v.i < 0 ? -low - 1 : low;
  }
  if (v.kind == Kind::String && how == Read::AsNarrow && second) {
    for (char16_t& unit : v.units) unit &= 0xFF;
  }
  return v;
}

// What ReadOne gives when the read fails.
inline const Value kFailed{Kind::None, -1};

// The units of the string that the allocator received.
template <typename Unit>
std::u16string Received(const TestAllocator& allocator) {
  if (allocator.buffers.empty()) return {};
  const std::vector<Unit> units = allocator.Last<Unit>(allocator.requests[0]);
  return {units.begin(), units.end()};
}

// Reads the current value of r as `how` says, where that applies to it; only
// the kind for ReadType. First every read into a null output (number,
// allocator or slot) must fail, and leave the value.
template <typename I>
Value ReadOne(I* r, Read how = Read::Own) {
  // The decoders behind the streams read as the second generation does.
  constexpr bool kSecond = !std::is_same_v<I, QkXDRIStream>;
  bool null_read = r->ReadInt(nullptr) || r->ReadDouble(nullptr) || r->ReadString(nullptr);
  if constexpr (kSecond) {
    null_read =
        null_read || r->ReadInt64(nullptr) || r->ReadStringA(nullptr) || r->ReadBinary(nullptr);
  }
  VALUES_CHECK_EQ(null_read, false, "a read into a null output");
  Value v{KindOf(r->PeekType())};
  if (how == Read::Step || v.kind == Kind::None) return {KindOf(r->ReadType())};
  TestAllocator allocator;
  int32_t i32 = 0;
  bool ok = false;
  if (v.kind == Kind::Begin) ok = r->ReadBeginArray();
  if (v.kind == Kind::End) ok = r->ReadEndArray();
  if (v.kind == Kind::Double || (v.kind == Kind::Int && how == Read::AsDouble)) {
    v.kind = Kind::Double;
    ok = r->ReadDouble(&v.d);
  } else if (v.kind == Kind::Int && (how == Read::AsInt || !kSecond)) {
    ok = r->ReadInt(&i32);
    v.i = i32;
  } else if (v.kind == Kind::String && (how != Read::AsNarrow || !kSecond)) {
    ok = r->ReadString(&allocator);
    v.units = Received<char16_t>(allocator);
  } else if constexpr (kSecond) {
    QkXDRBinary slot{};
    if (v.kind == Kind::Int) ok = r->ReadInt64(&v.i);
    if (v.kind == Kind::String) ok = r->ReadStringA(&allocator);
    if (v.kind == Kind::String) v.units = Received<uint8_t>(allocator);
    if (v.kind == Kind::Blob) ok = r->ReadBinary(&slot);
    const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(&slot));
    if (v.kind == Kind::Blob) v.units.assign(data, data + QkXDRBinarySize(&slot));
    QkXDRBinaryFree(&slot);
  }
  VALUES_CHECK_EQ(allocator.requests.size() <= 1, true, "one allocation at most");
  return ok ? v : kFailed;
}

// Every value of r by its own read until there is none or a read fails;
// releases r (which may be null: no values).
template <typename I>
Values ReadAll(I* r) {
  Values values;
  while (r != nullptr && r->IsValid() && (values.empty() || !(values.back() == kFailed))) {
    values.push_back(ReadOne(r));
  }
  if (r != nullptr) r->Release();
  return values;
}

// Records the values QkXDRTextParse reports, answering true until the call
// numbered stop_at (counted from 0).
class Recorder final : public QkXDRTextHandler {
 public:
  explicit Recorder(size_t stop_at = SIZE_MAX) : stop_at_(stop_at) {}

  bool OnDouble(double v) override { return Add(Dbl(v)); }
  bool OnInt(int32_t v) override { return Add(I32(v)); }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    VALUES_CHECK_EQ(*end, u'\0', "a zero unit follows the string");
    return Add(Str({begin, end}));
  }
  bool OnBeginArray() override { return Add(kBegin); }
  bool OnEndArray() override { return Add(kEnd); }

  Values events;

 private:
  bool Add(const Value& v) {
    events.push_back(v);
    return events.size() != stop_at_ + 1;
  }

  size_t stop_at_;
};

// The text a text writer gives for a double.
inline std::u16string WrittenText(double d) {
  char16_t text[qkxdr::impl::kMaxDoubleText];
  return std::u16string(text, qkxdr::impl::FormatDouble(d, text));
}

// Doubles with their written text in place of their bits.
inline Values ByWrittenForm(Values values) {
  for (Value& v : values) {
    if (v.kind == Kind::Double) v = {Kind::Double, 0, 0, WrittenText(v.d)};
  }
  return values;
}

// What a text reader gives for written value v: with `narrow` as a first-
// generation reader and the event parse do (integers cut to 32 bits, blobs
// as their "0X" text), else as a second-generation reader does (a string
// that begins "0x" or "0X" as a blob). An 8-bit string's bytes are sign-
// extended units. A double reads as its ten-digit text says: as an Int
// without a point, "-0." as +0, a text below e-308 as a zero of its sign,
// and one rounded past the largest double as an infinity of its sign.
inline Value FromText(const Value& v, bool narrow) {
  if (v.kind == Kind::Double) {
    const std::u16string wide = WrittenText(v.d);
    const std::string text(wide.begin(), wide.end());
    if (text.find('.') == std::string::npos) return FromText(I64(std::stoll(text)), narrow);
    const size_t e = text.find('e');
    const bool tiny = e != std::string::npos && std::stoi(text.substr(e + 1)) < -308;
    const bool huge = text.find("1.797693135e+308") != std::string::npos;
    return Dbl(v.d == 0 ? 0.0 : std::copysign(tiny ? 0.0 : huge ? INFINITY : v.d, v.d));
  }
  if (v.kind == Kind::Int || v.kind == Kind::Int64) {
    return {Kind::Int, narrow ? static_cast<int32_t>(v.i) : v.i};
  }
  if (v.kind == Kind::Begin || v.kind == Kind::End) return v;
  static const std::u16string kDigits = u"0123456789ABCDEFabcdef";
  Value s = Str(v.units);
  if (v.kind == Kind::Blob) {
    s.units = u"0X";
    for (char16_t b : v.units) s.units += {kDigits[b >> 4], kDigits[b & 15]};
  }
  for (char16_t& unit : s.units) {
    if (v.kind == Kind::StringA && unit >= 0x80) unit |= 0xFF00;
  }
  if (narrow || s.units.size() < 2 || s.units[0] != u'0' || (s.units[1] | 0x20) != u'x') return s;
  // Blob text: a unit counts by its low 7 bits, one that is no digit as 0.
  const auto digit = [](char16_t unit) {
    const size_t at = kDigits.find(static_cast<char16_t>(unit & 0x7F));
    return at == std::u16string::npos ? 0 : at < 16 ? at : at - 6;
  };
  Value blob{Kind::Blob};
  for (size_t k = 2; k + 1 < s.units.size(); k += 2) {
    blob.units += static_cast<char16_t>(digit(s.units[k]) << 4 | digit(s.units[k + 1]));
  }
  return blob;
}

// FromText for each value, up to an array end that closes nothing (the
// implicit top-level array is open at first): a reader has no current value
// there, and the parse stops.
inline Values TextValues(const Values& values, bool narrow) {
  Values read;
  int open = 1;
  for (const Value& v : values) {
    open += v.kind == Kind::Begin ? 1 : v.kind == Kind::End ? -1 : 0;
    if (open < 0) break;
    read.push_back(FromText(v, narrow));
  }
  return read;
}

// The units that a text writer's bytes hold.
inline std::u16string TextOf(const Bytes& bytes) {
  std::u16string text(bytes.size() / 2, u' ');
  if (!text.empty()) std::memcpy(&text[0], bytes.data(), bytes.size());
  return text;
}

// Writes the values through every writer (the first generation's, when it has
// every kind, must give the same output); reads them back through every reader
// (text from a block of exactly its size) and the parse, as AsRead and TextValues say.
inline void ExpectRoundTrip(const Values& values) {
  const Bytes binary = Encode(QkXDRCreateOStream2(), values);
  const std::u16string text = TextOf(Encode(QkXDRCreateTextOStream2(), values));
  Values binary1, binary2;
  bool shared = true;
  for (const Value& v : values) {
    binary1.push_back(AsRead(v, Read::Own, false));
    binary2.push_back(Delivered(v));
    shared = shared && FirstGeneration(v.kind);
  }
  if (shared) {
    VALUES_CHECK_EQ(Encode(QkXDRCreateOStream(), values), binary, "binary writers");
    VALUES_CHECK_EQ(TextOf(Encode(QkXDRCreateTextOStream(), values)), text, "text writers");
  }
  VALUES_CHECK_EQ(ReadAll(Open<QkXDRIStream2>(binary)), binary2, "binary");
  VALUES_CHECK_EQ(ReadAll(Open<QkXDRIStream>(binary)), binary1, "binary, first generation");
  const std::unique_ptr<char16_t[]> exact = ExactCopy(text);
  const Values narrow = ByWrittenForm(TextValues(values, true));
  VALUES_CHECK_EQ(ByWrittenForm(ReadAll(Open<QkXDRIStream2>(exact.get(), text.size()))),
                  ByWrittenForm(TextValues(values, false)), "text");
  VALUES_CHECK_EQ(ByWrittenForm(ReadAll(Open<QkXDRIStream>(exact.get(), text.size()))), narrow,
                  "text, first generation");
  Recorder recorder;
  QkXDRTextParse(&recorder, exact.get(), static_cast<uint32_t>(text.size()));
  VALUES_CHECK_EQ(ByWrittenForm(recorder.events), narrow, "parse");
}

// Random values of every kind near the edges of their ranges, with the
// characters the text form escapes and strings that read as blobs in text.
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  uint32_t Below(uint32_t n) { return random_() % n; }

  // `count` values or a few more in balanced arrays; kinds come in runs and
  // now and then a burst of 20 to 80 of one kind passes the 42-value mark.
  // With first_generation only kinds that a first-generation writer has.
  Values Sequence(size_t count, bool first_generation = false) {
    Values values;
    size_t depth = 0;
    auto kind = Kind::Int;
    while (values.size() < count) {
      if (Below(4) == 0) kind = static_cast<Kind>(Below(8));
      if (first_generation && !FirstGeneration(kind)) kind = Kind::Double;
      if (kind == Kind::End && depth == 0) kind = Kind::Begin;
      if (kind == Kind::Begin || kind == Kind::End) {
        kind == Kind::Begin ? ++depth : --depth;
        values.push_back({kind});
        continue;
      }
      for (uint32_t n = Below(64) == 0 ? 20 + Below(60) : 1; n > 0; --n) values.push_back(Of(kind));
    }
    values.insert(values.end(), depth, kEnd);
    return values;
  }

 private:
  Value Of(Kind kind) {
    static const int64_t kEdges[] = {0,         1,         -1,        63,        64,
                                     -64,       -65,       8191,      8192,      INT32_MIN,
                                     INT32_MAX, INT64_MIN, INT64_MAX, 1LL << 53, -(1LL << 53) - 1};
    static const double kDoubles[] = {0.0, -0.0, 1.0, 1e9, -1234567890.0, 9999999999.4, 0.1, 1.5e-7,
                                      INFINITY, -INFINITY, NAN, -NAN, std::nan("7"),
                                      // signalling NaNs: their bits must pass unchanged
                                      FromBits(0x7FF0000000000001), FromBits(0xFFF4000000000000)};
    static const char16_t kTricky[] = u"\"'\\\n\r\t/u";
    const bool edge = Below(4) == 0;
    const uint64_t wide = uint64_t{random_()} << 32 | random_();
    Value v{kind};
    switch (kind) {
      case Kind::Int:
        v.i = edge ? static_cast<int32_t>(kEdges[Below(15)])
                   : static_cast<int32_t>(wide) >> Below(32);
        break;
      case Kind::Int64:
        v.i = edge ? kEdges[Below(15)] : static_cast<int64_t>(wide) >> Below(64);
        break;
      case Kind::Double:  // a magnitude that stays inside the range at ten digits
        v.d = edge ? kDoubles[Below(15)]
                   : (std::ldexp(static_cast<double>(wide >> 11), -52) - 1) *
                         std::pow(10.0, static_cast<int>(Below(600)) - 300);
        break;
      case Kind::String:
        if (Below(5) == 0) return Str(Below(2) ? u"0x" + HexDigits() : u"0X" + HexDigits());
        for (uint32_t n = Length(200); n > 0; --n) {
          const uint32_t top = Below(3) == 0 ? 0x7F : Below(2) ? 0x3FFF : 0xFFFF;
          v.units += Below(3) == 0 ? kTricky[Below(8)] : static_cast<char16_t>(1 + Below(top));
        }
        break;
      case Kind::StringA:
        if (Below(5) == 0) return StrA("0x1f");
        for (uint32_t n = Length(200); n > 0; --n) v.units += static_cast<char16_t>(1 + Below(255));
        break;
      default:  // Blob
        for (uint32_t n = Length(300); n > 0; --n) v.units += static_cast<char16_t>(Below(256));
        break;
    }
    return v;
  }

  // Mostly below 12, now and then `longer`.
  uint32_t Length(uint32_t longer) { return Below(16) == 0 ? longer : Below(12); }

  std::u16string HexDigits() {
    std::u16string digits(2 * Below(5), u'0');
    for (char16_t& c : digits) c = u"0123456789abcdefABCDEF"[Below(22)];
    return digits;
  }

  std::mt19937 random_;
};

}  // namespace test_values

#endif  // QKXDR_TESTS_TEST_VALUES_H_
