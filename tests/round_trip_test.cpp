// Random sequences through the binary and the text writer, read back through
// the readers and the event parse. Both encodings give the same values, except
// where the text form itself changes a value:
//  - a double written without a decimal point (ten integer digits) is an Int;
//  - a string beginning "0x" or "0X" is a blob to the second-generation reader;
//  - an 8-bit string's bytes travel as sign-extended units in text;
//  - -0.0 is written "-0." and reads back as +0.0;
//  - doubles are equal when they write the same text (ten significant digits).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "QkXDR.h"
#include "binary/binary_decoder.h"
#include "binary/binary_encoder.h"
#include "library/vector_buffer.h"
#include "read_script.h"
#include "test_allocator.h"
#include "test_values.h"
#include "text/double_format.h"
#include "text/text_decoder.h"
#include "text/text_encoder.h"

namespace test_values {
namespace {

std::u16string Written(double v) {
  char16_t text[qkxdr::impl::kMaxDoubleText];
  return std::u16string(text, qkxdr::impl::FormatDouble(v, text));
}

// The text that a text writer's bytes hold.
std::u16string TextOf(const Bytes& bytes) {
  std::u16string text(bytes.size() / 2, u' ');
  if (!text.empty()) std::memcpy(&text[0], bytes.data(), bytes.size());
  return text;
}

// Doubles with their written form in place of their bits.
Values ByWrittenForm(Values values) {
  for (Value& v : values) {
    if (v.kind == Kind::Double) v = {Kind::Double, 0, 0, Written(v.d)};
  }
  return values;
}

// What the second-generation text reader gives for written value v, or with
// `parse` what the parse reports: integers cut to 32 bits, strings and blobs
// as their text.
Value FromText(const Value& v, bool parse) {
  if (v.kind == Kind::Double) {
    const std::u16string written = Written(v.d);
    if (written.find(u'.') != std::u16string::npos) return Dbl(v.d == 0 ? 0.0 : v.d);
    return FromText(I64(std::stoll(std::string(written.begin(), written.end()))), parse);
  }
  if (v.kind == Kind::Int || v.kind == Kind::Int64) {
    return {Kind::Int, parse ? static_cast<int32_t>(v.i) : v.i};
  }
  if (v.kind == Kind::Begin || v.kind == Kind::End) return v;
  std::u16string units = v.units;
  if (v.kind == Kind::Blob) {
    units = u"0X";
    for (char16_t b : v.units) units += {u"0123456789ABCDEF"[b >> 4], u"0123456789ABCDEF"[b & 15]};
  }
  for (char16_t& unit : units) {
    if (v.kind == Kind::StringA && unit >= 0x80) unit |= 0xFF00;
  }
  if (parse || units.size() < 2 || units[0] != u'0' || (units[1] | 0x20) != u'x') return Str(units);
  Value blob{Kind::Blob};
  for (size_t k = 2; k + 1 < units.size(); k += 2) {
    blob.units += static_cast<char16_t>(
        std::stoi(std::string{char(units[k]), char(units[k + 1])}, nullptr, 16));
  }
  return blob;
}

// Binary through both reader generations, text through the second and the
// parse: each gives what the model says for every value written.
TEST(RoundTrip, BinaryAndTextReadBackTheSameValues) {
  Generator random(20261206);
  for (int round = 0; round < 2000 && !HasFailure(); ++round) {
    const Values values = random.Sequence(random.Below(30));
    Values binary1, binary2, text, parse;
    for (const Value& v : values) {
      binary1.push_back(AsRead(v, Read::Own, false));
      binary2.push_back(Delivered(v));
      text.push_back(FromText(v, false));
      parse.push_back(FromText(v, true));
    }
    const Bytes binary = Encode(QkXDRCreateOStream2(), values);
    EXPECT_EQ(ReadAll(Open<QkXDRIStream2>(binary)), binary2) << "round " << round;
    EXPECT_EQ(ReadAll(Open<QkXDRIStream>(binary)), binary1) << "round " << round;

    const std::u16string written = TextOf(Encode(QkXDRCreateTextOStream2(), values));
    EXPECT_EQ(ByWrittenForm(ReadAll(Open<QkXDRIStream2>(written.data(), written.size()))),
              ByWrittenForm(text))
        << "round " << round;
    Recorder recorder;
    QkXDRTextParse(&recorder, written.data(), static_cast<uint32_t>(written.size()));
    EXPECT_EQ(ByWrittenForm(recorder.events), ByWrittenForm(parse)) << "round " << round;
  }
}

// Both readers of both generations: a read into a null output (number,
// allocator or slot) fails and leaves the current value, whatever its kind.
TEST(RoundTrip, ReadsIntoNullOutputsFailAlike) {
  const Values values = {kBegin, I32(5), Dbl(2.5), Str(u"ab"), Blob({1, 2}), kEnd};
  const Bytes binary = Encode(QkXDRCreateOStream2(), values);
  const std::u16string text = TextOf(Encode(QkXDRCreateTextOStream2(), values));
  const std::string ops = "Nulls Begin Nulls Int Nulls Double Nulls Str Nulls Type Nulls End Nulls";
  const auto script = [&ops](auto* r) {
    const std::string results = read_script::Run(r, ops, [](auto* in) { return in->PeekType(); });
    r->Release();
    return results;
  };
  // A blob is what each reader's generation has for it.
  const auto expected = [](const std::string& blob) {
    return "no yes no 5 no 2.5 no [0061 0062] no " + blob + " no yes no";
  };
  EXPECT_EQ(script(Open<QkXDRIStream>(binary)), expected("None"));
  EXPECT_EQ(script(Open<QkXDRIStream2>(binary)), expected("Binary"));
  EXPECT_EQ(script(Open<QkXDRIStream>(text.data(), text.size())), expected("String"));
  EXPECT_EQ(script(Open<QkXDRIStream2>(text.data(), text.size())), expected("Binary"));
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
    const std::u16string text = TextOf(Encode(QkXDRCreateTextOStream(), {Dbl(c.written)}));
    EXPECT_EQ(ByWrittenForm(ReadAll(Open<QkXDRIStream>(text.data(), text.size()))),
              ByWrittenForm({Dbl(c.read)}))
        << c.written;
  }
}

// The encoders and decoders used directly: strings of a given length keep
// their zero units, blobs go in and out as bytes, the output goes straight
// into a caller's container (a write past its limit leaves it as it was),
// and the position of each value is where its payload or its token starts.
TEST(RoundTrip, EncodersAndDecodersInline) {
  using namespace qkxdr::impl;
  const Bytes blob = {0x01, 0xAB};
  const auto write = [&blob](auto& out) {
    out.WriteString(u"a\0b", 3);
    out.WriteStringA("\0\xE9", 2);
    out.WriteBytes(blob.data(), 2);
    out.WriteInt(7);
  };
  Bytes binary(40, 0x55);  // its contents go, its storage stays
  {
    BinaryEncoderInto<VectorBuffer<Bytes, 15>> out(&binary);
    write(out);
    EXPECT_THROW(out.WriteDouble(1), std::bad_alloc);
  }
  EXPECT_EQ(binary, Hex("A9 83 E1 80 E2 82 80 69 81 D2 82 01 AB 54 8E"));
  BinaryEncoder inline_out;
  write(inline_out);
  EXPECT_EQ(Bytes(inline_out.data(), inline_out.data() + inline_out.size()), binary);
  std::u16string text;
  {
    TextEncoderInto<VectorBuffer<std::u16string, kMaxTextUnits>> out(&text);
    write(out);
  }
  EXPECT_EQ(text, std::u16string(u"\"a\0b\",\"\0\uFFE9\"\"0X01AB\",7", 20));

  const auto read = [](auto&& in) {
    TestAllocator wide, narrow;
    std::string bytes = "old";
    int32_t i = 0;
    std::vector<size_t> at = {in.Position()};
    EXPECT_TRUE(in.ReadString(&wide));
    at.push_back(in.Position());
    EXPECT_TRUE(in.ReadStringA(&narrow));
    at.push_back(in.Position());
    EXPECT_FALSE(in.ReadBytes(static_cast<std::string*>(nullptr)));
    EXPECT_TRUE(in.ReadBytes(&bytes));
    at.push_back(in.Position());
    EXPECT_TRUE(in.ReadInt(&i) && !in.IsValid());
    at.push_back(in.Position());
    return std::make_tuple(Received<char16_t>(wide), Received<uint8_t>(narrow), bytes, i, at);
  };
  const auto values = [](std::vector<size_t> at) {
    return std::make_tuple(std::u16string(u"a\0b", 3), std::u16string(u"\0\xE9", 2),
                           std::string("\x01\xAB"), 7, at);
  };
  EXPECT_EQ(read(BinaryDecoder(binary.data(), binary.data() + binary.size())),
            values({1, 5, 10, 14, 15}));
  EXPECT_EQ(read(TextDecoder(text.data(), text.data() + text.size())), values({0, 6, 10, 19, 20}));

  BinaryDecoder at_blob(binary.data() + 9, binary.data() + binary.size());
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  EXPECT_FALSE(at_blob.ReadBytes(&data, nullptr));
  EXPECT_TRUE(at_blob.ReadBytes(&data, &size));
  EXPECT_EQ(std::make_tuple(data, size), std::make_tuple(binary.data() + 11, 2u));
}

}  // namespace
}  // namespace test_values
