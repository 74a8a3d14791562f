// Sizes near the limits, in memory and time too large for every run: these
// tests carry the CTest label "large" and run with `ctest --preset large`.
// - Inputs of several hundred MiB, in both encodings, with a string and a
//   blob of tens of MiB among them, are read back in full.
// - The binary writer's output ends at 4 GiB - 1 bytes, the most its 32-bit
//   size can report: the write that would pass it throws std::bad_alloc and
//   leaves the stream it had intact and readable.
// - A flushed sequence has no such limit: 5 GiB of blobs go from a stream
//   writer straight into a stream reader, in memory of a few blobs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/stream.hpp"

namespace {

constexpr uint32_t kInputBytes = 300u << 20;
// Units of the huge string, bytes of the huge blob.
constexpr uint32_t kHuge = 32u << 20;

// Keeps the last buffer it handed out.
class LastBuffer final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    buffer.assign(count, 0);
    return buffer.data();
  }
  std::vector<char16_t> buffer;
};

std::u16string RecordString(uint32_t i) {
  std::u16string s = u"quote\" backslash\\ line\n \u00E9\u4E2D #";
  for (char c : std::to_string(i)) s.push_back(static_cast<char16_t>(c));
  return s;
}

std::vector<uint8_t> RecordBlob(uint32_t i) {
  std::vector<uint8_t> blob(64);
  for (size_t k = 0; k < blob.size(); ++k) blob[k] = static_cast<uint8_t>(i + k * 7);
  return blob;
}

const char kRecordStringA[] = "8-bit \xE9";

void WriteBlob(QkXDROStream2* out, const void* data, uint32_t size) {
  QkXDRBinary blob{};
  QkXDRBinaryAttach(&blob, data, size);
  out->WriteBinary(&blob);
  QkXDRBinaryFree(&blob);
}

void WriteRecord(QkXDROStream2* out, uint32_t i) {
  out->BeginArray();
  out->WriteInt(static_cast<int32_t>(i));
  out->WriteInt64(int64_t{i} << 31);
  out->WriteDouble(i * 0.25);
  out->WriteString(RecordString(i).c_str());
  out->WriteStringA(kRecordStringA);
  const std::vector<uint8_t> blob = RecordBlob(i);
  WriteBlob(out, blob.data(), static_cast<uint32_t>(blob.size()));
  out->EndArray();
}

bool ReadsString(QkXDRIStream2* in, const std::u16string& expected) {
  LastBuffer allocator;
  return in->ReadString(&allocator) &&
         std::u16string(allocator.buffer.begin(), allocator.buffer.end()) == expected;
}

bool ReadsBlob(QkXDRIStream2* in, const std::vector<uint8_t>& expected) {
  QkXDRBinary slot{};
  const bool read = in->ReadBinary(&slot);
  const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(&slot));
  const bool same = read && std::vector<uint8_t>(data, data + QkXDRBinarySize(&slot)) == expected;
  QkXDRBinaryFree(&slot);
  return same;
}

bool ReadsRecord(QkXDRIStream2* in, uint32_t i) {
  int32_t i32 = 0;
  int64_t i64 = 0;
  double d = 0;
  LastBuffer bytes;
  return in->ReadBeginArray() && in->ReadInt(&i32) && i32 == static_cast<int32_t>(i) &&
         in->ReadInt64(&i64) && i64 == int64_t{i} << 31 && in->ReadDouble(&d) && d == i * 0.25 &&
         ReadsString(in, RecordString(i)) && in->ReadStringA(&bytes) &&
         std::memcmp(bytes.buffer.data(), kRecordStringA, sizeof kRecordStringA - 1) == 0 &&
         ReadsBlob(in, RecordBlob(i)) && in->ReadEndArray();
}

// Writes a huge string, a huge blob and records until the output passes
// kInputBytes, then reads all of it back from the writer's buffer.
template <typename Open>
void ExpectLargeRoundTrip(QkXDROStream2* out, Open open) {
  const std::u16string huge_string(kHuge, u'\u20AC');
  std::vector<uint8_t> huge_blob(kHuge);
  for (size_t k = 0; k < huge_blob.size(); ++k) huge_blob[k] = static_cast<uint8_t>(k >> 8);
  out->WriteString(huge_string.c_str());
  WriteBlob(out, huge_blob.data(), kHuge);
  uint32_t records = 0;
  while (out->GetSize() < kInputBytes) WriteRecord(out, records++);

  QkXDRIStream2* in = open(out->GetData(), out->GetSize());
  EXPECT_TRUE(ReadsString(in, huge_string));
  EXPECT_TRUE(ReadsBlob(in, huge_blob));
  uint32_t same = 0;
  while (same < records && ReadsRecord(in, same)) ++same;
  EXPECT_EQ(same, records);
  EXPECT_FALSE(in->IsValid());
  in->Release();
  out->Release();
}

