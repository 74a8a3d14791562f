// Byte-exact vectors for the binary format's primitives, and their bounds at
// every truncation point of their input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "binary/coding.h"
#include "binary/run_state.h"
#include "binary/skip.h"
#include "binary/varint_word.h"

namespace qkxdr::impl {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Put, typename T>
Bytes Encode(Put put, T value) {
  uint8_t scratch[16];
  return Bytes(scratch, put(scratch, value));
}

TEST(Coding, VarintEncodings) {
  struct Case {
    uint64_t value;
    int width;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, 32, {0x80}},
      {10, 32, {0x8A}},
      {127, 32, {0xFF}},
      {128, 32, {0x00, 0x81}},
      {600, 32, {0x58, 0x84}},
      {0xFFFFFFFF, 32, {0x7F, 0x7F, 0x7F, 0x7F, 0x8F}},
      {0xFFFFFFFE, 32, {0x7E, 0x7F, 0x7F, 0x7F, 0x8F}},
      {uint64_t{1} << 41, 64, {0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}},
      {UINT64_MAX, 64, {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x81}},
      {0x20AC, 16, {0x2C, 0xC1}},
      {0xFFFF, 16, {0x7F, 0x7F, 0x83}},
      {0xE9, 8, {0x69, 0x81}},
      {0x74, 8, {0xF4}},
      {0xFF, 8, {0x7F, 0x81}},
  };
  for (const Case& c : cases) {
    Bytes got;
    switch (c.width) {
      case 8:
        got = Encode(PutVarint8, static_cast<uint8_t>(c.value));
        break;
      case 16:
        got = Encode(PutVarint16, static_cast<uint16_t>(c.value));
        break;
      case 32:
        got = Encode(PutVarint32, static_cast<uint32_t>(c.value));
        break;
      default:
        got = Encode(PutVarint64, c.value);
        break;
    }
    EXPECT_EQ(got, c.bytes) << "value " << c.value << " width " << c.width;
    if (c.width == 32) {
      EXPECT_EQ(Varint32Length(static_cast<uint32_t>(c.value)), c.bytes.size());
    }
  }
}

TEST(Coding, ZigZagBothWidths) {
  struct Case {
    int64_t value;
    uint64_t mapped;
  };
  const Case cases32[] = {{0, 0},
                          {-1, 1},
                          {1, 2},
                          {-2, 3},
                          {64, 128},
                          {-64, 127},
                          {INT32_MAX, 0xFFFFFFFE},
                          {INT32_MIN, 0xFFFFFFFF}};
  for (const Case& c : cases32) {
    const auto v = static_cast<int32_t>(c.value);
    EXPECT_EQ(ZigZag32(v), c.mapped) << c.value;
    EXPECT_EQ(UnZigZag32(ZigZag32(v)), v);
    EXPECT_EQ(ZigZag64(c.value), c.mapped) << "both widths agree in the 32-bit range";
  }
  const Case cases64[] = {{INT64_MAX, UINT64_MAX - 1},
                          {INT64_MIN, UINT64_MAX},
                          {int64_t{1} << 40, uint64_t{1} << 41},
                          {-((int64_t{1} << 33) + 7), (uint64_t{1} << 34) + 13}};
  for (const Case& c : cases64) {
    EXPECT_EQ(ZigZag64(c.value), c.mapped) << c.value;
    EXPECT_EQ(UnZigZag64(c.mapped), c.value);
  }
}

