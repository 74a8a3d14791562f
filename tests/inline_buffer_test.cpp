#include "library/inline_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

namespace qkxdr::impl {
namespace {

TEST(InlineBuffer, GrowsByHalfOfTheNeededSize) {
  InlineBuffer<uint8_t, 500> buffer;
  std::vector<uint32_t> capacities;
  for (uint32_t i = 0; i < 1700; ++i) {
    buffer.PushBack(static_cast<uint8_t>(i));
    if (capacities.empty() || capacities.back() != buffer.capacity()) {
      capacities.push_back(buffer.capacity());
    }
    if (i == 499) {
      EXPECT_FALSE(buffer.on_heap());
    }
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{500, 751, 1128, 1693, 2541}));
  for (uint32_t i = 0; i < 1700; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i));

  InlineBuffer<uint8_t, 500> blob;
  blob.Extend(1003);  // one reservation for a whole blob
  EXPECT_EQ(blob.capacity(), 1504u);
  EXPECT_EQ(blob.size(), 1003u);
}

TEST(InlineBuffer, SizeLimitFailsCleanly) {
  InlineBuffer<char16_t, 4, 10> buffer;
  const char16_t text[] = u"abcdefgh";
  buffer.Append(text, 8);
  EXPECT_EQ(buffer.capacity(), 10u) << "growth target capped at the limit";
  EXPECT_THROW(buffer.Extend(3), std::bad_alloc);
  EXPECT_EQ(buffer.size(), 8u);
  EXPECT_EQ(std::u16string(buffer.data(), buffer.size()), u"abcdefgh");
  buffer.Append(text, 2);
  EXPECT_EQ(buffer.size(), 10u);
  EXPECT_THROW(buffer.PushBack(u'x'), std::bad_alloc);
}

TEST(InlineBuffer, ShrinkingKeepsStorage) {
  InlineBuffer<uint8_t, 8> stack;
  for (uint8_t i = 0; i < 12; ++i) stack.PushBack(i);
  const uint32_t capacity = stack.capacity();
  stack.Resize(2);
  EXPECT_EQ(stack.capacity(), capacity);
  EXPECT_TRUE(stack.on_heap());
  EXPECT_EQ(stack[1], 1);
}

}  // namespace
}  // namespace qkxdr::impl
