// Values to write into binary writers and to expect back from binary readers,
// shared by the binary stream tests.

#ifndef QKXDR_TESTS_BINARY_VALUES_H_
#define QKXDR_TESTS_BINARY_VALUES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "binary/binary_istream.h"
#include "test_allocator.h"

namespace binary_test {

using Bytes = std::vector<uint8_t>;

// Bytes from hex text: "54 8A" is two bytes, "80*42" is 42 bytes 0x80.
inline Bytes Hex(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    const auto star = token.find('*');
    const long count = star == std::string::npos ? 1 : std::stol(token.substr(star + 1));
    bytes.insert(bytes.end(), static_cast<size_t>(count),
                 static_cast<uint8_t>(std::stoul(token.substr(0, star), nullptr, 16)));
  }
  return bytes;
}

// One value as a writer receives it. The Null kinds pass a null pointer (or
// a view on null data) and read back as an empty string or blob.
enum class Kind {
  Begin,
  End,
  Int,
  Int64,
  Double,
  String,
  StringA,
  Blob,
  NullString,
  NullStringA,
  NullBlob,
  NullDataBlob
};

struct Value {
  Kind kind = Kind::Begin;
  int64_t i = 0;
  double d = 0;
  std::u16string s16;
  std::string s8;
  Bytes blob;
};

using Values = std::vector<Value>;

inline Value Of(Kind kind) {
  Value v;
  v.kind = kind;
  return v;
}
inline Value Begin() { return Of(Kind::Begin); }
inline Value End() { return Of(Kind::End); }
inline Value I32(int32_t i) {
  Value v = Of(Kind::Int);
  v.i = i;
  return v;
}
inline Value I64(int64_t i) {
  Value v = Of(Kind::Int64);
  v.i = i;
  return v;
}
inline Value Dbl(double d) {
  Value v = Of(Kind::Double);
  v.d = d;
  return v;
}
inline Value Str(std::u16string s) {
  Value v = Of(Kind::String);
  v.s16 = std::move(s);
  return v;
}
inline Value StrA(std::string s) {
  Value v = Of(Kind::StringA);
  v.s8 = std::move(s);
  return v;
}
inline Value Blob(Bytes b) {
  Value v = Of(Kind::Blob);
  v.blob = std::move(b);
  return v;
}

inline Values Times(int n, const Value& v) { return Values(static_cast<size_t>(n), v); }

