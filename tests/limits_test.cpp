// Nesting depth is limited by memory only: one million arrays, each inside
// the one before, are written, read, stepped through, skipped and parsed in
// both encodings without running out of stack.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "QkXDR.h"

namespace {

constexpr uint32_t kDepth = 1000000;

// kDepth array openings, then as many closings.
template <typename T, typename Create>
std::vector<T> Nested(Create create) {
  auto* out = create();
  for (uint32_t i = 0; i < kDepth; ++i) out->BeginArray();
  for (uint32_t i = 0; i < kDepth; ++i) out->EndArray();
  const auto* data = static_cast<const T*>(out->GetData());
  std::vector<T> nested(data, data + out->GetSize() / sizeof(T));
  out->Release();
  return nested;
}

using Open = std::function<QkXDRIStream2*()>;

// Consumes up to n markers with `read`; returns how many it took.
uint32_t Consume(QkXDRIStream2* in, uint32_t n, bool (QkXDRIStream2::*read)()) {
  uint32_t count = 0;
  while (count < n && (in->*read)()) ++count;
  return count;
}

void ExpectNestedReads(const Open& open) {
  QkXDRIStream2* in = open();
  EXPECT_EQ(Consume(in, kDepth, &QkXDRIStream2::ReadBeginArray), kDepth);
  EXPECT_EQ(Consume(in, kDepth, &QkXDRIStream2::ReadEndArray), kDepth);
  EXPECT_FALSE(in->IsValid());
  in->Release();

  // ReadType steps over one marker at a time and never descends further.
  in = open();
  uint32_t begins = 0;
  uint32_t ends = 0;
  for (uint32_t i = 0; i < 2 * kDepth; ++i) {
    const QkXDRType2 type = in->ReadType();
    begins += type == QkXDRType2::ArrayBegin;
    ends += type == QkXDRType2::ArrayEnd;
  }
  EXPECT_EQ(begins, kDepth);
  EXPECT_EQ(ends, kDepth);
  EXPECT_FALSE(in->IsValid());
  in->Release();

  // Skip after the outermost opening passes the whole nest.
  in = open();
  EXPECT_TRUE(in->ReadBeginArray());
  in->Skip();
  EXPECT_FALSE(in->IsValid());
  in->Release();

  // Skip at the innermost level passes one closing; the others stay.
  in = open();
  EXPECT_EQ(Consume(in, kDepth, &QkXDRIStream2::ReadBeginArray), kDepth);
  in->Skip();
  EXPECT_EQ(Consume(in, kDepth, &QkXDRIStream2::ReadEndArray), kDepth - 1);
  EXPECT_FALSE(in->IsValid());
  in->Release();
}

class BracketCounter final : public QkXDRTextHandler {
 public:
  bool OnDouble(double) override { return false; }
  bool OnInt(int32_t) override { return false; }
  bool OnString(const char16_t*, const char16_t*) override { return false; }
  bool OnBeginArray() override {
    ++begins;
    return true;
  }
  bool OnEndArray() override {
    ++ends;
    return true;
  }

  uint32_t begins = 0;
  uint32_t ends = 0;
};

TEST(Limits, MillionNestedArraysInBinary) {
  const std::vector<uint8_t> bytes = Nested<uint8_t>(QkXDRCreateOStream2);
  // Runs of 42 markers share one tag byte.
  EXPECT_EQ(bytes.size(), 2 * ((kDepth + 41) / 42));
  ExpectNestedReads(
      [&bytes] { return QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size())); });
}

TEST(Limits, MillionNestedArraysInText) {
  const std::vector<char16_t> text = Nested<char16_t>(QkXDRCreateTextOStream2);
  ASSERT_EQ(text.size(), 2 * kDepth);
  const auto length = static_cast<uint32_t>(text.size());
  ExpectNestedReads([&text, length] { return QkXDRCreateTextIStream2(text.data(), length); });

  BracketCounter counter;
  QkXDRTextParse(&counter, text.data(), length);
  EXPECT_EQ(counter.begins, kDepth);
  EXPECT_EQ(counter.ends, kDepth);
}

}  // namespace
