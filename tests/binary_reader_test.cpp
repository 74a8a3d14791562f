// The binary reader: scripted operations on hand-made inputs (arrays, Skip,
// ReadType, unknown tags, truncated data), conversions between integers and
// doubles, type codes of both generations, factories and blob views.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>

#include "QkXDR.h"
#include "binary_values.h"
#include "sbuf/binary.h"
#include "test_allocator.h"

namespace binary_test {
namespace {

const char* const kNames1[] = {"ArrayBegin", "ArrayEnd", "Int", "String", "Double", "None"};
const char* const kNames2[] = {"ArrayBegin", "ArrayEnd", "None",  "Int",
                               "String",     "Double",   "Binary"};

template <typename I, typename Code>
std::string Name(Code code) {
  return (std::is_same_v<I, QkXDRIStream2> ? kNames2 : kNames1)[static_cast<int>(code)];
}

// "[0061 0062]": the elements of the allocator's last buffer, in hex; those
// the read left alone still hold the allocator's marker (CC or CCCC).
template <typename Unit>
std::string Units(const TestAllocator& allocator) {
  std::string text = "[";
  for (Unit unit : allocator.Last<Unit>(allocator.requests.back())) {
    char hex[8];
    std::snprintf(hex, sizeof hex, text.size() > 1 ? " %0*X" : "%0*X",
                  static_cast<int>(2 * sizeof(Unit)), static_cast<unsigned>(unit));
    text += hex;
  }
  return text + "]";
}

// The number that read(&v) stored, or "no" when it failed.
template <typename T, typename ReadFn>
std::string Number(ReadFn read) {
  T v = 0;
  if (!read(&v)) return "no";
  std::ostringstream out;
  out << v;
  return out.str();
}

// One operation by name; its result as text, "no" for a read that failed.
template <typename I>
std::string Step(I* r, const std::string& op) {
  TestAllocator allocator;
  if (op == "Peek") return Name<I>(r->PeekType());
  if (op == "Type") return Name<I>(r->ReadType());
  if (op == "Begin") return r->ReadBeginArray() ? "yes" : "no";
  if (op == "End") return r->ReadEndArray() ? "yes" : "no";
  if (op == "Int") return Number<int32_t>([r](int32_t* v) { return r->ReadInt(v); });
  if (op == "Double") return Number<double>([r](double* v) { return r->ReadDouble(v); });
  if (op == "Str") return r->ReadString(&allocator) ? Units<char16_t>(allocator) : "no";
  if (op == "StrNull") {
    TestAllocator refusing(true);
    return r->ReadString(&refusing) ? std::to_string(refusing.requests.size()) + " call" : "no";
  }
  if (op == "Skip") {
    r->Skip();
    return "-";
  }
  if (op == "Valid") return r->IsValid() ? "1" : "0";
  if (op == "Nulls") {
    return r->ReadInt(nullptr) || r->ReadDouble(nullptr) || r->ReadString(nullptr) ? "yes" : "no";
  }
  if constexpr (std::is_same_v<I, QkXDRIStream2>) {
    QkXDRBinary slot{};
    if (op == "Int64") return Number<int64_t>([r](int64_t* v) { return r->ReadInt64(v); });
    if (op == "StrA") return r->ReadStringA(&allocator) ? Units<uint8_t>(allocator) : "no";
    if (op == "Bin") {
      if (!r->ReadBinary(&slot)) return "no";
      TestAllocator copy;
      QkXDRBinaryRead(&slot, &copy);
      QkXDRBinaryFree(&slot);
      return copy.requests.empty() ? "[]" : Units<uint8_t>(copy);
    }
    if (op == "Nulls2") {
      return r->ReadInt64(nullptr) || r->ReadStringA(nullptr) || r->ReadBinary(nullptr) ? "yes"
                                                                                        : "no";
    }
  }
  ADD_FAILURE() << "unknown operation " << op;
  return "?";
}

// Runs the space-separated operations on a reader of interface I over
// `input`, checking that every failed read changed nothing.
template <typename I>
std::string RunScript(const Bytes& input, const std::string& ops) {
  I* r = Open<I>(input);
  if (r == nullptr) return "null";
  std::istringstream in(ops);
  std::string results;
  for (std::string op; in >> op;) {
    const ReaderState before = StateOf(r);
    const std::string result = Step(r, op);
    EXPECT_TRUE(result != "no" || StateOf(r) == before) << op << " failed but moved";
    EXPECT_LE(Decoder(r).dc.p, input.data() + input.size());
    results += (results.empty() ? "" : " ") + result;
  }
  r->Release();
  return results;
}

TEST(BinaryReader, Scripts) {
  struct Case {
    int generation;
    const char* name;
    const char* input;
    const char* ops;
    const char* results;
  };
  const Case cases[] = {
      {2, "one empty array", "00 2A", "Peek End Begin End Valid Peek End Int",
       "ArrayBegin no yes yes 0 ArrayEnd no no"},
      {2, "one tag for three ints", "56 82 84 86", "Int Int Valid Int Valid", "1 2 1 3 0"},
      {2, "skip a whole array", "00 54 82 00 55 84 86 2A A8 81 F8 2A 54 88", "Begin Skip Int Valid",
       "yes - 4 0"},
      {2, "skip leaves the outer end", "01 54 82 2B", "Begin Begin Skip Peek End Valid",
       "yes yes - ArrayEnd yes 0"},
      {2, "skip outside every array", "54 82", "Skip Valid Peek", "- 0 Int"},
      {2, "skip in the middle", "00 56 82 84 86 2A 54 88", "Begin Int Skip Int", "yes 1 - 4"},
      {2, "skip every payload type",
       "00 54 82 7E 00*8 A9 82 E1 E2 80 D3 83 01 02 03 80 FC 2A 54 8A", "Begin Skip Int",
       "yes - 5"},
      {2, "skip 42 levels in two tags", "29 54 82 53 2A 54 84", "Begin Skip Peek End Int",
       "yes - ArrayEnd yes 2"},
      {2, "skip stops inside a run of ends", "53 54 82", "Skip Peek Type Valid Skip Int",
       "- ArrayEnd ArrayEnd 1 - no"},
      {2, "skip with the end missing", "00 00 54 82 2A", "Begin Skip Valid", "yes - 0"},
      {2, "skip over unknown tags", "FF 2A 54 82", "Skip Int", "- 1"},
      {2, "read type steps over one value each", "00 54 82 A8 81 E1 7E 00*8 D2 81 FF FC 2A",
       "Type Type Type Type Type Type Type Valid Type Valid",
       "ArrayBegin Int String Double Binary None ArrayEnd 0 ArrayEnd 0"},
      {2, "unknown tags", "FD 54 82",
       "Peek Int Int64 Double Str StrA Bin Begin End Type Peek Type Int",
       "None no no no no no no no no None None None 1"},
      {1, "unknown tags, first generation", "FF", "Peek Int Str Type Type Type Type Valid Type",
       "None no no None None None None 0 None"},
      {1, "blob, first generation", "D2 81 FF 54 82", "Peek Int Double Str Begin End Type Int",
       "None no no no no no None 1"},
      {2, "strings of both kinds", "A9 82 E1 E2 82 7F 7F 83 2C C1", "StrA Str Valid",
       "[61 62] [FFFF 20AC] 0"},
      {2, "empty string", "A8 80", "Str Valid", "[] 0"},
      {2, "refused buffer still consumes", "A9 82 E1 E2 81 E3", "StrNull Str Valid",
       "1 call [0063] 0"},
      {2, "null outputs", "56 82 7E 00*8 A8 80", "Nulls Nulls2 Peek", "no no Int"},
      {2, "blobs", "D3 83 01 02 03 80 54 82", "Bin Bin Int", "[01 02 03] [] 1"},
      // Truncated data: a cut-off number, length or size is not delivered.
      {2, "int cut off", "54 00", "Int Int64 Double Peek Type Valid", "no no no Int Int 0"},
      {2, "double cut off", "7E 00 00 00", "Int Double Peek Type Valid", "no no Double Double 0"},
      {2, "string length cut off", "A8 00", "Str StrA Peek Type Valid", "no no String String 0"},
      {2, "string units cut off", "A8 83 E1 E2", "Str", "[0061 0062 CCCC]"},
      {2, "last unit cut off", "A8 83 E1 00", "StrA Valid", "[61 00 CC] 0"},
      {2, "blob size cut off", "D2 00", "Bin Peek Type Valid", "no Binary Binary 0"},
      {2, "blob longer than the data", "D2 83 01 02", "Bin Type Valid", "no Binary 0"},
      {2, "run longer than the data", "56 82", "Int Valid Int Peek Type Valid Type Valid",
       "1 1 no Int Int 1 Int 0"},
      {2, "skip over a cut-off array", "00 56 82", "Begin Skip Valid", "yes - 0"},
  };
  for (const Case& c : cases) {
    const Bytes input = Hex(c.input);
    const std::string got = c.generation == 2 ? RunScript<QkXDRIStream2>(input, c.ops)
                                              : RunScript<QkXDRIStream>(input, c.ops);
    EXPECT_EQ(got, c.results) << c.name;
  }
}

TEST(BinaryReader, ConvertsBetweenIntegersAndDoubles) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Value written;
    int32_t as_int;
    int64_t as_int64;
    double as_double;
  };
  const Case cases[] = {
      {Dbl(2.9), 2, 2, 2.9},
      {Dbl(-2.9), -2, -2, -2.9},
      {Dbl(-0.0), 0, 0, -0.0},
      {Dbl(1e10), INT32_MIN, 10000000000, 1e10},
      {Dbl(2147483647.9), INT32_MAX, 2147483647, 2147483647.9},
      {Dbl(2147483648.0), INT32_MIN, 2147483648, 2147483648.0},
      {Dbl(-2147483648.9), INT32_MIN, -2147483648, -2147483648.9},
      {Dbl(-2147483649.0), INT32_MIN, -2147483649, -2147483649.0},
      {Dbl(nan), INT32_MIN, INT64_MIN, nan},
      {Dbl(inf), INT32_MIN, INT64_MIN, inf},
      {Dbl(-inf), INT32_MIN, INT64_MIN, -inf},
      {Dbl(9223372036854775808.0), INT32_MIN, INT64_MIN, 9223372036854775808.0},
      {Dbl(9223372036854774784.0), INT32_MIN, 9223372036854774784, 9223372036854774784.0},
      {Dbl(-9223372036854775808.0), INT32_MIN, INT64_MIN, -9223372036854775808.0},
      {I32(INT32_MIN), INT32_MIN, INT32_MIN, -2147483648.0},
      {I64((int64_t{1} << 32) + 1), 1, (int64_t{1} << 32) + 1, 4294967297.0},
      {I64(-(int64_t{1} << 33) - 7), -7, -(int64_t{1} << 33) - 7, -8589934599.0},
      {I64((int64_t{1} << 53) + 1), 1, (int64_t{1} << 53) + 1, 9007199254740992.0},
      {I64(INT64_MIN), INT32_MIN, INT64_MIN, -9223372036854775808.0},
      {I64(INT64_MAX), INT32_MAX, INT64_MAX, 9223372036854775808.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.written.i << " / " << c.written.d);
    const Bytes bytes = Encode<QkXDROStream2>(Times(3, c.written));
    QkXDRIStream2* r = Open<QkXDRIStream2>(bytes);
    int32_t i32 = 0;
    int64_t i64 = 0;
    double d = 0;
    EXPECT_TRUE(r->ReadInt(&i32));
    EXPECT_TRUE(r->ReadInt64(&i64));
    EXPECT_TRUE(r->ReadDouble(&d));
    EXPECT_EQ(i32, c.as_int);
    EXPECT_EQ(i64, c.as_int64);
    EXPECT_TRUE(SameBits(d, c.as_double) || (std::isnan(d) && std::isnan(c.as_double))) << d;
    r->Release();

    QkXDRIStream* r1 = Open<QkXDRIStream>(bytes);
    EXPECT_TRUE(r1->ReadInt(&i32));
    EXPECT_TRUE(r1->ReadDouble(&d));
    EXPECT_EQ(i32, c.as_int);
    r1->Release();
  }
}