TEST(Coding, VarintDecodings) {
  struct Case {
    Bytes bytes;
    int width;
    uint64_t value;
    size_t consumed;
    bool complete;
  };
  const Case cases[] = {
      {{0x80}, 32, 0, 1, true},
      {{0x7F, 0x7F, 0x7F, 0x7F, 0x8F}, 32, 0xFFFFFFFF, 5, true},
      // Overlong: the excess bytes are skipped up to the terminating one.
      {{0x01, 0x00, 0x00, 0x00, 0x00, 0x81}, 32, 1, 6, true},
      // A 64-bit value read at 32 bits keeps the low 32 bits.
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}, 32, 0, 6, true},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}, 64, uint64_t{1} << 41, 6, true},
      {{0x69, 0x81}, 16, 0xE9, 2, true},
      {{0x7F, 0x7F, 0x87}, 16, 0xFFFF, 3, true},  // bits beyond 16 dropped
      {{0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF}, 64, UINT64_MAX, 10, true},
      // Cut off by the end: the bits gathered so far, position at the end.
      {{0x7F, 0x01}, 32, 0xFF, 2, false},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 32, 0, 6, false},
      {{}, 64, 0, 0, false},
  };
  for (const Case& c : cases) {
    const uint8_t* p = c.bytes.data();
    const uint8_t* e = p + c.bytes.size();
    const uint8_t* after;
    uint64_t value;
    if (c.width == 16) {
      uint16_t v;
      after = GetVarint16(p, e, &v);
      value = v;
    } else if (c.width == 32) {
      uint32_t v;
      after = GetVarint32(p, e, &v);
      value = v;
    } else {
      after = GetVarint64(p, e, &value);
    }
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(static_cast<size_t>(after - p), c.consumed);
    EXPECT_EQ(VarintComplete(p, after), c.complete);
  }
}

// The word-at-a-time varints give the bytes and values of the one-byte-at-a-
// time ones, for values of every bit length and whatever follows the varint.
TEST(Coding, WordVarintsMatchByteVarints) {
  std::mt19937_64 rng(5);
  for (int bits = 0; bits <= 64; ++bits) {
    for (int round = 0; round < 50; ++round) {
      const uint64_t v = bits == 0 ? 0 : (rng() | uint64_t{1} << 63) >> (64 - bits);
      Bytes expected(kMaxVarint64);
      expected.resize(PutVarint64(expected.data(), v) - expected.data());
      Bytes room(kMaxVarint64 + kWordSize, 0xEE);
      const size_t written = PutVarintInRoom(room.data(), v) - room.data();
      ASSERT_EQ(Bytes(room.begin(), room.begin() + written), expected) << v;
      if (bits <= 32) {
        const auto v32 = static_cast<uint32_t>(v);
        ASSERT_EQ(PutVarintInRoom(room.data(), v32) - room.data(), static_cast<ptrdiff_t>(written));
        ASSERT_EQ(Bytes(room.begin(), room.begin() + written), expected) << v;
      }

      // Decoding, with eight bytes of anything after the varint's start.
      Bytes data = expected;
      for (int i = 0; i < kWordSize; ++i) data.push_back(static_cast<uint8_t>(rng()));
      uint64_t value = 0;
      const uint8_t* after = GetVarintWord(data.data(), &value);
      if (expected.size() > static_cast<size_t>(kWordSize)) {
        EXPECT_EQ(after, nullptr) << v;
      } else {
        EXPECT_EQ(after, data.data() + expected.size()) << v;
        EXPECT_EQ(value, v);
      }
    }
  }
}

