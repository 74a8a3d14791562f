// Properties of the binary streams: random write sequences read back value for
// value through both generations; Skip from any point of an array; and every
// reader operation on every prefix of a few rich streams and on random bytes,
// each input in a heap block of its exact size so that AddressSanitizer sees
// any read past its end.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "binary/coding.h"
#include "binary_values.h"
#include "test_allocator.h"

namespace binary_test {
namespace {

using qkxdr::impl::WireType;

uint64_t Random64(std::mt19937& rng) { return uint64_t{rng()} << 32 | rng(); }

Value RandomValue(std::mt19937& rng, Kind kind) {
  static const int64_t kEdges[] = {0,         1,         -1,        63,        64,
                                   -64,       -65,       8191,      8192,      INT32_MIN,
                                   INT32_MAX, INT64_MIN, INT64_MAX, 1LL << 53, -(1LL << 53) - 1};
  const bool edge = rng() % 4 == 0;
  const int64_t wide =
      edge ? kEdges[rng() % 15] : static_cast<int64_t>(Random64(rng)) >> rng() % 64;
  switch (kind) {
    case Kind::Int:
      return I32(edge ? static_cast<int32_t>(wide) : static_cast<int32_t>(rng()) >> rng() % 32);
    case Kind::Int64:
      return I64(wide);
    case Kind::Double: {
      const uint64_t bits = Random64(rng);
      double d = static_cast<double>(wide) / 8;
      if (!edge) std::memcpy(&d, &bits, sizeof d);  // any pattern, NaNs included
      return Dbl(d);
    }
    case Kind::String: {
      std::u16string s(rng() % 16 == 0 ? 200 : rng() % 12, u'a');
      static const uint32_t kRanges[][2] = {{1, 0x7F}, {0x80, 0x3FFF}, {0x4000, 0xFFFF}};
      for (char16_t& unit : s) {
        const uint32_t* range = kRanges[rng() % 3];
        unit = static_cast<char16_t>(range[0] + rng() % (range[1] - range[0] + 1));
      }
      return Str(s);
    }
    case Kind::StringA: {
      std::string s(rng() % 16 == 0 ? 200 : rng() % 12, 'a');
      for (char& c : s) c = static_cast<char>(1 + rng() % 255);
      return StrA(s);
    }
    default: {
      Bytes b(rng() % 16 == 0 ? 300 : rng() % 10);
      for (uint8_t& byte : b) byte = static_cast<uint8_t>(rng());
      return Blob(b);
    }
  }
}

// `count` random values or a few more: balanced arrays, runs of one kind, now
// and then a burst of 20 to 80 values of one kind to pass the 42-value mark.
// With `first_generation`, only kinds a first-generation writer has.
Values RandomValues(std::mt19937& rng, size_t count, bool first_generation) {
  Values values;
  int depth = 0;
  auto kind = Kind::Int;
  while (values.size() < count) {
    if (rng() % 4 == 0) kind = static_cast<Kind>(rng() % 8);
    if (first_generation && !FirstGeneration(kind)) kind = Kind::Double;
    if (kind == Kind::End && depth == 0) kind = Kind::Begin;
    if (kind == Kind::Begin || kind == Kind::End) {
      depth += kind == Kind::Begin ? 1 : -1;
      values.push_back(Of(kind));
      continue;
    }
    const int copies = rng() % 64 == 0 ? 20 + static_cast<int>(rng() % 60) : 1;
    for (int i = 0; i < copies; ++i) values.push_back(RandomValue(rng, kind));
  }
  values.insert(values.end(), static_cast<size_t>(depth), End());
  return values;
}

// ReadType alone steps through exactly the values written.
template <typename I>
void ExpectTypeWalk(const Bytes& bytes, const Values& values) {
  if (bytes.empty()) return;
  I* r = Open<I>(bytes);
  for (const Value& v : values) {
    ASSERT_EQ(static_cast<int>(r->ReadType()), CodeOf<I>(WireOf(v.kind)));
  }
  EXPECT_FALSE(r->IsValid());
  r->Release();
}

// In an array around `values` and followed by the integer 12345, Skip from
// any point where no inner array is open lands on the integer.
template <typename I>
void ExpectSkipLandsAfterTheArray(const Values& values, std::mt19937& rng) {
  std::vector<size_t> top_level;
  int depth = 0;
  for (size_t j = 0; j <= values.size(); ++j) {
    if (depth == 0) top_level.push_back(j);
    if (j < values.size())
      depth += values[j].kind == Kind::Begin ? 1 : values[j].kind == Kind::End ? -1 : 0;
  }
  const size_t stop = top_level[rng() % top_level.size()];
  const Bytes bytes = Encode<QkXDROStream2>(Cat({{Begin()}, values, {End(), I32(12345)}}));
  I* r = Open<I>(bytes);
  ASSERT_TRUE(r->ReadBeginArray());
  for (size_t j = 0; j < stop; ++j) ExpectValue(r, values[j], &rng);
  r->Skip();
  int32_t v = 0;
  EXPECT_TRUE(r->ReadInt(&v));
  EXPECT_EQ(v, 12345) << "skipped from value " << stop;
  EXPECT_FALSE(r->IsValid());
  r->Release();
}

TEST(BinaryStreams, RandomSequencesReadBackValueForValue) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    const bool first_generation = round % 2 == 0;
    const Values values = RandomValues(rng, rng() % 80, first_generation);
    const Bytes bytes = Encode<QkXDROStream2>(values);
    if (first_generation) {
      ASSERT_EQ(Encode<QkXDROStream>(values), bytes);
    }
    ExpectReadBack<QkXDRIStream2>(bytes, values, &rng);
    ExpectReadBack<QkXDRIStream>(bytes, values, &rng);
    ExpectTypeWalk<QkXDRIStream2>(bytes, values);
    ExpectTypeWalk<QkXDRIStream>(bytes, values);
    ExpectSkipLandsAfterTheArray<QkXDRIStream2>(values, rng);
    ExpectSkipLandsAfterTheArray<QkXDRIStream>(values, rng);
    if (HasFatalFailure()) return;
  }
}

