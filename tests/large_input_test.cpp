// Inputs and outputs too large for every run: label "large" (ctest --preset large).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "QkXDR.hpp"
#include "qkxdr/stream.hpp"

namespace {

// In both encodings, a string of 32 Mi units, a blob of 32 MiB and then
// records of every kind of value until the input passes 300 MiB, read back.
TEST(Large, InputsOfSeveralHundredMiB) {
  const std::u16string huge_string(32u << 20, u'\u20AC');
  std::vector<uint8_t> huge_blob(32u << 20);
  for (size_t k = 0; k < huge_blob.size(); ++k) huge_blob[k] = static_cast<uint8_t>(k >> 8);
  const std::u16string string = u"quote\" backslash\\ line\n \u00E9\u4E2D";
  const std::vector<uint8_t> blob = {0x00, 0x7F, 0x80, 0xFF};
  for (const bool text : {false, true}) {
    SCOPED_TRACE(text ? "text" : "binary");
    qkxdr::Writer w = text ? qkxdr::Writer(qkxdr::TextWriter()) : qkxdr::BinaryWriter();
    w.write(huge_string);
    w.write(huge_blob);
    uint32_t records = 0;
    for (; w.size() < (300u << 20); ++records) {
      const auto array = w.array();
      w.write(static_cast<int32_t>(records));
      w.write(int64_t{records} << 31);
      w.write(records * 0.25);
      w.write(string);
      w.write(qkxdr::Latin1{"8-bit \xE9"});
      w.write(blob);
    }
    const std::u16string_view units(static_cast<const char16_t*>(w.data()), w.size() / 2);
    qkxdr::Reader r =
        text ? qkxdr::Reader(qkxdr::TextReader(units)) : qkxdr::BinaryReader(w.data(), w.size());
    EXPECT_EQ(r.read_u16string().value(), huge_string);
    EXPECT_EQ(r.read_bytes().value(), huge_blob);
    uint32_t i = 0;
    while (i < records && r.begin_array() && r.read_int().value() == static_cast<int32_t>(i) &&
           r.read_int64().value() == int64_t{i} << 31 && r.read_double().value() == i * 0.25 &&
           r.read_u16string().value() == string &&
           r.read_latin1().value() == qkxdr::Latin1{"8-bit \xE9"} &&
           r.read_bytes().value() == blob && r.end_array()) {
      ++i;
    }
    EXPECT_EQ(i, records);
    EXPECT_FALSE(r.valid());
  }
}

// The binary writer's output ends at 4 GiB - 1 bytes, the most its 32-bit
// size reports: a blob one byte too long throws and changes nothing, the
// exact rest fits, then every write throws; a reader takes all of it. (The
// blobs' zero-filled pages take no memory until written.)
TEST(Large, BinaryOutputEndsBelow4GiB) {
  constexpr uint32_t kBig = 3u << 30;
  const std::unique_ptr<void, void (*)(void*)> zeros(std::calloc(kBig, 1), std::free);
  ASSERT_NE(zeros, nullptr);
  qkxdr::BinaryWriter w;
  w.write(7);
  w.write(zeros.get(), kBig);
  const uint8_t head[] = {0x54, 0x8E, 0xD2, 0, 0, 0, 0, 0x8C};  // 7, then a blob of 3 GiB
  const auto data = [&w] { return static_cast<const uint8_t*>(w.data()); };
  ASSERT_TRUE(w.size() == 8 + kBig && std::equal(head, head + 8, data()));
  const uint32_t rest = UINT32_MAX - 8 - kBig - 5;  // after the second blob's 5-byte length
  EXPECT_THROW(w.write(zeros.get(), rest + 1), std::bad_alloc);
  EXPECT_TRUE(w.size() == 8 + kBig && std::equal(head, head + 8, data()));
  w.write(zeros.get(), rest);
  ASSERT_EQ(w.size(), UINT32_MAX);
  EXPECT_THROW(w.write(1), std::bad_alloc);
  EXPECT_THROW(w.begin_array(), std::bad_alloc);
  EXPECT_THROW(w.write(nullptr, 0), std::bad_alloc);
  ASSERT_EQ(w.size(), UINT32_MAX);
  EXPECT_EQ(data()[2], 0xD3) << "one run of two blobs";
  qkxdr::BinaryReader r(data(), UINT32_MAX);
  EXPECT_EQ(r.read_int().value(), 7);
  const qkxdr::Result<qkxdr::Blob> first = r.read_blob(), second = r.read_blob();
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->data() == data() + 8 && first->size() == kBig);
  EXPECT_TRUE(second->size() == rest && second->data() + rest == data() + UINT32_MAX);
  EXPECT_FALSE(r.valid());
}

// A flushed sequence has no such limit: 5 GiB of blobs go from a stream
// writer straight into a stream reader, which holds a few blobs at most.
TEST(Large, FlushedSequencePasses4GiB) {
  constexpr uint32_t kBlob = 1u << 20;
  constexpr uint32_t kBlobs = 5 << 10;
  qkxdr::BinaryStreamReader reader(qkxdr::StreamUnit::elements);
  uint64_t read = 0;
  size_t most_held = 0;
  qkxdr::BinaryStreamWriter writer([&](const uint8_t* data, size_t n) {
    reader.feed(data, n);
    while (qkxdr::BinaryValues* value = reader.next()) {
      const qkxdr::Result<std::vector<uint8_t>> bytes = value->read<std::vector<uint8_t>>();
      if (!bytes || bytes->size() != kBlob || (*bytes)[0] != (read & 0xFF)) break;
      ++read;
    }
    most_held = std::max(most_held, reader.buffered());
    return !reader.failed();
  });
  std::vector<uint8_t> blob(kBlob);
  writer.begin_array();
  for (uint32_t i = 0; i < kBlobs; ++i) {
    blob[0] = static_cast<uint8_t>(i);
    writer.write(blob);
  }
  writer.end_array();
  ASSERT_TRUE(writer.flush());
  reader.finish();
  EXPECT_TRUE(reader.next() == nullptr && reader.done());
  EXPECT_EQ(read, kBlobs);
  EXPECT_LT(most_held, size_t{8} * kBlob);
}

}  // namespace