TEST(Coding, DoublesAreLittleEndianBitPatterns) {
  struct Case {
    double value;
    Bytes bytes;
  };
  const Case cases[] = {
      {1.0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
      {-0.0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
      {std::numeric_limits<double>::infinity(), {0, 0, 0, 0, 0, 0, 0xF0, 0x7F}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Encode(PutDouble, c.value), c.bytes);
    double back;
    EXPECT_EQ(GetDouble(c.bytes.data(), c.bytes.data() + 8, &back), c.bytes.data() + 8);
    EXPECT_EQ(std::signbit(back), std::signbit(c.value));
    EXPECT_EQ(back, c.value);
  }
  const Bytes nan_payload = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xF7, 0x7F};
  double nan;
  GetDouble(nan_payload.data(), nan_payload.data() + 8, &nan);
  EXPECT_EQ(Encode(PutDouble, nan), nan_payload) << "NaN payloads pass unchanged";
}

TEST(RunState, TagsAndSplits) {
  RunState run;
  EXPECT_EQ(run.type, WireType::Other);
  EXPECT_EQ(run.count, 0);
  EXPECT_TRUE(run.Add(WireType::Int));
  EXPECT_EQ(run.TagByte(), 0x54);
  for (int i = 2; i <= 42; ++i) EXPECT_FALSE(run.Add(WireType::Int));
  EXPECT_EQ(run.TagByte(), 0x7D);
  EXPECT_TRUE(run.Add(WireType::Int)) << "the 43rd value opens a new run";
  EXPECT_EQ(run.TagByte(), 0x54);
  EXPECT_TRUE(run.Add(WireType::Double));
  EXPECT_TRUE(run.Add(WireType::Int)) << "int, double, int are three runs";
  run.Reset();
  EXPECT_TRUE(run.Add(WireType::Int)) << "reset state opens a run for any type";

  struct Split {
    uint8_t tag;
    WireType type;
    uint8_t count;
  };
  const Split splits[] = {
      {0x00, WireType::ArrayBegin, 1}, {0x2B, WireType::ArrayEnd, 2}, {0x7D, WireType::Int, 42},
      {0x7E, WireType::Double, 1},     {0xA8, WireType::String, 1},   {0xD3, WireType::Binary, 2},
      {0xFB, WireType::Binary, 42},    {0xFC, WireType::Other, 1},    {0xFF, WireType::Other, 4}};
  for (const Split& s : splits) {
    RunState r;
    r.Split(s.tag);
    EXPECT_EQ(r.type, s.type) << int{s.tag};
    EXPECT_EQ(r.count, s.count) << int{s.tag};
    if (s.type != WireType::Other) {
      EXPECT_EQ(r.TagByte(), s.tag);
    }
    for (uint8_t left = s.count; left > 1; --left) EXPECT_FALSE(r.Consume());
    EXPECT_TRUE(r.Consume());
  }
}

// Each skip primitive over its input cut at every length k: the result is the
// end of the item when it is complete, else the cut (never beyond it). Every
// prefix is a separate allocation of exactly k bytes, so an overread is caught
// by AddressSanitizer.
TEST(Skip, EveryTruncationPoint) {
  struct Case {
    const char* name;
    const uint8_t* (*skip)(const uint8_t*, const uint8_t*);
    Bytes item;
  };
  auto varints3 = [](const uint8_t* p, const uint8_t* e) { return SkipVarints(p, e, 3); };
  auto strings2 = [](const uint8_t* p, const uint8_t* e) { return SkipStrings(p, e, 2); };
  auto doubles2 = [](const uint8_t* p, const uint8_t* e) { return SkipDoubles(p, e, 2); };
  auto blobs2 = [](const uint8_t* p, const uint8_t* e) { return SkipBlobs(p, e, 2); };
  const Case cases[] = {
      {"varint", SkipVarint, {0x01, 0x02, 0x83}},
      {"varints", varints3, {0x80, 0x7F, 0x81, 0x7F, 0x7F, 0x83}},
      {"string", SkipString, {0x83, 0xE1, 0x2C, 0xC1, 0xE3}},
      {"empty string", SkipString, {0x80}},
      {"strings", strings2, {0x82, 0xE1, 0xE2, 0x81, 0x7F, 0x7F, 0x83}},
      {"doubles", doubles2, Bytes(16, 0x11)},
      {"blob", SkipBlob, {0x83, 0x01, 0x02, 0x03}},
      {"blobs", blobs2, {0x83, 0x01, 0x02, 0x03, 0x80}},
      {"long blob", SkipBlob,
       [] {
         Bytes b = {0x68, 0x87};  // length 1000
         b.resize(1002, 0xAA);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    Bytes full = c.item;
    full.push_back(0x54);  // the next tag byte
    for (size_t k = 0; k <= full.size(); ++k) {
      std::vector<uint8_t> prefix(full.begin(), full.begin() + static_cast<ptrdiff_t>(k));
      const uint8_t* p = prefix.data();
      const size_t expected = k < c.item.size() ? k : c.item.size();
      EXPECT_EQ(static_cast<size_t>(c.skip(p, p + k) - p), expected) << c.name << " cut at " << k;
    }
  }
}

TEST(Skip, EdgeCounts) {
  const Bytes bytes = {0x85, 0xC1, 0xC1};  // length 5 with two units present
  const uint8_t* p = bytes.data();
  const uint8_t* e = p + bytes.size();
  EXPECT_EQ(SkipVarints(p, e, 0), p);
  EXPECT_EQ(SkipString(p, e), e);
  EXPECT_EQ(SkipDoubles(p, e, 0), p);
  EXPECT_EQ(SkipDoubles(p, e, UINT32_MAX), e);
  const Bytes huge_blob = {0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0x00};
  EXPECT_EQ(SkipBlob(huge_blob.data(), huge_blob.data() + huge_blob.size()),
            huge_blob.data() + huge_blob.size());
}

}  // namespace
}  // namespace qkxdr::impl
