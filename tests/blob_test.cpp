// Blob slots: views, shared owners, copies and copy-out, through the exported
// functions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "QkXDR.h"
#include "sbuf/binary.h"
#include "test_allocator.h"

namespace {

uint32_t References(const QkXDRBinary* slot) {
  return static_cast<const sbuf::deep_binary*>(sbuf::Held(slot))->references();
}

// A held object's dispatch table as a client built with another compiler
// calls it: member functions take the object first, on 32-bit Windows in a
// register (thiscall, which GCC applies to plain functions under a pedantic
// warning).
#if defined(_WIN32) && defined(__i386__)
#define QKXDR_TEST_THISCALL __attribute__((thiscall))
#else
#define QKXDR_TEST_THISCALL
#endif
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
struct BlobTable {
  void(QKXDR_TEST_THISCALL* destroy)(void* self);
  void*(QKXDR_TEST_THISCALL* clone)(const void* self, QkXDRBinary* storage);
  uint32_t(QKXDR_TEST_THISCALL* size)(const void* self);
  const void*(QKXDR_TEST_THISCALL* data)(const void* self);
};
#pragma GCC diagnostic pop

BlobTable TableOf(const QkXDRBinary* slot) {
  BlobTable table;
  std::memcpy(&table, slot->words[0], sizeof table);
  return table;
}

// An empty slot has no data and no size, copies out nothing without asking
// for a buffer, and may be freed any number of times.
TEST(Blob, EmptySlotReadsAsNothing) {
  QkXDRBinary slot{};
  TestAllocator allocator;
  EXPECT_EQ(QkXDRBinaryData(&slot), nullptr);
  EXPECT_EQ(QkXDRBinarySize(&slot), 0u);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  QkXDRBinaryFree(&slot);
  QkXDRBinaryFree(&slot);
  EXPECT_TRUE(allocator.requests.empty() && slot.words[0] == nullptr);
}

// A view gives the caller's pointer and size and copies out into one buffer
// of its size; size 0 keeps the pointer but copies nothing, and neither does
// a view on null data or a refused buffer.
TEST(Blob, AttachIsAViewThatCopyOutReads) {
  const uint8_t bytes[] = {1, 2, 3, 4};
  QkXDRBinary slot{};
  TestAllocator allocator;
  TestAllocator refusing(true);
  QkXDRBinaryAttach(&slot, bytes, 4);
  EXPECT_TRUE(QkXDRBinaryData(&slot) == bytes && QkXDRBinarySize(&slot) == 4u);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 4u);
  EXPECT_EQ(allocator.Last<uint8_t>(5), (std::vector<uint8_t>{1, 2, 3, 4, 0xCC}));
  EXPECT_EQ(QkXDRBinaryRead(&slot, &refusing), 0u);
  QkXDRBinaryAttach(&slot, bytes + 1, 0);
  EXPECT_TRUE(QkXDRBinaryData(&slot) == bytes + 1 && QkXDRBinarySize(&slot) == 0u);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  QkXDRBinaryAttach(&slot, nullptr, 10);
  EXPECT_EQ(QkXDRBinaryRead(&slot, &allocator), 0u);
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{4});
  QkXDRBinaryFree(&slot);
}

// Copies share a view's bytes or an owner's block; copying into itself
// changes nothing, copying an empty slot empties the destination, and the
// block lives until its last owner lets go (checked by AddressSanitizer).
TEST(Blob, CopiesShareTheBlock) {
  const uint8_t bytes[] = {9, 8, 7};
  QkXDRBinary view{}, owner{}, copy{}, third{}, empty{};
  QkXDRBinaryAttach(&view, bytes, 3);
  auto* block = new (&owner) sbuf::deep_binary(2);
  std::fill_n(block->mutable_data(), 2, uint8_t{5});
  QkXDRBinaryCopy(&view, &view);
  QkXDRBinaryCopy(&copy, &view);
  EXPECT_TRUE(QkXDRBinaryData(&view) == bytes && QkXDRBinaryData(&copy) == bytes);
  EXPECT_EQ(QkXDRBinarySize(&copy), 3u);
  QkXDRBinaryCopy(&copy, &owner);
  QkXDRBinaryCopy(&third, &copy);
  EXPECT_EQ(QkXDRBinaryData(&copy), QkXDRBinaryData(&owner));
  EXPECT_EQ(References(&owner), 3u);
  QkXDRBinaryCopy(&copy, &empty);
  EXPECT_EQ(copy.words[0], nullptr);
  EXPECT_EQ(References(&owner), 2u);
  QkXDRBinaryFree(&owner);
  EXPECT_EQ(QkXDRBinarySize(&third), 2u);
  EXPECT_EQ(static_cast<const uint8_t*>(QkXDRBinaryData(&third))[1], 5);
  EXPECT_EQ(References(&third), 1u);
  QkXDRBinaryFree(&third);
  QkXDRBinaryFree(&view);
}

// The slot's first word points at four entries: destroy, clone, size, data.
// Called through them, a view and an owner answer as the exports do; a clone
// reads the same, and destroying it in place gives its reference back.
TEST(Blob, DispatchTableOrder) {
  const uint8_t bytes[] = {4, 5, 6};
  QkXDRBinary view{}, owner{};
  QkXDRBinaryAttach(&view, bytes, 3);
  new (&owner) sbuf::deep_binary(5);
  for (const QkXDRBinary* slot : {&view, &owner}) {
    const BlobTable table = TableOf(slot);
    EXPECT_EQ(table.size(slot), QkXDRBinarySize(slot));
    EXPECT_EQ(table.data(slot), QkXDRBinaryData(slot));
    QkXDRBinary copy{};
    EXPECT_EQ(table.clone(slot, &copy), static_cast<void*>(&copy));
    EXPECT_TRUE(QkXDRBinarySize(&copy) == QkXDRBinarySize(slot) &&
                QkXDRBinaryData(&copy) == QkXDRBinaryData(slot));
    table.destroy(&copy);
  }
  EXPECT_EQ(References(&owner), 1u);
  QkXDRBinaryFree(&owner);
  QkXDRBinaryFree(&view);
}

// A view over a length varint and its bytes, cut to the data that is there.
TEST(Blob, ViewOverEncodedLength) {
  const uint8_t encoded[] = {0x83, 0x01, 0x02, 0x03, 0x54};
  const sbuf::shallow_binary view(encoded, encoded + sizeof encoded);
  EXPECT_TRUE(view.data() == encoded + 1 && view.size() == 3u && view.end() == encoded + 4);
  const uint8_t cut[] = {0x8A, 0x01, 0x02};
  const sbuf::shallow_binary short_view(cut, cut + sizeof cut);
  EXPECT_TRUE(short_view.size() == 2u && short_view.end() == cut + sizeof cut);
}

}  // namespace
