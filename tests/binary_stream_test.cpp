// Properties of the binary streams: random sequences read back value for
// value through both generations, Skip from any point of an array, and every
// operation on every prefix of a stream and on random bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <type_traits>

#include "QkXDR.h"
#include "read_script.h"
#include "test_values.h"

namespace test_values {
namespace {

// Reads `values` back from `bytes`, each by a read chosen at random. (That
// reads of other kinds fail and change nothing is checked on every prefix.)
template <typename I>
void ExpectReadBack(const Bytes& bytes, const Values& values, Generator& random) {
  I* r = Open<I>(bytes);
  for (size_t k = 0; r != nullptr && k < values.size(); ++k) {
    const auto how = static_cast<Read>(random.Below(5));
    ASSERT_EQ(ReadOne(r, how), AsRead(values[k], how, std::is_same_v<I, QkXDRIStream2>))
        << "value " << k;
  }
  if (r == nullptr) {
    EXPECT_TRUE(values.empty());
    return;
  }
  EXPECT_FALSE(r->IsValid());
  EXPECT_EQ(Decoder(r).dc.p, bytes.data() + bytes.size());
  r->Release();
}

// In an array around `values`, followed by the integer 12345, Skip from a
// random point where no inner array is open lands on the integer.
template <typename I>
void ExpectSkipLandsAfterTheArray(const Values& values, Generator& random) {
  std::vector<size_t> top_level = {0};
  int depth = 0;
  for (size_t k = 0; k < values.size(); ++k) {
    depth += values[k].kind == Kind::Begin ? 1 : values[k].kind == Kind::End ? -1 : 0;
    if (depth == 0) top_level.push_back(k + 1);
  }
  const size_t stop = top_level[random.Below(static_cast<uint32_t>(top_level.size()))];
  const Bytes bytes = Encode(QkXDRCreateOStream2(), Cat({{kBegin}, values, {kEnd, I32(12345)}}));
  I* r = Open<I>(bytes);
  ASSERT_TRUE(r->ReadBeginArray());
  for (size_t k = 0; k < stop; ++k) ReadOne(r);
  r->Skip();
  int32_t v = 0;
  EXPECT_TRUE(r->ReadInt(&v) && v == 12345 && !r->IsValid()) << "skipped from value " << stop;
  r->Release();
}

// Random sequences, from both writer generations where the first has their
// writes, read back by both reader generations and skipped from any point.
TEST(BinaryStreams, RandomSequencesReadBackValueForValue) {
  Generator random(20240611);
  for (int round = 0; round < 1500; ++round) {
    const bool first_generation = round % 2 == 0;
    const Values values = random.Sequence(random.Below(80), first_generation);
    const Bytes bytes = Encode(QkXDRCreateOStream2(), values);
    if (first_generation) {
      ASSERT_EQ(Encode(QkXDRCreateOStream(), values), bytes);
    }
    ExpectReadBack<QkXDRIStream2>(bytes, values, random);
    ExpectReadBack<QkXDRIStream>(bytes, values, random);
    ExpectSkipLandsAfterTheArray<QkXDRIStream2>(values, random);
    ExpectSkipLandsAfterTheArray<QkXDRIStream>(values, random);
    if (HasFatalFailure()) return;
  }
}

// Runs every operation over and over on the bytes, in a heap block of their
// exact size, until the reader is used up: failed reads change nothing, the
// cursor only moves forward and stays within the input, blobs lie within it
// (their bytes are read), and the walk ends. A reader over a prefix of
// `whole` steps through the types of the whole.
template <typename I>
void ExpectBounded(const uint8_t* bytes, uint32_t size, const Bytes& whole) {
  const std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
  if (size != 0) std::memcpy(data.get(), bytes, size);
  I* r = Open<I>(data.get(), size);
  if (size == 0) {
    EXPECT_EQ(r, nullptr);
    return;
  }
  const uint8_t* last = data.get();
  const auto state = [&](I* reader) {
    EXPECT_TRUE(Decoder(reader).dc.p >= last && Decoder(reader).dc.p <= data.get() + size);
    last = Decoder(reader).dc.p;
    return StateOf(reader);
  };
  const std::string ops = std::is_same_v<I, QkXDRIStream2>
                              ? "Int Double Str StrNull Begin End Int64 StrA StrANull Bin Peek "
                              : "Int Double Str StrNull Begin End Peek ";
  for (uint32_t round = 0; r->IsValid(); ++round) {
    ASSERT_LT(round, 42 * (size + 1)) << "the reader does not come to an end";
    read_script::Run(r, ops + (round % 5 == 4 ? "Skip" : "Type"), state);
  }
  r->Release();
  if (whole.empty()) return;
  I* prefix = Open<I>(data.get(), size);
  I* full = Open<I>(whole);
  while (prefix->IsValid()) ASSERT_EQ(prefix->ReadType(), full->ReadType());
  prefix->Release();
  full->Release();
}

// Every prefix of a stream of every kind of value and of damaged tags, and
// random bytes.
TEST(BinaryStreams, EveryOperationOnEveryPrefixAndOnRandomBytes) {
  Generator values(7);
  const Bytes streams[] = {
      Encode(QkXDRCreateOStream2(),
             Cat({{kBegin, I32(-1), I32(300), I64(INT64_MIN), Dbl(0.25), Str(u"\u20ACx\uFFFF"),
                   StrA("\xE9t\xE9"), Blob(Bytes(130, 0x5A)), kBegin, kBegin, Str(u""), Blob({})},
                  Times(43, I32(-1)),
                  Times(44, kEnd),
                  {Str(std::u16string(130, u'a')), Blob({1, 2, 3}), Dbl(-0.0)}})),
      Encode(QkXDRCreateOStream2(), values.Sequence(60)),
      Hex("FF 00 54 82 53 D3 83 01 02 03 80 FC 2A 7E 00*8 A8 85 C1 C1"),
  };
  for (const Bytes& whole : streams) {
    for (uint32_t k = 0; k <= whole.size() && !HasFatalFailure(); ++k) {
      ExpectBounded<QkXDRIStream2>(whole.data(), k, whole);
      ExpectBounded<QkXDRIStream>(whole.data(), k, whole);
    }
  }
  std::mt19937 random(99);
  for (int round = 0; round < 1000 && !HasFatalFailure(); ++round) {
    Bytes bytes(1 + random() % 32);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    ExpectBounded<QkXDRIStream2>(bytes.data(), static_cast<uint32_t>(bytes.size()), {});
    ExpectBounded<QkXDRIStream>(bytes.data(), static_cast<uint32_t>(bytes.size()), {});
  }
}

}  // namespace
}  // namespace test_values