inline Values Cat(std::initializer_list<Values> parts) {
  Values all;
  for (const Values& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline bool FirstGeneration(Kind kind) {
  return kind != Kind::Int64 && kind != Kind::StringA && kind != Kind::NullStringA &&
         kind < Kind::Blob;
}

// What ReadInt gives for any integer: its low 31 bits, with its sign.
inline int32_t Low31WithSign(int64_t v) {
  const int64_t magnitude = v < 0 ? -(v + 1) : v;
  const auto low = static_cast<int32_t>(magnitude & 0x7FFFFFFF);
  return v < 0 ? -low - 1 : low;
}

// Writes v into w: a stream interface, or an encoder (which has every write).
template <typename W>
void Write(W* w, const Value& v) {
  switch (v.kind) {
    case Kind::Begin:
      return w->BeginArray();
    case Kind::End:
      return w->EndArray();
    case Kind::Int:
      return w->WriteInt(static_cast<int32_t>(v.i));
    case Kind::Double:
      return w->WriteDouble(v.d);
    case Kind::String:
      return w->WriteString(v.s16.c_str());
    case Kind::NullString:
      return w->WriteString(nullptr);
    default:
      break;
  }
  if constexpr (!std::is_same_v<W, QkXDROStream>) {
    QkXDRBinary slot{};
    switch (v.kind) {
      case Kind::Int64:
        return w->WriteInt64(v.i);
      case Kind::StringA:
        return w->WriteStringA(v.s8.c_str());
      case Kind::NullStringA:
        return w->WriteStringA(nullptr);
      case Kind::NullBlob:
        return w->WriteBinary(nullptr);
      case Kind::NullDataBlob:
        QkXDRBinaryAttach(&slot, nullptr, 5);
        break;
      default:  // Blob; an empty one as an empty slot, a full one as a view
        if (!v.blob.empty()) QkXDRBinaryAttach(&slot, v.blob.data(), v.blob.size());
        break;
    }
    w->WriteBinary(&slot);
    QkXDRBinaryFree(&slot);
  } else {
    ADD_FAILURE() << "not a first-generation value " << static_cast<int>(v.kind);
  }
}

// The bytes a new writer of interface W produces for `values`.
template <typename W>
Bytes Encode(const Values& values) {
  W* w;
  if constexpr (std::is_same_v<W, QkXDROStream2>) {
    w = QkXDRCreateOStream2();
  } else {
    w = QkXDRCreateOStream();
  }
  for (const Value& v : values) Write(w, v);
  const auto* data = static_cast<const uint8_t*>(w->GetData());
  Bytes bytes(data, data + w->GetSize());
  w->Release();
  return bytes;
}

template <typename I>
qkxdr::impl::BinaryDecoder& Decoder(I* reader) {
  return static_cast<QkXDRIStreamImp<I>*>(reader)->imp;
}

// Where a reader stands: the cursor and the run.
struct ReaderState {
  const uint8_t* p;
  qkxdr::impl::WireType type;
  uint8_t count;
  bool operator==(const ReaderState& o) const {
    return p == o.p && type == o.type && count == o.count;
  }
};

template <typename I>
ReaderState StateOf(I* reader) {
  const qkxdr::impl::BinaryDecoder& d = Decoder(reader);
  return {d.dc.p, d.run.type, d.run.count};
}

// Public type codes by wire type: ArrayBegin, ArrayEnd, Int, Double, String,
// Binary, and runs of tag bytes 252-255.
constexpr int kCodes1[] = {0, 1, 2, 4, 3, 5, 5};
constexpr int kCodes2[] = {0, 1, 3, 5, 4, 6, 2};

template <typename I>
int CodeOf(qkxdr::impl::WireType t) {
  const auto index = static_cast<size_t>(t);
  return std::is_same_v<I, QkXDRIStream2> ? kCodes2[index] : kCodes1[index];
}

// The wire type of each Kind, in the order of its enumerators.
inline qkxdr::impl::WireType WireOf(Kind kind) {
  using qkxdr::impl::WireType;
  static const WireType kWires[] = {WireType::ArrayBegin, WireType::ArrayEnd, WireType::Int,
                                    WireType::Int,        WireType::Double,   WireType::String,
                                    WireType::String,     WireType::Binary,   WireType::String,
                                    WireType::String,     WireType::Binary,   WireType::Binary};
  return kWires[static_cast<int>(kind)];
}

// The units a string value reads back as, 16 bits each.
inline std::u16string UnitsOf(const Value& v) {
  if (v.kind == Kind::String) return v.s16;
  std::u16string units;
  for (char c : v.s8) units.push_back(static_cast<unsigned char>(c));
  return units;
}

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The reads that can take a value: the one of its own kind (ReadInt64 for
// integers in the second generation, ReadInt in the first; ReadType for what
// the interface has no read for), ReadInt or ReadDouble for an integer,
// ReadStringA for a string, and stepping over it with ReadType.
enum class Read { Own, AsInt, AsDouble, AsNarrow, Step };

// What one read of the current value delivered.
struct Delivery {
  Read used = Read::Own;
  bool ok = false;
  int code = -1;  // from ReadType
  int64_t number = 0;
  double real = 0;
  uint32_t requested = 0;  // Alloc's argument
  std::u16string units;
  Bytes blob;
};

// Reads the current value with `how`, or with its own read where `how` does
// not apply to it.
template <typename I>
Delivery ReadCurrent(I* r, Read how = Read::Own) {
  using qkxdr::impl::WireType;
  constexpr bool kGen2 = std::is_same_v<I, QkXDRIStream2>;
  const WireType type = Decoder(r).run.type;
  Delivery out;
  TestAllocator allocator;
  if (how == Read::Step || type == WireType::Other || (!kGen2 && type == WireType::Binary)) {
    out.used = Read::Step;
    out.code = static_cast<int>(r->ReadType());
    out.ok = true;
  } else if (type == WireType::Int && (how == Read::AsInt || (!kGen2 && how != Read::AsDouble))) {
    int32_t v = 0;
    out.used = Read::AsInt;
    out.ok = r->ReadInt(&v);
    out.number = v;
  } else if (type == WireType::Double || (type == WireType::Int && how == Read::AsDouble)) {
    out.used = Read::AsDouble;
    out.ok = r->ReadDouble(&out.real);
  } else if (type == WireType::ArrayBegin || type == WireType::ArrayEnd) {
    out.ok = type == WireType::ArrayBegin ? r->ReadBeginArray() : r->ReadEndArray();
  } else if (type == WireType::String && (!kGen2 || how != Read::AsNarrow)) {
    out.ok = r->ReadString(&allocator);
    if (out.ok) {
      out.requested = allocator.requests.at(0);
      const std::vector<char16_t> units = allocator.Last<char16_t>(out.requested);
      out.units.assign(units.begin(), units.end());
    }
  } else if constexpr (kGen2) {
    if (type == WireType::Int) {
      out.ok = r->ReadInt64(&out.number);
    } else if (type == WireType::String) {
      out.used = Read::AsNarrow;
      out.ok = r->ReadStringA(&allocator);
      if (out.ok) {
        out.requested = allocator.requests.at(0);
        const std::vector<uint8_t> units = allocator.Last<uint8_t>(out.requested);
        out.units.assign(units.begin(), units.end());
      }
    } else {
      QkXDRBinary slot{};
      out.ok = r->ReadBinary(&slot);
      const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(&slot));
      out.blob.assign(data, data + QkXDRBinarySize(&slot));
      QkXDRBinaryFree(&slot);
    }
  }
  return out;
}

// Reads the current value of reader r and expects v. With `rng`, reads of
// kinds the value does not have are tried first (they must fail and change
// nothing), and the value is taken by a read chosen at random.
template <typename I>
void ExpectValue(I* r, const Value& v, std::mt19937* rng) {
  using qkxdr::impl::WireType;
  const WireType wire = WireOf(v.kind);
  ASSERT_TRUE(r->IsValid());
  ASSERT_EQ(static_cast<int>(r->PeekType()), CodeOf<I>(wire));
  if (rng != nullptr) {
    const ReaderState before = StateOf(r);
    TestAllocator refused;
    int32_t untouched = 7;
    const bool number = wire == WireType::Int || wire == WireType::Double;
    EXPECT_TRUE(wire == WireType::String || !r->ReadString(&refused));
    EXPECT_TRUE(number || !r->ReadInt(&untouched));
    EXPECT_TRUE(wire == WireType::ArrayBegin || !r->ReadBeginArray());
    EXPECT_TRUE(wire == WireType::ArrayEnd || !r->ReadEndArray());
    EXPECT_EQ(untouched, 7);
    EXPECT_TRUE(refused.requests.empty());
    EXPECT_TRUE(StateOf(r) == before) << "a refused read changed the reader";
  }
  const Delivery got = ReadCurrent(r, rng == nullptr ? Read::Own : static_cast<Read>((*rng)() % 5));
  ASSERT_TRUE(got.ok);
  std::u16string units = UnitsOf(v);
  switch (got.used) {
    case Read::Step:
      EXPECT_EQ(got.code, CodeOf<I>(wire));
      return;
    case Read::AsInt:
      EXPECT_EQ(got.number, Low31WithSign(v.i)) << v.i;
      return;
    case Read::AsDouble:
      EXPECT_TRUE(SameBits(got.real, v.kind == Kind::Double ? v.d : static_cast<double>(v.i)));
      return;
    case Read::AsNarrow:
      for (char16_t& unit : units) unit &= 0xFF;
      break;
    case Read::Own:
      break;
  }
  EXPECT_EQ(got.number, v.i);
  EXPECT_EQ(got.units, units);
  EXPECT_EQ(got.requested, units.size());
  EXPECT_EQ(got.blob, v.kind == Kind::Blob ? v.blob : Bytes{});
}

// A reader of interface I over bytes that must outlive it.
template <typename I>
I* Open(const uint8_t* data, uint32_t size) {
  if constexpr (std::is_same_v<I, QkXDRIStream2>) {
    return QkXDRCreateIStream2(data, size);
  } else {
    return QkXDRCreateIStream(data, size);
  }
}

template <typename I>
I* Open(const Bytes& bytes) {
  return Open<I>(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// Reads all of `values` back from `bytes` through interface I, then expects
// the reader to be used up.
template <typename I>
void ExpectReadBack(const Bytes& bytes, const Values& values, std::mt19937* rng = nullptr) {
  if (bytes.empty()) return;
  I* r = Open<I>(bytes);
  ASSERT_NE(r, nullptr);
  for (size_t k = 0; k < values.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "value " << k);
    ExpectValue(r, values[k], rng);
    if (testing::Test::HasFatalFailure()) break;
  }
  EXPECT_FALSE(r->IsValid());
  EXPECT_EQ(Decoder(r).dc.p, bytes.data() + bytes.size());
  r->Release();
}

}  // namespace binary_test

#endif  // QKXDR_TESTS_BINARY_VALUES_H_
