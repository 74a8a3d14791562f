// Random write sequences through the binary and the text writer, read back
// through the second-generation readers and the event parse. Both encodings
// give the same values, except where the text form itself changes a value:
//  - a double written without a decimal point (ten integer digits) is an Int;
//  - a string beginning "0x" or "0X" is a blob to the second-generation reader;
//  - an 8-bit string's bytes travel as sign-extended units in text;
//  - -0.0 is written "-0." and reads back as +0.0;
//  - doubles are equal when they write the same text (ten significant digits).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "QkXDR.h"
#include "test_allocator.h"
#include "text/double_format.h"

namespace {

enum class Kind { Begin, End, Int, Double, String, Blob };

// One value as a reader or the parse delivers it.
struct Value {
  Value(Kind k, int64_t i = 0, double r = 0, std::u16string u = {})
      : kind(k), integer(i), real(r), units(std::move(u)) {}

  Kind kind;
  int64_t integer;
  double real;
  std::u16string units;  // a string's units, or a blob's bytes one per unit

  // Doubles compare by their written form, so -0.0 and NaN need no care.
  bool operator==(const Value& other) const {
    if (kind != other.kind) return false;
    if (kind == Kind::Double) return Written(real) == Written(other.real);
    return integer == other.integer && units == other.units;
  }
  static std::u16string Written(double v) {
    char16_t text[qkxdr::impl::kMaxDoubleText];
    return std::u16string(text, qkxdr::impl::FormatDouble(v, text));
  }
};

std::ostream& operator<<(std::ostream& out, const Value& v) {
  static const char* const kNames[] = {"[", "]", "int ", "double ", "string ", "blob "};
  out << kNames[static_cast<int>(v.kind)];
  if (v.kind == Kind::Int) out << v.integer;
  if (v.kind == Kind::Double) out << v.real;
  for (char16_t unit : v.units) out << std::hex << static_cast<unsigned>(unit) << ' ';
  return out << std::dec;
}

// One write call, and what each encoding reads back for it.
struct Write {
  enum Op { Begin, End, Int32, Int64, Double, String16, String8, Blob };
  explicit Write(Op o) : op(o) {}

  Op op;
  int64_t integer = 0;
  double real = 0;
  std::u16string units;  // String16
  std::string bytes;     // String8 and Blob

  void To(QkXDROStream2* out) const {
    QkXDRBinary blob{};
    switch (op) {
      case Begin:
        return out->BeginArray();
      case End:
        return out->EndArray();
      case Int32:
        return out->WriteInt(static_cast<int32_t>(integer));
      case Int64:
        return out->WriteInt64(integer);
      case Double:
        return out->WriteDouble(real);
      case String16:
        return out->WriteString(units.c_str());
      case String8:
        return out->WriteStringA(bytes.c_str());
      case Blob:
        QkXDRBinaryAttach(&blob, bytes.data(), static_cast<uint32_t>(bytes.size()));
        out->WriteBinary(&blob);
        return QkXDRBinaryFree(&blob);
    }
  }

  Value FromBinary() const {
    switch (op) {
      case Begin:
        return {Kind::Begin};
      case End:
        return {Kind::End};
      case Int32:
      case Int64:
        return {Kind::Int, integer};
      case Double:
        return {Kind::Double, 0, real};
      case String16:
        return {Kind::String, 0, 0, units};
      case String8:
        return {Kind::String, 0, 0, Widened(false)};
      case Blob:
        return {Kind::Blob, 0, 0, Widened(false)};
    }
    return {Kind::Begin};
  }

  Value FromText() const {
    if (op == Double) {
      const std::string written = Narrow(Value::Written(real));
      if (written.find('.') == std::string::npos) return {Kind::Int, std::stoll(written)};
      if (real == 0) return {Kind::Double, 0, 0.0};  // "-0." reads as +0.0
    }
    if (op != String16 && op != String8) return FromBinary();
    const std::u16string units = TextUnits();
    if (units.size() >= 2 && units[0] == u'0' && (units[1] | 0x20) == u'x') {
      return {Kind::Blob, 0, 0, HexBytes(units.substr(2))};
    }
    return {Kind::String, 0, 0, units};
  }

  // What the parse reports: integers cut to 32 bits, strings and blobs as
  // their text.
  Value FromParse() const {
    if (op == String16 || op == String8 || op == Blob) return {Kind::String, 0, 0, TextUnits()};
    const Value v = FromText();
    if (v.kind == Kind::Int) return {Kind::Int, static_cast<int32_t>(v.integer & 0xFFFFFFFF)};
    return v;
  }

  // A string's or blob's units as the text holds them.
  std::u16string TextUnits() const {
    if (op == Blob) return u"0X" + Hex(bytes);
    return op == String8 ? Widened(true) : units;
  }

