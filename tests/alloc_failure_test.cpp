// Allocation failure: the library catches no std::bad_alloc; it reaches the
// caller and every object stays usable. alloc_boundary_tests links the shared
// library, so the exception crosses its boundary; alloc_failure_tests links
// its objects and makes the Nth allocation fail (QKXDR_INJECT_ALLOCATION_FAILURE).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "QkXDR.hpp"
#include "test_allocator.h"

// An exception raised in the 32-bit Windows DLL ends the process instead.
#if defined(_WIN32) && defined(__i386__) && !defined(QKXDR_INJECT_ALLOCATION_FAILURE)
#define EXPECT_BAD_ALLOC(statement) EXPECT_DEATH(statement, "std::bad_alloc")
#else
#define EXPECT_BAD_ALLOC(statement) EXPECT_THROW(statement, std::bad_alloc)
#endif

namespace {

qkxdr::Writer NewWriter(int w) {
  return w == 0 ? qkxdr::Writer(qkxdr::BinaryWriter()) : qkxdr::TextWriter();
}

// A view declaring 4 GiB - 1 bytes over one: both writers refuse it before
// reading a byte, as their output could not report its size; each throws,
// keeps what it had, and goes on.
TEST(AllocationFailure, CallerCatchesWhatTheLibraryThrows) {
  const uint8_t byte = 1;
  for (int w = 0; w < 2; ++w) {
    qkxdr::Writer writer = NewWriter(w), expected = NewWriter(w);
    writer.write(1);
    EXPECT_BAD_ALLOC(writer.write(&byte, UINT32_MAX));
    writer.write(2);
    expected.write(1);
    expected.write(2);
    EXPECT_EQ(writer.bytes(), expected.bytes()) << w;
  }
}

struct ThrowingAllocator final : QkXDRAllocator {
  void* Alloc(uint32_t) override { throw std::bad_alloc(); }
};

// A string length of 2^32 - 1 in 16 bytes reaches the caller's allocator as
// it is: one that throws sends the exception through the library, which
// stays on the string; one that refuses has it passed over. The C++ layer
// asks for nothing beyond the input.
TEST(AllocationFailure, DamagedLengthReachesTheCallersAllocator) {
  const uint8_t input[16] = {0xA8, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0xE1, 0xE2,
                             0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA};
  QkXDRIStream2* in = QkXDRCreateIStream2(input, sizeof input);
  ThrowingAllocator throwing;
  EXPECT_BAD_ALLOC(in->ReadString(&throwing));
  TestAllocator allocator;  // refuses counts above 2^20
  EXPECT_TRUE(in->ReadString(&allocator));
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{UINT32_MAX});
  EXPECT_FALSE(in->IsValid());
  in->Release();
  qkxdr::BinaryReader reader(input, sizeof input);
  EXPECT_EQ(reader.read_u16string().error().code(), qkxdr::ErrorCode::truncated);
}

}  // namespace

#if defined(QKXDR_INJECT_ALLOCATION_FAILURE)

// Counts allocations while armed and fails the one numbered fail_at.
static struct Injector {
  bool armed = false;
  uint64_t count = 0;
  uint64_t fail_at = 0;
  uint64_t reallocs = 0;  // counted ones that went through realloc
} injector;

static bool NextFails() { return injector.armed && ++injector.count == injector.fail_at; }

extern "C" {
void* __real_malloc(size_t size);
void* __real_realloc(void* block, size_t size);
void* __wrap_malloc(size_t size) { return NextFails() ? nullptr : __real_malloc(size); }
void* __wrap_realloc(void* block, size_t size) {
  injector.reallocs += injector.armed;
  return NextFails() ? nullptr : __real_realloc(block, size);
}
}  // extern "C"

