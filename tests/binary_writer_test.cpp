// The binary writer: byte-exact output for both generations (read back by both
// reader generations), its inner room and growth, and writes that cannot fit.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <string>

#include "QkXDR.h"
#include "binary/binary_encoder.h"
#include "binary_values.h"

namespace binary_test {
namespace {

using qkxdr::impl::BasicBinaryEncoder;
using qkxdr::impl::BinaryEncoder;

TEST(BinaryWriter, ByteExactVectors) {
  struct Case {
    const char* name;
    Values values;
    const char* hex;
  };
  const Case cases[] = {
      {"nothing", {}, ""},
      {"array of 7 and ab", {Begin(), I32(7), Str(u"ab"), End()}, "00 54 8E A8 82 E1 E2 2A"},
      {"array of 1, -1, hi",
       {Begin(), I32(1), I32(-1), Str(u"hi"), End()},
       "00 55 82 81 A8 82 E8 E9 2A"},
      {"zero", {I32(0)}, "54 80"},
      {"five at both widths", {I32(5), Dbl(0), I64(5)}, "54 8A 7E 00*8 54 8A"},
      {"32-bit extremes", {I32(INT32_MIN), I32(INT32_MAX)}, "55 7F 7F 7F 7F 8F 7E 7F 7F 7F 8F"},
      {"64-bit extremes",
       {I64(INT64_MIN), I64(INT64_MAX), I64(INT32_MIN)},
       "56 7F*9 81 7E 7F*8 81 7F 7F 7F 7F 8F"},
      {"varint lengths",
       {I32(64), I32(-64), I32(300), I64(int64_t{1} << 40), I64(-(int64_t{1} << 33) - 7)},
       "58 00 81 FF 58 84 00 00 00 00 00 C0 0D 00 00 00 C0"},
      {"42 ints", Times(42, I32(0)), "7D 80*42"},
      {"43 ints", Times(43, I32(0)), "7D 80*42 54 80"},
      {"42 openings", Times(42, Begin()), "29"},
      {"43 openings", Times(43, Begin()), "29 00"},
      {"42 closings", Times(42, End()), "53"},
      {"43 closings", Times(43, End()), "53 2A"},
      {"nested empty arrays", {Begin(), Begin(), End(), End()}, "01 2B"},
      {"42 doubles", Times(42, Dbl(0)), "A7 00*336"},
      {"43 doubles", Times(43, Dbl(0)), "A7 00*336 7E 00*8"},
      {"42 strings", Times(42, Str(u"")), "D1 80*42"},
      {"43 strings", Times(43, StrA("")), "D1 80*42 A8 80"},
      {"42 blobs", Times(42, Blob({})), "FB 80*42"},
      {"43 blobs", Times(43, Blob({})), "FB 80*42 D2 80"},
      {"int, double, int", {I32(1), Dbl(1.0), I32(1)}, "54 82 7E 00 00 00 00 00 00 F0 3F 54 82"},
      {"negative zero", {Dbl(-0.0)}, "7E 00*7 80"},
      {"infinity", {Dbl(std::numeric_limits<double>::infinity())}, "7E 00*6 F0 7F"},
      {"empty strings of both kinds", {Str(u""), StrA("")}, "A9 80 80"},
      {"8-bit string", {StrA("\xE9t\xE9")}, "A8 83 69 81 F4 69 81"},
      {"8-bit unit lengths", {StrA("\x01\x7F\x80\xFF")}, "A8 84 81 FF 00 81 7F 81"},
      {"UTF-16 strings", {Str(u"\u20AC"), Str(u"\uFFFF")}, "A9 81 2C C1 81 7F 7F 83"},
      {"UTF-16 unit lengths", {Str(u"\u007F\u0080\u3FFF\u4000")}, "A8 84 FF 00 81 7F FF 00 00 81"},
      {"surrogate pair", {Str(u"\U0001F600")}, "A8 82 3D 30 83 00 3C 83"},
      {"blob and empty blob", {Blob({1, 2, 3}), Blob({})}, "D3 83 01 02 03 80"},
      {"null pointers and null data",
       {Of(Kind::NullString), Of(Kind::NullStringA), Of(Kind::NullBlob), Of(Kind::NullDataBlob)},
       "A9 80 80 D3 80 80"},
      {"every type in turn",
       {Begin(), I32(-2), StrA("a"), Dbl(0.5), Blob({0xFF}), Str(u"b"), End(), I64(-1)},
       "00 54 83 A8 81 E1 7E 00 00 00 00 00 00 E0 3F D2 81 FF A8 81 E2 2A 54 81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes expected = Hex(c.hex);
    EXPECT_EQ(Encode<QkXDROStream2>(c.values), expected);
    bool first_generation = true;
    for (const Value& v : c.values) first_generation = first_generation && FirstGeneration(v.kind);
    if (first_generation) {
      EXPECT_EQ(Encode<QkXDROStream>(c.values), expected) << "both generations write alike";
    }
    ExpectReadBack<QkXDRIStream2>(expected, c.values);
    ExpectReadBack<QkXDRIStream>(expected, c.values);
  }
}

// GetData and GetSize may be called between writes: each time they give a
// complete stream, and a value that joins the last run rewrites its tag.
void WriteBlob(QkXDROStream2* w, const Bytes& bytes) {
  QkXDRBinary slot{};
  QkXDRBinaryAttach(&slot, bytes.data(), static_cast<uint32_t>(bytes.size()));
  w->WriteBinary(&slot);
  QkXDRBinaryFree(&slot);
}

TEST(BinaryWriter, OutputIsCompleteAfterEveryWrite) {
  struct Step {
    void (*write)(QkXDROStream2*);
    const char* hex;
  };
  const Step steps[] = {
      {[](QkXDROStream2* w) { w->BeginArray(); }, "00"},
      {[](QkXDROStream2* w) { w->BeginArray(); }, "01"},
      {[](QkXDROStream2* w) { w->WriteInt(1); }, "01 54 82"},
      {[](QkXDROStream2* w) { w->WriteInt64(2); }, "01 55 82 84"},
      {[](QkXDROStream2* w) { w->WriteStringA("x"); }, "01 55 82 84 A8 81 F8"},
      {[](QkXDROStream2* w) { w->WriteString(u"y"); }, "01 55 82 84 A9 81 F8 81 F9"},
      // Blobs of a run leave its tag byte behind until the bytes are asked
      // for or another run opens.
      {[](QkXDROStream2* w) { WriteBlob(w, {7}); }, "01 55 82 84 A9 81 F8 81 F9 D2 81 07"},
      {[](QkXDROStream2* w) {
         WriteBlob(w, {8, 9});
       },
       "01 55 82 84 A9 81 F8 81 F9 D3 81 07 82 08 09"},
      {[](QkXDROStream2* w) { WriteBlob(w, {}); },
       "01 55 82 84 A9 81 F8 81 F9 D4 81 07 82 08 09 80"},
      {[](QkXDROStream2* w) { w->EndArray(); },
       "01 55 82 84 A9 81 F8 81 F9 D4 81 07 82 08 09 80 2A"},
  };
  QkXDROStream2* w = QkXDRCreateOStream2();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->GetData(), nullptr);
  EXPECT_EQ(w->GetSize(), 0u);
  for (const Step& step : steps) {
    step.write(w);
    const auto* data = static_cast<const uint8_t*>(w->GetData());
    EXPECT_EQ(Bytes(data, data + w->GetSize()), Hex(step.hex));
  }
  w->Release();
}

// Strings are written and read in rounds of units below 0x80, with a slower
// path for any other unit: strings of every length up to past two rounds,
// all ASCII or with one other unit at any position, give each unit's varint
// in turn and read back as written, in both widths.
TEST(BinaryWriter, StringsOfEveryLengthAndMix) {
  const auto varint = [](Bytes& out, uint32_t v) {
    for (; v >= 0x80; v >>= 7) out.push_back(static_cast<uint8_t>(v & 0x7F));
    out.push_back(static_cast<uint8_t>(v | 0x80));
  };
  std::mt19937 rng(3);  // which read takes each string: all 16 bits or the low 8
  for (size_t length = 0; length <= 70; ++length) {
    for (size_t at = 0; at <= length; ++at) {  // at == length: all ASCII
      std::u16string wide(length, u'a');
      std::string narrow(length, 'a');
      for (size_t i = 0; i < length; ++i) narrow[i] = static_cast<char>('!' + i % 90);
      if (at < length) narrow[at] = '\xE9';
      for (size_t i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
      if (at < length) wide[at] = u'\u20AC';

      Bytes expect_wide = {0xA8}, expect_narrow = {0xA8};
      varint(expect_wide, static_cast<uint32_t>(length));
      varint(expect_narrow, static_cast<uint32_t>(length));
      for (size_t i = 0; i < length; ++i) {
        varint(expect_wide, wide[i]);
        varint(expect_narrow, static_cast<unsigned char>(narrow[i]));
      }
      SCOPED_TRACE(testing::Message() << "length " << length << ", other unit at " << at);
      const Values values = {Str(wide), StrA(narrow)};
      EXPECT_EQ(Encode<QkXDROStream2>({values[0]}), expect_wide);
      EXPECT_EQ(Encode<QkXDROStream2>({values[1]}), expect_narrow);
      ExpectReadBack<QkXDRIStream2>(Encode<QkXDROStream2>(values), values, &rng);
      if (HasFailure()) return;
      if (at == length) break;
    }
  }
}

// Output of up to 500 bytes stays in the writer's inner room, also when a
// string's longest possible encoding would not fit there; the 501st byte moves
// it to a heap block of 751 bytes.
TEST(BinaryWriter, InnerRoomHoldsFiveHundredBytes) {
  const Values fills[] = {
      {StrA(std::string(400, 'a')), StrA(std::string(94, 'a')), I32(0)},
      {Str(std::u16string(150, u'\u4000')), Blob(Bytes(45, 7))},
      Cat({Times(62, Dbl(1.5)), {I32(0)}}),
  };
  for (const Values& fill : fills) {
    BinaryEncoder encoder;
    for (const Value& v : fill) {
      Write(&encoder, v);
      EXPECT_FALSE(encoder.buffer().on_heap()) << "at size " << encoder.size();
    }
    ASSERT_EQ(encoder.size(), 500u);
    const Bytes inline_bytes(encoder.data(), encoder.data() + 500);
    EXPECT_EQ(inline_bytes, Encode<QkXDROStream2>(fill));
    encoder.BeginArray();
    EXPECT_TRUE(encoder.buffer().on_heap());
    EXPECT_EQ(encoder.buffer().capacity(), 751u);
    EXPECT_EQ(Bytes(encoder.data(), encoder.data() + 500), inline_bytes);
  }

  BinaryEncoder blob_writer;
  Write(&blob_writer, Blob(Bytes(1000, 0xAB)));
  EXPECT_EQ(blob_writer.buffer().capacity(), 1504u) << "one growth for the whole blob";
  ASSERT_EQ(blob_writer.size(), 1003u);
  EXPECT_EQ(Bytes(blob_writer.data(), blob_writer.data() + 3), Hex("D2 68 87"));
}

// A write that would pass the size limit throws std::bad_alloc and leaves the
// stream as it was: the same bytes, and a run and tag index that the next
// write continues correctly.
TEST(BinaryWriter, AWriteBeyondTheSizeLimitChangesNothing) {
  constexpr uint32_t kLimit = 600;
  struct Case {
    const char* name;
    Values before;
    Value refused;
    Value after;
  };
  const Case cases[] = {
      {"int joining a run", {Blob(Bytes(594, 1)), I32(0)}, I32(64), I32(0)},
      {"double after an int run", {Blob(Bytes(594, 1)), I32(0)}, Dbl(0), I32(0)},
      {"int opening a run", Cat({{Blob(Bytes(553, 1))}, Times(42, I32(0))}), I32(0), Begin()},
      {"8-bit string", {Blob(Bytes(590, 1)), I32(1)}, StrA("aaaaaaaaaa"), StrA("abc")},
      {"UTF-16 string",
       {Blob(Bytes(588, 1)), Str(u"")},
       Str(u"\u4000\u4000\u4000"),
       Str(u"\u4000\u4000")},
      {"string that fits exactly",
       {Blob(Bytes(500, 1))},
       StrA(std::string(96, 'a')),
       StrA(std::string(95, 'a'))},
      {"blob into a new writer", {}, Blob(Bytes(598, 1)), Blob(Bytes(597, 1))},
      {"blob joining a run", {Blob(Bytes(500, 1))}, Blob(Bytes(97, 1)), Blob(Bytes(96, 1))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BasicBinaryEncoder<kLimit> encoder;
    for (const Value& v : c.before) Write(&encoder, v);
    const Bytes before(encoder.data(), encoder.data() + encoder.size());
    EXPECT_THROW(Write(&encoder, c.refused), std::bad_alloc);
    EXPECT_EQ(Bytes(encoder.data(), encoder.data() + encoder.size()), before);
    Write(&encoder, c.after);
    EXPECT_EQ(encoder.size(), kLimit);
    EXPECT_EQ(Bytes(encoder.data(), encoder.data() + encoder.size()),
              Encode<QkXDROStream2>(Cat({c.before, {c.after}})));
  }
}

}  // namespace
}  // namespace binary_test
