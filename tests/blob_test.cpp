// Blob slots: views, shared owners, copies and copy-out, through the exported
// functions.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "QkXDR.h"
#include "sbuf/binary.h"
#include "test_allocator.h"

namespace {

// A slot holding a new owning block with the given bytes.
void FillDeep(QkXDRBinary* slot, const std::vector<uint8_t>& bytes) {
  auto* owner = new (slot) sbuf::deep_binary(static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(static_cast<void*>(owner), static_cast<void*>(slot));
  std::copy(bytes.begin(), bytes.end(), owner->mutable_data());
}

uint32_t References(const QkXDRBinary* slot) {
  return static_cast<const sbuf::deep_binary*>(sbuf::Held(slot))->references();
}

TEST(Blob, EmptySlotReadsAsNothing) {
  QkXDRBinary slot{};
  TestAllocator allocator;
  EXPECT_EQ(QkXDRBinaryData(&slot), nullptr);
  EXPECT_EQ(QkXDRBinarySize(&slot), 0u);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  EXPECT_TRUE(allocator.requests.empty());
  QkXDRBinaryFree(&slot);
  QkXDRBinaryFree(&slot);
  EXPECT_EQ(slot.words[0], nullptr);
}

TEST(Blob, AttachIsAViewThatCopyOutReads) {
  const uint8_t bytes[] = {1, 2, 3, 4};
  QkXDRBinary slot{};
  QkXDRBinaryAttach(&slot, bytes, 4);
  EXPECT_EQ(QkXDRBinaryData(&slot), bytes);
  EXPECT_EQ(QkXDRBinarySize(&slot), 4u);

  TestAllocator allocator;
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 4u);
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{4});
  EXPECT_EQ(allocator.Last<uint8_t>(4), std::vector<uint8_t>(bytes, bytes + 4));

  TestAllocator refusing(true);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &refusing), 0u);

  // Attaching again replaces the view; size 0 keeps the pointer given.
  QkXDRBinaryAttach(&slot, bytes + 1, 0);
  EXPECT_EQ(QkXDRBinaryData(&slot), bytes + 1);
  EXPECT_EQ(QkXDRBinarySize(&slot), 0u);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  EXPECT_EQ(allocator.requests.size(), 1u) << "no Alloc for an empty blob";

  // A view on a null pointer with a size has nothing to copy out.
  QkXDRBinaryAttach(&slot, nullptr, 10);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  EXPECT_EQ(allocator.requests.size(), 1u);
  QkXDRBinaryFree(&slot);
}

TEST(Blob, CopySemantics) {
  const uint8_t bytes[] = {9, 8, 7};
  QkXDRBinary view{}, owner{}, copy{}, empty{};
  QkXDRBinaryAttach(&view, bytes, 3);
  FillDeep(&owner, {5, 6});

  QkXDRBinaryCopy(&view, &view);  // into itself: unchanged
  EXPECT_EQ(QkXDRBinaryData(&view), bytes);

  QkXDRBinaryCopy(&copy, &view);  // another view on the same bytes
  EXPECT_EQ(QkXDRBinaryData(&copy), bytes);
  EXPECT_EQ(QkXDRBinarySize(&copy), 3u);

  QkXDRBinaryCopy(&copy, &owner);  // replaces the view with a second owner
  EXPECT_EQ(QkXDRBinaryData(&copy), QkXDRBinaryData(&owner));
  EXPECT_EQ(References(&owner), 2u);

  QkXDRBinaryCopy(&copy, &empty);  // copying an empty slot empties dst
  EXPECT_EQ(copy.words[0], nullptr);
  EXPECT_EQ(References(&owner), 1u) << "the old content is released";

  QkXDRBinaryFree(&view);
  QkXDRBinaryFree(&owner);
}

// Checked for double frees and leaks under AddressSanitizer and valgrind.
TEST(Blob, SharedBlockIsFreedOnce) {
  QkXDRBinary first{}, second{}, third{};
  FillDeep(&first, {1, 2, 3});
  QkXDRBinaryCopy(&second, &first);
  QkXDRBinaryCopy(&third, &second);
  EXPECT_EQ(References(&first), 3u);

  QkXDRBinaryFree(&first);
  EXPECT_EQ(QkXDRBinarySize(&second), 3u);
  EXPECT_EQ(static_cast<const uint8_t*>(QkXDRBinaryData(&second))[2], 3);
  EXPECT_EQ(References(&second), 2u);

  QkXDRBinaryFree(&second);
  QkXDRBinaryFree(&second);  // already empty: harmless
  EXPECT_EQ(References(&third), 1u);
  QkXDRBinaryFree(&third);
}

TEST(Blob, DeepBlockOfZeroBytes) {
  QkXDRBinary slot{};
  FillDeep(&slot, {});
  EXPECT_EQ(QkXDRBinarySize(&slot), 0u);
  EXPECT_NE(QkXDRBinaryData(&slot), nullptr) << "an owner of 0 bytes still has a block";
  QkXDRBinaryFree(&slot);
}

TEST(Blob, ViewOverEncodedLength) {
  // Length 3, three bytes, then a tag byte.
  const uint8_t encoded[] = {0x83, 0x01, 0x02, 0x03, 0x54};
  const sbuf::shallow_binary view(encoded, encoded + sizeof encoded);
  EXPECT_EQ(view.data(), encoded + 1);
  EXPECT_EQ(view.size(), 3u);
  EXPECT_EQ(view.end(), encoded + 4);

  // A declared length beyond the data is cut to what is there.
  const uint8_t cut[] = {0x8A, 0x01, 0x02};
  const sbuf::shallow_binary short_view(cut, cut + sizeof cut);
  EXPECT_EQ(short_view.size(), 2u);
  EXPECT_EQ(short_view.end(), cut + sizeof cut);
}

}  // namespace
