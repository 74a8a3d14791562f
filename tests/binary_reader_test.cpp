// The binary reader: scripted sessions on hand-made inputs, conversions
// between integers and doubles, type codes, factories and blob views.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "QkXDR.h"
#include "read_script.h"
#include "sbuf/binary.h"
#include "test_values.h"

namespace test_values {
namespace {

// The script's results on a reader of interface I over `input`; every failed
// read leaves the cursor and the run, and the cursor stays within the input.
template <typename I>
std::string Script(const Bytes& input, const std::string& ops) {
  I* r = Open<I>(input);
  if (r == nullptr) return "null";
  const std::string results = read_script::Run(r, ops, [&input](I* reader) {
    EXPECT_LE(Decoder(reader).dc.p, input.data() + input.size());
    return StateOf(reader);
  });
  r->Release();
  return results;
}

// Sessions by hand: arrays and Skip, ReadType, unknown tags, strings, blobs,
// and data cut off by the end of the input.
TEST(BinaryReader, Scripts) {
  const struct {
    int generation;
    const char* input;
    const char* ops;
    const char* results;
  } cases[] = {
      {2, "00 2A", "Peek End Begin End Valid Peek End Int",
       "ArrayBegin no yes yes 0 ArrayEnd no no"},
      {2, "56 82 84 86", "Int Int Valid Int Valid", "1 2 1 3 0"},  // one tag for three
      {2, "00 54 82 00 55 84 86 2A A8 81 F8 2A 54 88", "Begin Skip Int Valid", "yes - 4 0"},
      {2, "01 54 82 2B", "Begin Begin Skip Peek End Valid", "yes yes - ArrayEnd yes 0"},
      {2, "54 82", "Skip Valid Peek", "- 0 Int"},  // Skip outside every array
      {2, "00 56 82 84 86 2A 54 88", "Begin Int Skip Int", "yes 1 - 4"},
      {2, "00 54 82 7E 00*8 A9 82 E1 E2 80 D3 83 01 02 03 80 FC 2A 54 8A", "Begin Skip Int",
       "yes - 5"},  // Skip over every payload type and an unknown tag
      {2, "29 54 82 53 2A 54 84", "Begin Skip Peek End Int", "yes - ArrayEnd yes 2"},
      {2, "53 54 82", "Skip Peek Type Valid Skip Int", "- ArrayEnd ArrayEnd 1 - no"},
      {2, "00 00 54 82 2A", "Begin Skip Valid", "yes - 0"},  // the end missing
      {2, "FF 2A 54 82", "Skip Int", "- 1"},
      {2, "00 54 82 A8 81 E1 7E 00*8 D2 81 FF FC 2A", "Type*7 Valid Type Valid",
       "ArrayBegin Int String Double Binary None ArrayEnd 0 ArrayEnd 0"},
      {2, "FD 54 82", "Valid Peek Int Int64 Double Str StrA Bin Begin End Type Peek Type Int",
       "1 None no no no no no no no no None None None 1"},  // a None value is a current value
      {1, "FF", "Peek Int Str Type*4 Valid Type", "None no no None None None None 0 None"},
      {1, "D2 81 FF 54 82", "Peek Int Double Str Begin End Type Int",
       "None no no no no no None 1"},  // a blob, first generation
      {2, "A9 82 E1 E2 82 7F 7F 83 2C C1", "StrA Str Valid", "[61 62] [FFFF 20AC] 0"},
      {2, "A8 80", "Str Valid", "[] 0"},
      {2, "A9 82 E1 E2 81 E3", "StrNull Str Valid", "refused [0063] 0"},
      {2, "D3 83 01 02 03 80 54 82", "Bin Bin Int", "[01 02 03] [] 1"},
      // A number, length or size cut off by the end is not delivered; string
      // units are delivered as far as they go.
      {2, "54 00", "Int Int64 Double Peek Type Valid", "no no no Int Int 0"},
      {2, "7E 00 00 00", "Int Double Peek Type Valid", "no no Double Double 0"},
      {2, "A8 00", "Str StrA Peek Type Valid", "no no String String 0"},
      {2, "A8 83 E1 E2", "Str", "[0061 0062 CCCC]"},
      {2, "A8 83 E1 00", "StrA Valid", "[61 00 CC] 0"},
      {2, "D2 00", "Bin Peek Type Valid", "no Binary Binary 0"},
      {2, "D2 83 01 02", "Bin Type Valid", "no Binary 0"},
      {2, "56 82", "Int Valid Int Peek Type Valid Type Valid", "1 1 no Int Int 1 Int 0"},
      {2, "00 56 82", "Begin Skip Valid", "yes - 0"},
  };
  for (const auto& c : cases) {
    const Bytes input = Hex(c.input);
    EXPECT_EQ(c.generation == 2 ? Script<QkXDRIStream2>(input, c.ops)
                                : Script<QkXDRIStream>(input, c.ops),
              c.results)
        << c.input;
  }
}

// One value read by ReadInt, ReadInt64 and ReadDouble, and by the first
// generation's ReadInt and ReadDouble.
TEST(BinaryReader, ConvertsBetweenIntegersAndDoubles) {
  const struct {
    Value written;
    const char* results;
  } cases[] = {
      {Dbl(2.9), "2 2 2.9"},
      {Dbl(-2.9), "-2 -2 -2.9"},
      {Dbl(-0.0), "0 0 -0"},
      {Dbl(1e10), "-2147483648 10000000000 1e+10"},
      {Dbl(2147483647.9), "2147483647 2147483647 2147483647.9"},
      {Dbl(2147483648.0), "-2147483648 2147483648 2147483648"},
      {Dbl(-2147483648.9), "-2147483648 -2147483648 -2147483648.9"},
      {Dbl(-2147483649.0), "-2147483648 -2147483649 -2147483649"},
      {Dbl(NAN), "-2147483648 -9223372036854775808 nan"},
      {Dbl(INFINITY), "-2147483648 -9223372036854775808 inf"},
      {Dbl(-INFINITY), "-2147483648 -9223372036854775808 -inf"},
      {Dbl(9223372036854775808.0), "-2147483648 -9223372036854775808 9223372036854775808"},
      {Dbl(9223372036854774784.0), "-2147483648 9223372036854774784 9223372036854774784"},
      {Dbl(-9223372036854775808.0), "-2147483648 -9223372036854775808 -9223372036854775808"},
      {I32(INT32_MIN), "-2147483648 -2147483648 -2147483648"},
      {I64((int64_t{1} << 32) + 1), "1 4294967297 4294967297"},
      {I64(-(int64_t{1} << 33) - 7), "-7 -8589934599 -8589934599"},
      {I64((int64_t{1} << 53) + 1), "1 9007199254740993 9007199254740992"},
      {I64(INT64_MIN), "-2147483648 -9223372036854775808 -9223372036854775808"},
      {I64(INT64_MAX), "2147483647 9223372036854775807 9223372036854775808"},
  };
  for (const auto& c : cases) {
    const Bytes bytes = Encode(QkXDRCreateOStream2(), Times(3, c.written));
    const std::string results = c.results;
    EXPECT_EQ(Script<QkXDRIStream2>(bytes, "Int Int64 Double"), results);
    EXPECT_EQ(Script<QkXDRIStream>(bytes, "Int Double"),
              results.substr(0, results.find(' ')) + results.substr(results.rfind(' ')));
  }
}

// Every tag byte through both generations: the type of b / 42, and b % 42
// further values in its run.
TEST(BinaryReader, TypeCodesOfEveryTagByte) {
  static const Kind kKinds[] = {Kind::Begin,  Kind::End,  Kind::Int, Kind::Double,
                                Kind::String, Kind::Blob, Kind::None};
  for (int b = 0; b < 256; ++b) {
    const Bytes input = {static_cast<uint8_t>(b)};
    const Kind kind = kKinds[b / 42];
    const std::string name = read_script::TypeName(kind);
    EXPECT_EQ(Script<QkXDRIStream2>(input, "Peek Type"), name + " " + name) << b;
    const std::string name1 = read_script::TypeName(kind == Kind::Blob ? Kind::None : kind);
    EXPECT_EQ(Script<QkXDRIStream>(input, "Peek Type"), name1 + " " + name1) << b;
    QkXDRIStream2* r = Open<QkXDRIStream2>(input);
    EXPECT_EQ(Decoder(r).run.count, b % 42 + 1) << b;
    r->Release();
  }
}

// No bytes give no reader; a single tag byte is a current value.
TEST(BinaryReader, Factories) {
  const uint8_t byte = 0x54;
  EXPECT_EQ(QkXDRCreateIStream(nullptr, 5), nullptr);
  EXPECT_EQ(QkXDRCreateIStream(&byte, 0), nullptr);
  EXPECT_EQ(QkXDRCreateIStream2(nullptr, 5), nullptr);
  EXPECT_EQ(QkXDRCreateIStream2(&byte, 0), nullptr);
  EXPECT_EQ(Script<QkXDRIStream>({byte}, "Valid"), "1");
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
  EXPECT_EQ(QkXDRBinarySize(&slot), 1u);
  QkXDRBinaryFree(&slot);
}

}  // namespace
}  // namespace test_values
