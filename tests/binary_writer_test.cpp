// The binary writer: byte-exact output of both generations, its inner room
// and growth, and writes that cannot fit.

#include <gtest/gtest.h>
#include <random>
#include <string>

#include <cmath>
#include <cstdint>
#include <new>

#include "QkXDR.h"
#include "binary/binary_encoder.h"
#include "test_values.h"

namespace test_values {
namespace {

using qkxdr::impl::BasicBinaryEncoder;
using qkxdr::impl::BinaryEncoder;

template <typename Encoder>
Bytes Output(Encoder& encoder) {
  return Bytes(encoder.data(), encoder.data() + encoder.size());
}

// The bytes of each sequence, from both generations where the first has all
// its writes, read back by the second. After every write GetData and GetSize
// give a complete stream: a value that joins the last run rewrites its tag.
TEST(BinaryWriter, ByteExactVectors) {
  const struct {
    Values values;
    const char* hex;
  } cases[] = {
      {{}, ""},
      {{kBegin, I32(7), Str(u"ab"), kEnd}, "00 54 8E A8 82 E1 E2 2A"},
      {{kBegin, I32(1), I32(-1), Str(u"hi"), kEnd}, "00 55 82 81 A8 82 E8 E9 2A"},
      {{I32(0)}, "54 80"},
      {{I32(5), Dbl(0), I64(5)}, "54 8A 7E 00*8 54 8A"},
      {{I32(INT32_MIN), I32(INT32_MAX)}, "55 7F 7F 7F 7F 8F 7E 7F 7F 7F 8F"},
      {{I64(INT64_MIN), I64(INT64_MAX), I64(INT32_MIN)}, "56 7F*9 81 7E 7F*8 81 7F 7F 7F 7F 8F"},
      {{I32(64), I32(-64), I32(300), I64(int64_t{1} << 40), I64(-(int64_t{1} << 33) - 7)},
       "58 00 81 FF 58 84 00 00 00 00 00 C0 0D 00 00 00 C0"},
      {Times(42, I32(0)), "7D 80*42"},
      {Times(43, I32(0)), "7D 80*42 54 80"},
      {Times(43, kBegin), "29 00"},
      {Times(43, kEnd), "53 2A"},
      {{kBegin, kBegin, kEnd, kEnd}, "01 2B"},
      {Times(43, Dbl(0)), "A7 00*336 7E 00*8"},
      {Times(43, StrA("")), "D1 80*42 A8 80"},
      {Times(43, Blob({})), "FB 80*42 D2 80"},
      {{I32(1), Dbl(1.0), I32(1)}, "54 82 7E 00 00 00 00 00 00 F0 3F 54 82"},
      {{Dbl(-0.0)}, "7E 00*7 80"},
      {{Dbl(INFINITY), Dbl(std::nan("7"))}, "7F 00*6 F0 7F 07 00*5 F8 7F"},
      {{Str(u""), StrA("")}, "A9 80 80"},
      {{StrA("\xE9t\xE9")}, "A8 83 69 81 F4 69 81"},
      {{StrA("\x01\x7F\x80\xFF")}, "A8 84 81 FF 00 81 7F 81"},
      {{Str(u"\u20AC"), Str(u"\uFFFF")}, "A9 81 2C C1 81 7F 7F 83"},
      {{Str(u"\u007F\u0080\u3FFF\u4000\U0001F600")},
       "A8 86 FF 00 81 7F FF 00 00 81 3D 30 83 00 3C 83"},
      {{Blob({1, 2, 3}), Blob({})}, "D3 83 01 02 03 80"},
      {{kBegin, I32(-2), StrA("a"), Dbl(0.5), Blob({0xFF}), Str(u"b"), kEnd, I64(-1)},
       "00 54 83 A8 81 E1 7E 00 00 00 00 00 00 E0 3F D2 81 FF A8 81 E2 2A 54 81"},
  };
  for (const auto& c : cases) {
    const Bytes expected = Hex(c.hex);
    QkXDROStream2* w = QkXDRCreateOStream2();
    for (size_t k = 0; k < c.values.size(); ++k) {
      const auto* data = static_cast<const uint8_t*>(w->GetData());
      EXPECT_EQ(Bytes(data, data + w->GetSize()),
                Encode(QkXDRCreateOStream2(), Values(c.values.begin(), c.values.begin() + k)));
      Write(w, c.values[k]);
    }
    EXPECT_EQ(Encode(w, {}), expected) << c.hex;
    bool first_generation = true;
    Values read_back;
    for (const Value& v : c.values) {
      first_generation = first_generation && FirstGeneration(v.kind);
      read_back.push_back(Delivered(v));
    }
    if (first_generation) {
      EXPECT_EQ(Encode(QkXDRCreateOStream(), c.values), expected) << c.hex;
    }
    EXPECT_EQ(ReadAll(Open<QkXDRIStream2>(expected)), read_back) << c.hex;
  }
}

// String units are coded in rounds of units below 0x80, one at a time from
// the first round that has another: strings of every length up to past two
// rounds, all ASCII or with one wider unit at any position, give each unit's
// varint in turn and read back whole and as low bytes.
TEST(BinaryWriter, StringsOfEveryLengthAndMix) {
  const auto put = [](Bytes& out, uint32_t v) {
    for (; v >= 0x80; v >>= 7) out.push_back(static_cast<uint8_t>(v & 0x7F));
    out.push_back(static_cast<uint8_t>(v | 0x80));
  };
  for (size_t length = 0; length <= 70; ++length) {
    for (size_t at = 0; at <= length; ++at) {  // at == length: all ASCII
      std::string narrow(length, 'a');
      for (size_t i = 0; i < length; ++i) narrow[i] = static_cast<char>('!' + i % 90);
      if (at < length) narrow[at] = '\xE9';
      std::u16string wide(narrow.begin(), narrow.end());
      for (size_t i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
      if (at < length) wide[at] = u'\u20AC';
      Bytes expected = {0xA9};  // one run of two strings
      put(expected, static_cast<uint32_t>(length));
      for (const char16_t unit : wide) put(expected, unit);
      put(expected, static_cast<uint32_t>(length));
      for (const char byte : narrow) put(expected, static_cast<unsigned char>(byte));
      const Values values = {Str(wide), StrA(narrow)};
      const Bytes bytes = Encode(QkXDRCreateOStream2(), values);
      ASSERT_EQ(bytes, expected) << "length " << length << ", wider unit at " << at;
      QkXDRIStream2* r = Open<QkXDRIStream2>(bytes);
      EXPECT_EQ(ReadOne(r, Read::AsNarrow), AsRead(values[0], Read::AsNarrow, true));
      EXPECT_EQ(ReadOne(r), Delivered(values[1]));
      r->Release();
    }
  }
}

// A new writer has no data; null strings, a null slot and a view on null
// data are written empty.
TEST(BinaryWriter, NullPointersWriteEmptyValues) {
  QkXDROStream2* w = QkXDRCreateOStream2();
  EXPECT_TRUE(w->GetData() == nullptr && w->GetSize() == 0);
  QkXDRBinary null_data{};
  QkXDRBinaryAttach(&null_data, nullptr, 5);
  w->WriteString(nullptr);
  w->WriteStringA(nullptr);
  w->WriteBinary(nullptr);
  w->WriteBinary(&null_data);
  const auto* data = static_cast<const uint8_t*>(w->GetData());
  EXPECT_EQ(Bytes(data, data + w->GetSize()), Hex("A9 80 80 D3 80 80"));
  w->Release();
}

// Up to 500 bytes stay in the inner room, also when a string's longest
// encoding would not fit there; the 501st moves them to a heap block of 751.
// A 1000-byte blob grows a new writer once, to 1003 * 3 / 2 bytes.
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
    const Bytes inline_bytes = Output(encoder);
    ASSERT_EQ(inline_bytes.size(), 500u);
    encoder.BeginArray();
    EXPECT_EQ(encoder.buffer().capacity(), 751u);
    EXPECT_EQ(Bytes(encoder.data(), encoder.data() + 500), inline_bytes);
  }
  BinaryEncoder blob_writer;
  Write(&blob_writer, Blob(Bytes(1000, 0xAB)));
  EXPECT_EQ(blob_writer.buffer().capacity(), 1504u);
  Bytes expected = Hex("D2 68 87");
  expected.resize(1003, 0xAB);
  EXPECT_EQ(Output(blob_writer), expected);
}

// A write beyond the size limit throws std::bad_alloc and leaves the bytes,
// the run and the tag index as they were: the next write continues them.
TEST(BinaryWriter, AWriteBeyondTheSizeLimitChangesNothing) {
  constexpr uint32_t kLimit = 600;
  const struct {
    Values before;
    Value refused;
    Value after;
  } cases[] = {
      {{Blob(Bytes(594, 1)), I32(0)}, I32(64), I32(0)},  // an int joining a run
      {{Blob(Bytes(594, 1)), I32(0)}, Dbl(0), I32(0)},
      {Cat({{Blob(Bytes(553, 1))}, Times(42, I32(0))}), I32(0), kBegin},  // opening a run
      {{Blob(Bytes(590, 1)), I32(1)}, StrA("aaaaaaaaaa"), StrA("abc")},
      {{Blob(Bytes(588, 1)), Str(u"")}, Str(u"\u4000\u4000\u4000"), Str(u"\u4000\u4000")},
      {{Blob(Bytes(500, 1))}, StrA(std::string(96, 'a')), StrA(std::string(95, 'a'))},
      {{}, Blob(Bytes(598, 1)), Blob(Bytes(597, 1))},
      {{Blob(Bytes(500, 1))}, Blob(Bytes(97, 1)), Blob(Bytes(96, 1))},
  };
  for (const auto& c : cases) {
    BasicBinaryEncoder<kLimit> encoder;
    for (const Value& v : c.before) Write(&encoder, v);
    const Bytes before = Output(encoder);
    EXPECT_THROW(Write(&encoder, c.refused), std::bad_alloc) << c.refused;
    EXPECT_EQ(Output(encoder), before);
    Write(&encoder, c.after);
    EXPECT_EQ(Output(encoder), Encode(QkXDRCreateOStream2(), Cat({c.before, {c.after}})));
    EXPECT_EQ(encoder.size(), kLimit);
  }
}

}  // namespace
}  // namespace test_values