  static std::string Narrow(const std::u16string& units) {
    return std::string(units.begin(), units.end());
  }

  // The bytes as units: unsigned, or sign-extended as the text writer widens them.
  std::u16string Widened(bool sign_extend) const {
    std::u16string out;
    for (char c : bytes) {
      out += static_cast<char16_t>(sign_extend ? static_cast<signed char>(c)
                                               : static_cast<unsigned char>(c));
    }
    return out;
  }

  static std::u16string Hex(const std::string& bytes) {
    std::u16string out;
    for (unsigned char b : bytes) {
      out += u"0123456789ABCDEF"[b >> 4];
      out += u"0123456789ABCDEF"[b & 15];
    }
    return out;
  }

  // Generated hex texts hold only digits, in pairs.
  static std::u16string HexBytes(const std::u16string& digits) {
    std::u16string out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
      out += static_cast<char16_t>(
          std::stoi(std::string{char(digits[i]), char(digits[i + 1])}, nullptr, 16));
    }
    return out;
  }
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  std::vector<Write> Sequence() {
    std::vector<Write> writes;
    int depth = 0;
    for (int n = Below(30); n > 0; --n) {
      Write w = Next();
      if (w.op == Write::End && depth == 0) w.op = Write::Begin;
      depth += w.op == Write::Begin ? 1 : w.op == Write::End ? -1 : 0;
      writes.push_back(w);
    }
    for (; depth > 0; --depth) writes.push_back(Write(Write::End));
    return writes;
  }

 private:
  uint32_t Below(uint32_t n) { return random_() % n; }

  Write Next() {
    Write w(static_cast<Write::Op>(Below(8)));
    switch (w.op) {
      case Write::Int32:
        w.integer = static_cast<int32_t>(random_()) >> Below(32);
        break;
      case Write::Int64:
        w.integer = static_cast<int64_t>(Wide() >> Below(64));
        break;
      case Write::Double:
        w.real = RandomDouble();
        break;
      case Write::String16:
        w.units = RandomUnits();
        break;
      case Write::String8:
      case Write::Blob:
        w.bytes = RandomBytes(w.op == Write::String8);
        break;
      default:
        break;
    }
    return w;
  }

  uint64_t Wide() { return uint64_t{random_()} << 32 | random_(); }

  // Every magnitude that stays inside the double range once rounded to ten
  // digits, the values with ten integer digits, and the non-finite ones.
  double RandomDouble() {
    static const double kSpecial[] = {
        0.0, -0.0, 1.0, 1e9, -1234567890.0, 9999999999.4, 0.1, 1.5e-7, INFINITY, -INFINITY, NAN};
    if (Below(4) == 0) return kSpecial[Below(std::size(kSpecial))];
    const double mantissa = std::ldexp(static_cast<double>(Wide() >> 11), -53) * 2 - 1;
    return mantissa * std::pow(10.0, static_cast<int>(Below(600)) - 300);
  }

  // Units 1..0xFFFF with quotes, backslashes, line ends and "0x" prefixes.
  std::u16string RandomUnits() {
    static const char16_t kTricky[] = u"\"'\\\n\r\t/u";
    if (Below(5) == 0) return u"0" + std::u16string(1, Below(2) ? u'x' : u'X') + Hex(4);
    std::u16string out(Below(12), u'a');
    for (char16_t& c : out) {
      c = Below(3) ? kTricky[Below(8)] : static_cast<char16_t>(1 + Below(0xFFFF));
    }
    return out;
  }

  std::u16string Hex(uint32_t pairs) {
    std::u16string out;
    for (uint32_t i = 0; i < 2 * pairs; ++i) out += u"0123456789abcdefABCDEF"[Below(22)];
    return out;
  }

  // Bytes 1..255 (an 8-bit string stops at a zero byte), or any for a blob.
  std::string RandomBytes(bool no_zero) {
    if (no_zero && Below(5) == 0) return "0x1f";
    std::string out(Below(10), 'a');
    for (char& c : out) c = static_cast<char>(no_zero ? 1 + Below(255) : Below(256));
    return out;
  }

  std::mt19937 random_;
};