// Every tag byte, through both generations: the type of b / 42.
TEST(BinaryReader, TypeCodesOfEveryTagByte) {
  for (int b = 0; b < 256; ++b) {
    const Bytes input = {static_cast<uint8_t>(b)};
    const auto wire = static_cast<qkxdr::impl::WireType>(b / 42);
    QkXDRIStream* r1 = Open<QkXDRIStream>(input);
    QkXDRIStream2* r2 = Open<QkXDRIStream2>(input);
    ASSERT_TRUE(r1 != nullptr && r2 != nullptr);
    EXPECT_EQ(static_cast<int>(r1->PeekType()), CodeOf<QkXDRIStream>(wire)) << b;
    EXPECT_EQ(static_cast<int>(r2->PeekType()), CodeOf<QkXDRIStream2>(wire)) << b;
    EXPECT_EQ(static_cast<int>(r1->ReadType()), CodeOf<QkXDRIStream>(wire)) << b;
    EXPECT_EQ(static_cast<int>(r2->ReadType()), CodeOf<QkXDRIStream2>(wire)) << b;
    EXPECT_EQ(Decoder(r2).run.count, b % 42) << "values of the run still to come";
    r1->Release();
    r2->Release();
  }
}

TEST(BinaryReader, FactoriesRejectNoBytes) {
  const uint8_t byte = 0x54;
  EXPECT_EQ(QkXDRCreateIStream(nullptr, 5), nullptr);
  EXPECT_EQ(QkXDRCreateIStream(&byte, 0), nullptr);
  EXPECT_EQ(QkXDRCreateIStream2(nullptr, 5), nullptr);
  EXPECT_EQ(QkXDRCreateIStream2(&byte, 0), nullptr);
  QkXDRIStream* r = QkXDRCreateIStream(&byte, 1);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->IsValid()) << "a single tag byte is a current value";
  r->Release();
}

// A blob comes out as a view into the input, which outlives the reader; the
// slot's earlier content is released.
TEST(BinaryReader, BlobsAreViewsIntoTheInput) {
  const Bytes input = Hex("D3 83 01 02 03 81 09");
  QkXDRBinary slot{};
  new (&slot) sbuf::deep_binary(4);
  QkXDRIStream2* r = Open<QkXDRIStream2>(input);
  ASSERT_TRUE(r->ReadBinary(&slot));
  EXPECT_EQ(QkXDRBinaryData(&slot), input.data() + 2);
  EXPECT_EQ(QkXDRBinarySize(&slot), 3u);
  ASSERT_TRUE(r->ReadBinary(&slot));
  r->Release();
  EXPECT_EQ(QkXDRBinaryData(&slot), input.data() + 6);
  EXPECT_EQ(*static_cast<const uint8_t*>(QkXDRBinaryData(&slot)), 0x09);
  QkXDRBinaryFree(&slot);
}

}  // namespace
}  // namespace binary_test