// Reads a prefix (cut, k) of `whole` and the whole in step: the prefix has
// the same types and values, and a read fails on the prefix exactly when the
// cut falls before the end of what it needs (a string only needs its length;
// its units whose bytes all stand before the cut read back the same).
template <typename I>
void ExpectPrefixReadsLikeTheWhole(const uint8_t* cut, uint32_t k, const Bytes& whole) {
  I* p = Open<I>(cut, k);
  I* f = Open<I>(whole);
  const uint8_t* base = whole.data();
  while (p->IsValid()) {
    ASSERT_TRUE(f->IsValid());
    ASSERT_EQ(p->PeekType(), f->PeekType());
    const qkxdr::impl::BinaryDecoder& fd = Decoder(f);
    const uint8_t* start = fd.dc.p;
    const uint8_t count = fd.run.count;
    const WireType type = fd.run.type;
    const Delivery want = ReadCurrent(f);
    ASSERT_TRUE(want.ok);
    const uint8_t* end = fd.dc.p - (count == 1 && fd.run.count != 0 ? 1 : 0);
    const uint8_t* needed = type == WireType::String ? qkxdr::impl::SkipVarint(start, end) : end;
    const ReaderState before = StateOf(p);
    const Delivery got = ReadCurrent(p);
    ASSERT_EQ(got.ok, got.used == Read::Step || static_cast<size_t>(needed - base) <= k)
        << "value at " << start - base;
    if (!got.ok) {
      EXPECT_TRUE(StateOf(p) == before);
      p->ReadType();
      continue;
    }
    EXPECT_EQ(got.number, want.number);
    EXPECT_TRUE(SameBits(got.real, want.real));
    EXPECT_EQ(got.blob, want.blob);
    EXPECT_EQ(got.requested, want.requested);
    const uint8_t* units_end = static_cast<size_t>(end - base) <= k ? end : base + k;
    size_t complete = 0;
    for (const uint8_t* q = needed; q < units_end; ++q) complete += *q >> 7;
    EXPECT_EQ(got.units.substr(0, complete), want.units.substr(0, complete));
  }
  p->Release();
  f->Release();
}

// ReadType from the prefix gives a prefix of the whole stream's types.
template <typename I>
void ExpectPrefixTypes(const uint8_t* cut, uint32_t k, const Bytes& whole) {
  I* p = Open<I>(cut, k);
  I* f = Open<I>(whole);
  while (p->IsValid()) ASSERT_EQ(p->ReadType(), f->ReadType());
  p->Release();
  f->Release();
}

// Hands out buffers of exactly the size asked for, so that AddressSanitizer
// sees a write past one; refuses sizes that random input claims but cannot
// hold (a length varint may ask for four billion units).
class ExactAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    if (count > kMaxUnits) return nullptr;
    buffers_.push_back(std::make_unique<uint16_t[]>(count));
    return buffers_.back().get();
  }

 private:
  static constexpr uint32_t kMaxUnits = 1 << 16;
  std::vector<std::unique_ptr<uint16_t[]>> buffers_;
};

