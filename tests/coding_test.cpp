// Byte-exact vectors for the binary format's primitives, and their bounds at
// every truncation point of their input.

#include <gtest/gtest.h>
#include <random>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "binary/coding.h"
#include "binary/skip.h"
#include "binary/varint_word.h"
#include "test_values.h"

namespace qkxdr::impl {
namespace {

using test_values::Bytes;
using test_values::Hex;

// The value, the bytes consumed and whether the varint was complete.
std::tuple<uint64_t, size_t, bool> Get(int width, const Bytes& bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* e = p + bytes.size();
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  uint64_t v64 = 0;
  const uint8_t* after = width <= 16   ? GetVarint16(p, e, &v16)
                         : width == 32 ? GetVarint32(p, e, &v32)
                                       : GetVarint64(p, e, &v64);
  return {v16 | v32 | v64, after - p, VarintComplete(p, after)};
}

// Varints are read up to their terminating byte, also overlong ones, bits
// beyond the width dropped; one cut off by the end gives the bits gathered so
// far. (The writer's vectors, read back, cover canonical varints and zigzag.)
TEST(Coding, VarintDecodings) {
  const struct {
    int width;
    const char* hex;
    uint64_t value;
    size_t consumed;
    bool complete;
  } cases[] = {{32, "80", 0, 1, true},
               {32, "7F 7F 7F 7F 8F", 0xFFFFFFFF, 5, true},
               {16, "69 81", 0xE9, 2, true},
               {32, "01 00 00 00 00 81", 1, 6, true},
               {32, "00 00 00 00 00 C0", 0, 6, true},
               {16, "7F 7F 87", 0xFFFF, 3, true},
               {64, "7F*9 FF", UINT64_MAX, 10, true},
               {32, "7F 01", 0xFF, 2, false},
               {32, "00*6", 0, 6, false},
               {64, "", 0, 0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Get(c.width, Hex(c.hex)), std::make_tuple(c.value, c.consumed, c.complete)) << c.hex;
  }
}

// Doubles are their bit patterns, least significant byte first; NaN payloads
// pass unchanged.
TEST(Coding, Doubles) {
  const struct {
    double value;
    const char* hex;
  } cases[] = {{1.0, "00*6 F0 3F"},
               {-0.0, "00*7 80"},
               {INFINITY, "00*6 F0 7F"},
               {std::nan("7"), "07 00*5 F8 7F"}};
  for (const auto& c : cases) {
    const Bytes bytes = Hex(c.hex);
    uint8_t out[8];
    EXPECT_EQ(Bytes(out, PutDouble(out, c.value)), bytes) << c.hex;
    double v;
    EXPECT_EQ(GetDouble(bytes.data(), bytes.data() + 8, &v), bytes.data() + 8);
    EXPECT_EQ(std::memcmp(&v, &c.value, sizeof v), 0) << c.hex;
  }
}

// Each skip primitive over its input cut at every length k, in a block of
// exactly k bytes: the end of the item when it is complete, else the cut.
TEST(Skip, EveryTruncationPoint) {
  const struct {
    const uint8_t* (*skip)(const uint8_t*, const uint8_t*);
    Bytes item;
  } cases[] = {
      {SkipVarint, Hex("01 02 83")},
      {[](const uint8_t* p, const uint8_t* e) { return SkipVarints(p, e, 3); },
       Hex("80 7F 81 7F 7F 83")},
      {SkipString, Hex("83 E1 2C C1 E3")},
      {SkipString, Hex("80")},
      {[](const uint8_t* p, const uint8_t* e) { return SkipStrings(p, e, 2); },
       Hex("82 E1 E2 81 7F 7F 83")},
      {[](const uint8_t* p, const uint8_t* e) { return SkipDoubles(p, e, 2); }, Hex("11*16")},
      {SkipBlob, Hex("83 01 02 03")},
      {[](const uint8_t* p, const uint8_t* e) { return SkipBlobs(p, e, 2); },
       Hex("83 01 02 03 80")},
      {SkipBlob, Hex("68 87 AA*1000")},  // length 1000
  };
  for (const auto& c : cases) {
    Bytes full = c.item;
    full.push_back(0x54);  // the next tag byte
    for (size_t k = 0; k <= full.size(); ++k) {
      const Bytes prefix(full.begin(), full.begin() + static_cast<ptrdiff_t>(k));
      const uint8_t* p = prefix.data();
      EXPECT_EQ(static_cast<size_t>(c.skip(p, p + k) - p), std::min(k, c.item.size()))
          << "item of " << c.item.size() << " bytes cut at " << k;
    }
  }
}

// Counts of 0 and 2^32 - 1, and lengths beyond the data.
TEST(Skip, EdgeCounts) {
  const Bytes bytes = Hex("85 C1 C1");  // length 5 with two units present
  const uint8_t* p = bytes.data();
  const uint8_t* e = p + bytes.size();
  EXPECT_EQ(SkipVarints(p, e, 0), p);
  EXPECT_EQ(SkipString(p, e), e);
  EXPECT_EQ(SkipDoubles(p, e, 0), p);
  EXPECT_EQ(SkipDoubles(p, e, UINT32_MAX), e);
  const Bytes huge_blob = Hex("7F 7F 7F 7F 8F 00");
  EXPECT_EQ(SkipBlob(huge_blob.data(), huge_blob.data() + huge_blob.size()),
            huge_blob.data() + huge_blob.size());
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

}  // namespace
}  // namespace qkxdr::impl
