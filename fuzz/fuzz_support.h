// Shared pieces of the fuzz targets: a check that stops the run, a cursor
// over the fuzzer's bytes, exact-size copies, and an allocator.

#ifndef QKXDR_FUZZ_FUZZ_SUPPORT_H_
#define QKXDR_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QkXDR.h"

// Every target defines this; libFuzzer or fuzz/replay_main.cpp calls it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken property: the fuzzer keeps the input that led here.
#define FUZZ_CHECK(condition) ((condition) ? void() : FuzzFailed(__FILE__, __LINE__, #condition))
[[noreturn]] inline void FuzzFailed(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// Takes bytes from the front of the input; past its end every read gives 0.
class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  bool empty() const { return p_ == end_; }
  size_t left() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* position() const { return p_; }

  uint8_t Byte() { return p_ == end_ ? 0 : *p_++; }

  // n bytes (fewer at the end), least significant first.
  uint64_t Bits(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t{Byte()} << (8 * i);
    return v;
  }

  // One UTF-16 unit, dense in ASCII: a byte below 0xFF stands for itself,
  // 0xFF is followed by the unit's two bytes, high byte first.
  char16_t Unit() {
    const uint8_t b = Byte();
    if (b != 0xFF) return b;
    const auto high = static_cast<char16_t>(Byte() << 8);
    return static_cast<char16_t>(high | Byte());
  }

  // Up to n bytes from the front, as a view.
  const uint8_t* Take(size_t n, size_t* taken) {
    *taken = n < left() ? n : left();
    p_ += *taken;
    return p_ - *taken;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// A copy of n elements in a block of exactly their size, so that any read
// beyond them is caught.
template <typename T>
std::unique_ptr<T[]> ExactCopy(const T* data, size_t n) {
  std::unique_ptr<T[]> copy(new T[n]);
  if (n != 0) std::memcpy(copy.get(), data, n * sizeof(T));
  return copy;
}

// The rest of the input as text, unit by unit as ByteSource::Unit reads it,
// in a block of exactly its length.
struct FuzzText {
  explicit FuzzText(ByteSource* in) {
    std::u16string units;
    while (!in->empty()) units.push_back(in->Unit());
    length = static_cast<uint32_t>(units.size());
    text = ExactCopy(units.data(), length);
  }

  std::unique_ptr<char16_t[]> text;
  uint32_t length;
};

// The most units a reader target's allocator hands out a block for: far more
// than the fuzzers' inputs hold, so that a string declaring more units than
// follow gets its block and must stop at the input's end; larger counts, up
// to the 2^32 - 1 of a damaged length, are refused as by an allocator that
// runs out.
constexpr uint32_t kReaderBlockLimit = 1 << 16;

// Hands out blocks of exactly the size asked for (in units of unit_size
// bytes), so that a write past the end is caught; refuses when told to and
// for requests above `limit` units.
class FuzzAllocator final : public QkXDRAllocator {
 public:
  explicit FuzzAllocator(uint32_t limit) : limit_(limit) {}

  void* Alloc(uint32_t count) override {
    ++calls;
    last_count = count;
    last_block = nullptr;
    if (refuse || count > limit_) return nullptr;
    blocks_.emplace_back(new uint8_t[size_t{count} * unit_size]);
    last_block = blocks_.back().get();
    return last_block;
  }

  // What the last request's block holds, as `last_count` elements of T;
  // empty when it was refused.
  template <typename T>
  std::basic_string<T> Last() const {
    const auto* p = reinterpret_cast<const T*>(last_block);
    return p == nullptr ? std::basic_string<T>() : std::basic_string<T>(p, p + last_count);
  }

  size_t unit_size = 1;
  bool refuse = false;
  int calls = 0;
  uint32_t last_count = 0;
  void* last_block = nullptr;

 private:
  uint32_t limit_;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

// Whether a and b have the same bits: NaN payloads and the sign of zero count.
template <typename T>
bool SameBits(T a, T b) {
  static_assert(sizeof(T) <= sizeof(uint64_t), "compared as one word");
  uint64_t x = 0;
  uint64_t y = 0;
  std::memcpy(&x, &a, sizeof a);
  std::memcpy(&y, &b, sizeof b);
  return x == y;
}

#endif  // QKXDR_FUZZ_FUZZ_SUPPORT_H_
