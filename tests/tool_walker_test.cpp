// The tool's own walk over the binary encoding: it must agree with the
// library's writer, and stay within any bytes, cut or random.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tool_random_values.h"
#include "wire_walker.h"

namespace {

using qkxdr::tool::Value;
using qkxdr::tool::WireFault;
using qkxdr::tool::WireItem;
using qkxdr::tool::WireKind;
using qkxdr::tool::WireWalker;

// The items of a walk over a heap block of exactly the bytes' size, so that
// AddressSanitizer sees any read beyond them.
std::vector<WireItem> Walk(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
  if (size != 0) std::memcpy(exact.get(), data, size);
  std::vector<WireItem> items;
  WireWalker walker(exact.get(), exact.get() + size);
  for (WireItem item; walker.Next(&item);) {
    EXPECT_LE(item.offset, item.end);
    EXPECT_LE(item.end, size);
    if (!items.empty()) {
      EXPECT_LE(items.back().offset, item.offset);
    }
    items.push_back(item);
    if (items.size() > 42 * size + 2) {
      ADD_FAILURE() << "the walk does not end";
      break;
    }
  }
  return items;
}

// Whether the item shows the value that was written.
bool Shows(const WireItem& item, const Value& value, const uint8_t* bytes) {
  std::u16string units;
  switch (value.type) {
    case QkXDRType2::Int:
      return item.kind == WireKind::Int && qkxdr::tool::UnZigZag(item.number) == value.integer;
    case QkXDRType2::Double:
      return item.kind == WireKind::Double && std::memcmp(&item.number, &value.real, 8) == 0;
    case QkXDRType2::String:
      qkxdr::tool::DecodeUnits(bytes + item.data, bytes + item.end, item.number, &units);
      return item.kind == WireKind::String && units == value.text;
    case QkXDRType2::Binary:
      return item.kind == WireKind::Binary && item.number == value.blob.size() &&
             std::memcmp(bytes + item.data, value.blob.data(), value.blob.size()) == 0;
    default:
      return item.kind ==
             (value.type == QkXDRType2::ArrayBegin ? WireKind::ArrayBegin : WireKind::ArrayEnd);
  }
}

TEST(WireWalkerTest, ShowsWhatTheWriterWroteAndAnyCutOfIt) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> blobs;
    const std::vector<Value> values = RandomValues(random, 50, &blobs);
    const std::string written = Written(values, QkXDRCreateOStream2());
    const auto* bytes = reinterpret_cast<const uint8_t*>(written.data());

    const std::vector<WireItem> items = Walk(bytes, written.size());
    ASSERT_EQ(items.size(), values.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].fault, WireFault::None) << i;
      EXPECT_TRUE(Shows(items[i], values[i], bytes)) << "value " << i << " of round " << round;
    }
    // A cut stream ends with at most one value cut short, then at most the
    // report of the arrays left open.
    for (size_t size = 0; size < written.size(); ++size) {
      const std::vector<WireItem> cut = Walk(bytes, size);
      size_t faults = 0;
      for (const WireItem& item : cut) {
        if (item.fault == WireFault::None) {
          EXPECT_EQ(faults, 0u) << "a value after the cut at " << size;
        } else {
          EXPECT_TRUE(item.fault == WireFault::Truncated ||
                      item.fault == WireFault::UnclosedArrays);
          ++faults;
        }
      }
      EXPECT_LE(faults, 2u);
    }
  }
}

// The items of walks over pieces of the bytes that end at `cuts`, each walk
// going on where the one before stopped, as the tool reads its input.
std::vector<WireItem> WalkPieces(const std::vector<uint8_t>& bytes, std::vector<size_t> cuts) {
  std::vector<WireItem> items;
  WireWalker::Resume at;
  cuts.push_back(bytes.size());
  for (size_t k = 0; k < cuts.size(); ++k) {
    const bool final = k + 1 == cuts.size();
    const std::vector<uint8_t> piece(bytes.begin() + static_cast<std::ptrdiff_t>(at.offset),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(cuts[k]));
    WireWalker walker(piece.data(), piece.data() + piece.size(), at, final);
    for (WireItem item; walker.Next(&item);) items.push_back(item);
    at = walker.Stopped();
  }
  return items;
}

// Whether two walks gave the same items, field by field.
bool SameItems(const std::vector<WireItem>& x, const std::vector<WireItem>& y) {
  const auto fields = [](const WireItem& i) {
    return std::tie(i.offset, i.data, i.end, i.tag, i.kind, i.index, i.count, i.depth, i.fault,
                    i.number, i.present);
  };
  return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                    [&](const WireItem& a, const WireItem& b) { return fields(a) == fields(b); });
}

TEST(WireWalkerTest, RandomBytesStayWithinBoundsAndWalkAlikeInPieces) {
  std::mt19937 random(17);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> bytes(random() % 40);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(random() % 4 ? random() : 0xFC + random() % 4);
    const std::vector<WireItem> whole = Walk(bytes.data(), bytes.size());
    std::vector<size_t> cuts(random() % 4);
    for (size_t& cut : cuts) cut = random() % (bytes.size() + 1);
    std::sort(cuts.begin(), cuts.end());
    EXPECT_TRUE(SameItems(WalkPieces(bytes, cuts), whole)) << round;
  }
}

}  // namespace