// Calls every operation of I over and over until the reader is used up:
// reads that fail change nothing, the cursor only moves forward and stays
// within the input, and the walk ends.
template <typename I>
void ExpectEveryOperationBounded(const uint8_t* data, uint32_t size) {
  I* r = Open<I>(data, size);
  ASSERT_NE(r, nullptr);
  const uint8_t* end = data + size;
  const uint64_t max_steps = 42 * (uint64_t{size} + 1);
  std::vector<std::function<bool()>> reads;
  ExactAllocator allocator;
  TestAllocator refusing(true);
  int32_t i32;
  int64_t i64;
  double d;
  reads.push_back([&] { return r->ReadInt(&i32); });
  reads.push_back([&] { return r->ReadDouble(&d); });
  reads.push_back([&] { return r->ReadString(&allocator); });
  reads.push_back([&] { return r->ReadString(&refusing); });
  reads.push_back([&] { return r->ReadBeginArray(); });
  reads.push_back([&] { return r->ReadEndArray(); });
  QkXDRBinary slot{};
  if constexpr (std::is_same_v<I, QkXDRIStream2>) {
    reads.push_back([&] { return r->ReadInt64(&i64); });
    reads.push_back([&] { return r->ReadStringA(&allocator); });
    reads.push_back([&] {
      const bool ok = r->ReadBinary(&slot);
      const auto* blob = static_cast<const uint8_t*>(QkXDRBinaryData(&slot));
      EXPECT_TRUE(!ok || (blob >= data && blob + QkXDRBinarySize(&slot) <= end));
      return ok;
    });
  }
  for (uint64_t step = 0; r->IsValid(); ++step) {
    ASSERT_LT(step, max_steps) << "the reader does not come to an end";
    for (const auto& read : reads) {
      const ReaderState before = StateOf(r);
      const bool ok = read();
      const ReaderState after = StateOf(r);
      EXPECT_TRUE(ok || after == before);
      EXPECT_TRUE(after.p >= before.p && after.p <= end);
    }
    r->PeekType();
    if (step % 5 == 4) {
      r->Skip();
    } else {
      r->ReadType();
    }
    EXPECT_LE(StateOf(r).p, end);
  }
  QkXDRBinaryFree(&slot);
  r->Release();
}

// Skip over and over ends within one call per value.
template <typename I>
void ExpectSkipsEnd(const uint8_t* data, uint32_t size) {
  I* r = Open<I>(data, size);
  for (uint64_t calls = 0; r->IsValid(); ++calls) {
    ASSERT_LT(calls, 42 * (uint64_t{size} + 1));
    r->Skip();
  }
  EXPECT_EQ(StateOf(r).p, data + size);
  r->Release();
}

template <typename I>
void ExpectEveryPrefixBounded(const Bytes& whole) {
  for (uint32_t k = 0; k <= whole.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "cut at " << k);
    const std::unique_ptr<uint8_t[]> cut(new uint8_t[k]);
    if (k != 0) std::memcpy(cut.get(), whole.data(), k);
    if (k == 0) {
      EXPECT_EQ(Open<I>(cut.get(), 0), nullptr);
      continue;
    }
    ExpectPrefixReadsLikeTheWhole<I>(cut.get(), k, whole);
    ExpectPrefixTypes<I>(cut.get(), k, whole);
    ExpectEveryOperationBounded<I>(cut.get(), k);
    ExpectSkipsEnd<I>(cut.get(), k);
    if (testing::Test::HasFatalFailure()) return;
  }
}

TEST(BinaryStreams, EveryOperationOnEveryPrefix) {
  std::mt19937 rng(7);
  const Bytes streams[] = {
      Encode<QkXDROStream2>(Cat({
          {Begin(), I32(-1), I32(300), I64(INT64_MIN), Dbl(0.25), Str(u"\u20ACx\uFFFF"),
           StrA("\xE9t\xE9"), Blob(Bytes(300, 0x5A)), Begin(), Begin(), Str(u""), Blob({})},
          Times(43, I32(INT32_MIN)),
          Times(44, End()),
          {Str(std::u16string(140, u'\u4000')), Blob({1, 2, 3}), Dbl(-0.0)},
      })),
      // Strings long enough to be read in rounds of one-byte units.
      Encode<QkXDROStream2>({Str(std::u16string(45, u'q')), StrA(std::string(19, 'r')),
                             Str(u"0123456789\u00E9abcdefghij"), StrA(std::string(8, 's'))}),
      Encode<QkXDROStream2>(RandomValues(rng, 60, false)),
      Hex("FF 00 54 82 53 D3 83 01 02 03 80 FC 2A 7E 00*8 A8 85 C1 C1"),
  };
  for (const Bytes& whole : streams) {
    ExpectEveryPrefixBounded<QkXDRIStream2>(whole);
    ExpectEveryPrefixBounded<QkXDRIStream>(whole);
  }
}

TEST(BinaryStreams, EveryOperationOnRandomBytes) {
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    const uint32_t size = 1 + rng() % 48;
    const std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(rng());
    ExpectEveryOperationBounded<QkXDRIStream2>(bytes.get(), size);
    ExpectEveryOperationBounded<QkXDRIStream>(bytes.get(), size);
    ExpectSkipsEnd<QkXDRIStream2>(bytes.get(), size);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace binary_test
