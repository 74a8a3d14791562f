// An allocator that records every request and refuses counts beyond 2^20,
// which only damaged input asks for. Each buffer has one element more than
// asked, all bytes 0xCC, so that a write beyond shows.

#ifndef QKXDR_TESTS_TEST_ALLOCATOR_H_
#define QKXDR_TESTS_TEST_ALLOCATOR_H_

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "QkXDR.h"

class TestAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    requests.push_back(count);
    if (count > (1u << 20)) return nullptr;
    buffers.push_back(std::make_unique<uint16_t[]>(count + 1));
    std::fill_n(buffers.back().get(), count + 1, uint16_t{0xCCCC});
    return buffers.back().get();
  }

  // The last buffer as `count` elements of T.
  template <typename T>
  std::vector<T> Last(uint32_t count) const {
    const T* p = reinterpret_cast<const T*>(buffers.back().get());
    return std::vector<T>(p, p + count);
  }

  std::vector<uint32_t> requests;
  std::vector<std::unique_ptr<uint16_t[]>> buffers;
};

#endif  // QKXDR_TESTS_TEST_ALLOCATOR_H_