// Every value of the reader, by its type, until it has no current value.
std::vector<Value> ReadAll(QkXDRIStream2* in) {
  std::vector<Value> values;
  while (in->IsValid()) {
    Value v{Kind::Begin};
    TestAllocator allocator;
    QkXDRBinary blob{};
    bool read = false;
    switch (in->PeekType()) {
      case QkXDRType2::ArrayBegin:
        read = in->ReadBeginArray();
        break;
      case QkXDRType2::ArrayEnd:
        v.kind = Kind::End;
        read = in->ReadEndArray();
        break;
      case QkXDRType2::Int:
        v.kind = Kind::Int;
        read = in->ReadInt64(&v.integer);
        break;
      case QkXDRType2::Double:
        v.kind = Kind::Double;
        read = in->ReadDouble(&v.real);
        break;
      case QkXDRType2::String:
        v.kind = Kind::String;
        read = in->ReadString(&allocator);
        if (!allocator.requests.empty()) {
          const std::vector<char16_t> units = allocator.Last<char16_t>(allocator.requests[0]);
          v.units.assign(units.begin(), units.end());
        }
        break;
      case QkXDRType2::Binary: {
        v.kind = Kind::Blob;
        read = in->ReadBinary(&blob);
        const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(&blob));
        v.units.assign(data, data + QkXDRBinarySize(&blob));
        QkXDRBinaryFree(&blob);
        break;
      }
      case QkXDRType2::None:
        break;
    }
    if (!read) {
      ADD_FAILURE() << "unreadable value after " << values.size();
      break;
    }
    values.push_back(v);
  }
  return values;
}

class EventRecorder final : public QkXDRTextHandler {
 public:
  bool OnDouble(double v) override { return Add({Kind::Double, 0, v}); }
  bool OnInt(int32_t v) override { return Add({Kind::Int, v}); }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    return Add({Kind::String, 0, 0, std::u16string(begin, end)});
  }
  bool OnBeginArray() override { return Add({Kind::Begin}); }
  bool OnEndArray() override { return Add({Kind::End}); }
  std::vector<Value> events;

 private:
  bool Add(const Value& v) {
    events.push_back(v);
    return true;
  }
};

template <typename Expect>
std::vector<Value> Expected(const std::vector<Write>& writes, Expect expect) {
  std::vector<Value> values;
  for (const Write& w : writes) values.push_back((w.*expect)());
  return values;
}

// Writes the sequence and returns the output.
std::string Encode(QkXDROStream2* out, const std::vector<Write>& writes) {
  for (const Write& w : writes) w.To(out);
  std::string bytes(static_cast<const char*>(out->GetData()), out->GetSize());
  out->Release();
  return bytes;
}

TEST(RoundTrip, BinaryAndTextReadBackTheSameValues) {
  Generator generator(20261206);
  for (int round = 0; round < 3000; ++round) {
    const std::vector<Write> writes = generator.Sequence();
    SCOPED_TRACE("round " + std::to_string(round));

    const std::string binary = Encode(QkXDRCreateOStream2(), writes);
    QkXDRIStream2* binary_in =
        QkXDRCreateIStream2(binary.data(), static_cast<uint32_t>(binary.size()));
    if (binary_in != nullptr) {
      EXPECT_EQ(ReadAll(binary_in), Expected(writes, &Write::FromBinary));
      binary_in->Release();
    } else {
      EXPECT_TRUE(writes.empty()) << "a reader exists for any non-empty stream";
    }

    const std::string bytes = Encode(QkXDRCreateTextOStream2(), writes);
    std::u16string text(bytes.size() / 2, u' ');
    if (!bytes.empty()) std::memcpy(&text[0], bytes.data(), bytes.size());
    QkXDRIStream2* text_in =
        QkXDRCreateTextIStream2(text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(ReadAll(text_in), Expected(writes, &Write::FromText));
    text_in->Release();

    EventRecorder recorder;
    QkXDRTextParse(&recorder, text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(recorder.events, Expected(writes, &Write::FromParse));
    if (HasFailure()) break;
  }
}

// Ten-digit forms beyond the double range read back as the tokenizer's
// arithmetic gives them: past the largest double as infinity, below the
// smallest normal power of ten as zero.
TEST(RoundTrip, TextDoublesAtTheEdgesOfTheRange) {
  const struct {
    double written;
    double read;
  } cases[] = {{1.7976931348623157e308, INFINITY},
               {-1.7976931348623157e308, -INFINITY},
               {9.9999999996e307, 9.9999999996e307},
               {1e-308, 1e-308},
               {1e-310, 0.0},
               {4.9406564584124654e-324, 0.0}};
  for (const auto& c : cases) {
    QkXDROStream* out = QkXDRCreateTextOStream();
    out->WriteDouble(c.written);
    QkXDRIStream* in =
        QkXDRCreateTextIStream(static_cast<const char16_t*>(out->GetData()), out->GetSize() / 2);
    double read = 0;
    EXPECT_TRUE(in->ReadDouble(&read));
    EXPECT_EQ(Value::Written(read), Value::Written(c.read)) << c.written;
    in->Release();
    out->Release();
  }
}

}  // namespace