TEST(Large, BinaryInputOfSeveralHundredMiB) {
  ExpectLargeRoundTrip(QkXDRCreateOStream2(), [](const void* data, uint32_t size) {
    return QkXDRCreateIStream2(data, size);
  });
}

TEST(Large, TextInputOfSeveralHundredMiB) {
  ExpectLargeRoundTrip(QkXDRCreateTextOStream2(), [](const void* data, uint32_t size) {
    return QkXDRCreateTextIStream2(static_cast<const char16_t*>(data), size / 2);
  });
}

TEST(Large, BinaryOutputEndsBelow4GiB) {
  // Blob bytes from zero-filled pages that take no memory until written.
  constexpr uint32_t kBig = 3u << 30;
  const std::unique_ptr<void, void (*)(void*)> zeros(std::calloc(kBig, 1), std::free);
  ASSERT_NE(zeros, nullptr);
  QkXDROStream2* out = QkXDRCreateOStream2();
  out->WriteInt(7);
  WriteBlob(out, zeros.get(), kBig);
  const uint32_t size = out->GetSize();
  const uint8_t head[] = {0x54, 0x8E, 0xD2, 0x00, 0x00, 0x00, 0x00, 0x8C};
  ASSERT_EQ(size, sizeof head + kBig);
  ASSERT_EQ(std::memcmp(out->GetData(), head, sizeof head), 0);

  // A second blob in the same run adds a 5-byte length and its bytes: one
  // byte too many fails and changes nothing, the exact rest fits.
  const uint32_t rest = UINT32_MAX - size - 5;
  EXPECT_THROW(WriteBlob(out, zeros.get(), rest + 1), std::bad_alloc);
  EXPECT_EQ(out->GetSize(), size);
  EXPECT_EQ(std::memcmp(out->GetData(), head, sizeof head), 0);
  WriteBlob(out, zeros.get(), rest);
  ASSERT_EQ(out->GetSize(), UINT32_MAX);

  // Full: every write fails, the stream stays as it was.
  EXPECT_THROW(out->WriteInt(1), std::bad_alloc);
  EXPECT_THROW(out->BeginArray(), std::bad_alloc);
  EXPECT_THROW(WriteBlob(out, nullptr, 0), std::bad_alloc);
  EXPECT_EQ(out->GetSize(), UINT32_MAX);
  const auto* data = static_cast<const uint8_t*>(out->GetData());
  EXPECT_EQ(data[2], 0xD3) << "one run of two blobs";

  QkXDRIStream2* in = QkXDRCreateIStream2(data, UINT32_MAX);
  int32_t seven = 0;
  QkXDRBinary blob{};
  EXPECT_TRUE(in->ReadInt(&seven));
  EXPECT_EQ(seven, 7);
  EXPECT_TRUE(in->ReadBinary(&blob));
  EXPECT_EQ(QkXDRBinaryData(&blob), data + sizeof head);
  EXPECT_EQ(QkXDRBinarySize(&blob), kBig);
  EXPECT_TRUE(in->ReadBinary(&blob));
  EXPECT_EQ(QkXDRBinarySize(&blob), rest);
  EXPECT_EQ(static_cast<const uint8_t*>(QkXDRBinaryData(&blob)) + rest, data + UINT32_MAX);
  EXPECT_FALSE(in->IsValid());
  QkXDRBinaryFree(&blob);
  in->Release();
  out->Release();
}

TEST(Large, FlushedSequencePasses4GiB) {
  constexpr uint32_t kBlob = 1u << 20;
  constexpr uint32_t kBlobs = 5 << 10;  // 5 GiB
  qkxdr::BinaryStreamReader reader(qkxdr::StreamUnit::Elements);
  uint64_t read = 0;
  size_t most_held = 0;
  qkxdr::BinaryStreamWriter writer([&](const uint8_t* data, size_t n) {
    reader.feed(data, n);
    while (qkxdr::impl::BinaryDecoder* value = reader.next()) {
      const uint8_t* bytes = nullptr;
      uint32_t size = 0;
      if (!value->ReadBytes(&bytes, &size) || size != kBlob || bytes[0] != (read & 0xFF)) break;
      ++read;
    }
    most_held = std::max(most_held, reader.buffered());
    return !reader.failed();
  });
  std::vector<uint8_t> blob(kBlob);
  writer.BeginArray();
  for (uint32_t i = 0; i < kBlobs; ++i) {
    blob[0] = static_cast<uint8_t>(i);
    writer.WriteBytes(blob.data(), kBlob);
  }
  writer.EndArray();
  ASSERT_TRUE(writer.flush());
  reader.finish();
  EXPECT_EQ(reader.next(), nullptr);
  EXPECT_TRUE(reader.done());
  EXPECT_EQ(read, kBlobs);
  EXPECT_GT(writer.written(), uint64_t{5} << 30);
  EXPECT_LT(most_held, size_t{8} * kBlob);
}

}  // namespace