// Every form of operator new takes its block from malloc, so that each
// allocation is counted once, in __wrap_malloc.
void* operator new(size_t n, const std::nothrow_t&) noexcept { return std::malloc(n == 0 ? 1 : n); }
void* operator new(size_t n) {
  void* block = operator new(n, std::nothrow);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
  return operator new(n, std::nothrow);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

// What a reader gives, comparable: "[", "]", "i<n>", "d<x>", "s<units>", "x<bytes>".
using Seen = std::vector<std::string>;

// kDepth openings, the values, kDepth closings: the text reader's open arrays
// outgrow its inner room, and the strings and the blob grow both writers.
constexpr int kDepth = 16;
using Item = std::variant<int, int64_t, double, std::u16string, std::string, std::vector<uint8_t>>;
const Item kItems[] = {7,
                       int64_t{5000000000},
                       0.5,
                       std::u16string(300, u'u'),
                       std::string(300, 'c'),
                       std::vector<uint8_t>(700, 0xA5)};
constexpr int kWrites = 2 * kDepth + 6;

void Write(qkxdr::Writer& w, int i) {
  if (i < kDepth) {
    w.begin_array();
  } else if (i >= kWrites - kDepth) {
    w.end_array();
  } else {
    std::visit([&w](const auto& v) { w.write(v); }, kItems[i - kDepth]);
  }
}

template <typename C>
std::string Narrow(const C& c) {
  return std::string(c.begin(), c.end());
}

std::string ReadOne(qkxdr::Reader& r) {
  const qkxdr::Type type = r.peek_type();
  if (type == qkxdr::Type::ArrayBegin) return r.begin_array() ? "[" : "?";
  if (type == qkxdr::Type::ArrayEnd) return r.end_array() ? "]" : "?";
  if (type == qkxdr::Type::Int) return "i" + std::to_string(r.read_int64().value());
  if (type == qkxdr::Type::Double) return "d" + std::to_string(r.read_double().value());
  if (type == qkxdr::Type::String) return "s" + Narrow(r.read_u16string().value());
  if (type == qkxdr::Type::Binary) return "x" + Narrow(r.read_bytes().value());
  r.read_type();
  return "?";
}

// Reads values until there are none; where a text reader stands on no value,
// ReadType steps on once, scanning again the token a failed step could not.
void ReadAll(qkxdr::Reader& r, Seen& seen) {
  while (r.valid() || (r.read_type(), r.valid())) seen.push_back(ReadOne(r));
}

// The objects of the sequence, and how far it got with each.
struct Objects {
  qkxdr::Writer writers[2];
  int written[2] = {0, 0};
  std::vector<uint8_t> bytes;
  std::u16string text;
  qkxdr::Reader readers[2];
  Seen read[2];
  int reading = -1;  // the reader whose ReadAll runs
};

// Writes the values through both writers, then reads them back.
void Sequence(Objects& o) {
  for (int w = 0; w < 2; ++w) {
    o.writers[w] = NewWriter(w);
    for (; o.written[w] < kWrites; ++o.written[w]) Write(o.writers[w], o.written[w]);
  }
  o.bytes = o.writers[0].bytes();
  const auto* units = static_cast<const char16_t*>(o.writers[1].data());
  o.text.assign(units, units + o.writers[1].size() / 2);
  for (o.reading = 0; o.reading < 2; ++o.reading) {
    const int r = o.reading;
    o.readers[r] = r == 0 ? qkxdr::Reader(qkxdr::BinaryReader(o.bytes)) : qkxdr::TextReader(o.text);
    ReadAll(o.readers[r], o.read[r]);
  }
}

// Fails each allocation of the sequence in turn. Every failure shows, as a
// std::bad_alloc or a null from a factory; releasing what it left leaks
// nothing; and what it left goes on to the end of the sequence as if nothing
// had failed: each writer, given the writes that did not return, holds what
// a whole run writes; each reader gives the values it has not delivered,
// from the one after the last delivered, or, when the failure came in its
// read, from the one after that (or the same, when a text reader could not
// get a blob's block).
TEST(AllocationFailure, EveryAllocationOfASequenceFailsInTurn) {
  Objects whole;
  injector = Injector{true};
  Sequence(whole);
  const Injector counted = injector;
  injector.armed = false;
  EXPECT_GT(counted.reallocs, 0u);  // the wrapped paths are reached
  EXPECT_EQ(whole.read[1].size(), size_t{kWrites});
  EXPECT_EQ(whole.read[0], whole.read[1]);

  for (uint64_t n = 1; n <= counted.count; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(counted.count));
    Objects o;
    bool threw = false;
    injector = Injector{true, 0, n};
    try {
      Sequence(o);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    injector.armed = false;
    ASSERT_GE(injector.count, n);
    EXPECT_TRUE(threw || !o.writers[0] || !o.writers[1] || !o.readers[0] || !o.readers[1]);
    for (int w = 0; w < 2; ++w) {
      if (!o.writers[w]) continue;
      for (int i = o.written[w]; i < kWrites; ++i) Write(o.writers[w], i);
      EXPECT_EQ(o.writers[w].bytes(), whole.writers[w].bytes()) << "writer " << w;
    }
    for (int r = 0; r < 2; ++r) {
      if (!o.readers[r] || !o.writers[r]) continue;  // reader r reads writer r's output
      const Seen& all = whole.read[r];
      const size_t k = std::min(o.read[r].size(), all.size());
      EXPECT_EQ(o.read[r], Seen(all.begin(), all.begin() + k));
      Seen rest;
      ReadAll(o.readers[r], rest);
      const bool in_read = o.reading == r;
      const bool at_blob = k < all.size() && all[k][0] == 'x';
      EXPECT_TRUE(rest == Seen(all.begin() + std::min(k + in_read, all.size()), all.end()) ||
                  (in_read && at_blob && rest == Seen(all.begin() + k, all.end())))
          << "reader " << r << " after " << k << " values";
    }
  }
}

}  // namespace

#endif  // QKXDR_INJECT_ALLOCATION_FAILURE
