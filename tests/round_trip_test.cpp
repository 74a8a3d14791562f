// Values through every writer and back through every reader and the event
// parse (ExpectRoundTrip, which the round-trip fuzz target runs too), and the
// encoders and decoders used directly.

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/base/vector_buffer.h"
#include "qkxdr/detail/binary/binary_decoder.h"
#include "qkxdr/detail/binary/binary_encoder.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/text_encoder.h"
#include "test_allocator.h"
#include "test_values.h"

namespace test_values {
namespace {

// Random sequences, every other one of first-generation kinds only, after the
// doubles whose ten-digit text reads back as another value, and array ends
// that close nothing.
TEST(RoundTrip, EveryWriterToEveryReader) {
  ExpectRoundTrip({Dbl(1.7976931348623157e308), Dbl(-1.7976931348623157e308), Dbl(9.9999999996e307),
                   Dbl(1e-308), Dbl(1e-310), Dbl(-4.9406564584124654e-324), Dbl(-0.0), Dbl(1e9)});
  ExpectRoundTrip({kEnd, I32(1), kEnd, kBegin, kEnd, kEnd, I64(1LL << 40), kBegin});
  Generator random(20261206);
  for (int round = 0; round < 2000 && !HasFailure(); ++round) {
    SCOPED_TRACE(round);
    ExpectRoundTrip(random.Sequence(random.Below(30), round % 2 == 1));
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
    const auto step = [&](bool read) { at.push_back(read ? in.Position() : 0); };
    step(in.ReadString(&wide));
    step(in.ReadStringA(&narrow));
    EXPECT_FALSE(in.ReadBytes(static_cast<std::string*>(nullptr)));
    step(in.ReadBytes(&bytes));
    step(in.ReadInt(&i) && !in.IsValid());
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
