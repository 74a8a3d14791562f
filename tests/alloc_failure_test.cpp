// Allocation failure. The library catches no std::bad_alloc: it reaches the
// caller, and every object stays usable (docs/robustness.md, "When memory
// runs out").
// - alloc_failure_tests links the library's objects and defines
//   QKXDR_INJECT_ALLOCATION_FAILURE: operator new, and malloc and realloc
//   through the linker's --wrap, fail at the Nth allocation of a sequence of
//   calls, for every N the sequence reaches. After each failure the objects
//   that exist are checked against what a run without failure gives.
// - alloc_boundary_tests links the shared library: a request the library
//   must refuse throws std::bad_alloc from inside it to the caller, and a
//   damaged string length reaches the caller's allocator as it is.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QkXDR.hpp"
#include "test_allocator.h"

// An exception raised inside the 32-bit Windows DLL cannot reach its caller:
// each module's copy of the unwinder knows only its own frames, so the DLL's
// runtime ends the process instead.
#if defined(_WIN32) && defined(__i386__) && !defined(QKXDR_INJECT_ALLOCATION_FAILURE)
#define EXPECT_BAD_ALLOC(statement) EXPECT_DEATH(statement, "std::bad_alloc")
#else
#define EXPECT_BAD_ALLOC(statement) EXPECT_THROW(statement, std::bad_alloc)
#endif

namespace {

// A view declaring 4 GiB - 1 bytes over one: both writers must refuse it
// before reading a byte, since their output could not report its size.
// Each writer throws std::bad_alloc, keeps what it had, and goes on.
TEST(AllocationFailure, CallerCatchesWhatTheLibraryThrows) {
  const uint8_t byte = 1;
  qkxdr::Writer writers[] = {qkxdr::BinaryWriter(), qkxdr::TextWriter()};
  qkxdr::Writer expected[] = {qkxdr::BinaryWriter(), qkxdr::TextWriter()};
  for (int w = 0; w < 2; ++w) {
    writers[w].write(1);
    EXPECT_BAD_ALLOC(writers[w].write(&byte, UINT32_MAX));
    writers[w].write(2);
    expected[w].write(1);
    expected[w].write(2);
    EXPECT_EQ(writers[w].bytes(), expected[w].bytes()) << w;
  }
}

class ThrowingAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t) override { throw std::bad_alloc(); }
};

// 16 bytes whose string length says 2^32 - 1: the C interface asks the
// caller's allocator for that many units (8 GiB of UTF-16). An allocator
// that throws sends the exception through the library, which stays on the
// string; one that refuses has the string passed over. The C++ layer asks
// for nothing beyond the input.
TEST(AllocationFailure, DamagedLengthReachesTheCallersAllocator) {
  const uint8_t input[16] = {0xA8, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0xE1, 0xE2,
                             0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA};
  QkXDRIStream2* in = QkXDRCreateIStream2(input, sizeof input);
  ThrowingAllocator throwing;
  EXPECT_BAD_ALLOC(in->ReadString(&throwing));
  TestAllocator allocator;  // records, and refuses counts above 2^20
  EXPECT_TRUE(in->ReadString(&allocator));
  EXPECT_EQ(allocator.requests, std::vector<uint32_t>{UINT32_MAX});
  EXPECT_FALSE(in->IsValid());
  in->Release();
  qkxdr::BinaryReader reader(input, sizeof input);
  EXPECT_EQ(reader.read_u16string(), std::nullopt);
}

}  // namespace

#if defined(QKXDR_INJECT_ALLOCATION_FAILURE)

namespace {

// Counts allocations while armed and fails the one numbered fail_at.
struct Injector {
  bool armed = false;
  uint64_t count = 0;
  uint64_t fail_at = 0;
  uint64_t reallocs = 0;  // counted ones that went through realloc
};
Injector injector;

bool NextFails() { return injector.armed && ++injector.count == injector.fail_at; }

}  // namespace

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
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new(size_t size) {
  void* block = operator new(size, std::nothrow);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

// Values in a comparable form: "[", "]", "i<n>", "d<x>", "s<units>", "x<bytes>".
using Values = std::vector<std::string>;

// Nesting deep enough for the text reader's open arrays to leave the room
// inside it and then to grow on the heap.
constexpr int kDepth = 16;
constexpr int kValues = 6;
constexpr int kWrites = 2 * kDepth + kValues;

const std::u16string kUnits(300, u'u');  // each of these grows both writers
const std::string kChars(300, 'c');
const std::vector<uint8_t> kBytes(700, 0xA5);

// Write i of the sequence: kDepth openings, the values, kDepth closings.
void Write(qkxdr::Writer& w, int i) {
  if (i < kDepth) {
    w.begin_array();
    return;
  }
  if (i >= kDepth + kValues) {
    w.end_array();
    return;
  }
  switch (i - kDepth) {
    case 0:
      w.write(7);
      break;
    case 1:
      w.write(int64_t{5000000000});
      break;
    case 2:
      w.write(0.5);
      break;
    case 3:
      w.write(kUnits);
      break;
    case 4:
      w.write(kChars);
      break;
    default:
      w.write(kBytes);
      break;
  }
}

qkxdr::Writer NewWriter(int w) {
  return w == 0 ? qkxdr::Writer(qkxdr::BinaryWriter()) : qkxdr::Writer(qkxdr::TextWriter());
}

// Reads the current value; a blob goes to `kept`, a copy sharing it.
std::string ReadOne(qkxdr::Reader& r, qkxdr::Blob& kept) {
  switch (r.peek_type()) {
    case qkxdr::Type::ArrayBegin:
      return r.begin_array() ? "[" : "?";
    case qkxdr::Type::ArrayEnd:
      return r.end_array() ? "]" : "?";
    case qkxdr::Type::Int:
      return "i" + std::to_string(r.read_int64().value());
    case qkxdr::Type::Double:
      return "d" + std::to_string(r.read_double().value());
    case qkxdr::Type::String: {
      const std::u16string s = r.read_u16string().value();
      return "s" + std::string(s.begin(), s.end());
    }
    case qkxdr::Type::Binary: {
      kept = r.read_blob().value();
      const std::vector<uint8_t> bytes = kept.to_vector();
      return "x" + std::string(bytes.begin(), bytes.end());
    }
    default:
      r.read_type();
      return "?";
  }
}

// Reads values into `out` until the reader has none. Where a text reader
// stands on no value, ReadType steps on once (past the token a failed step
// could not scan, which it scans again).
void ReadAll(qkxdr::Reader& r, Values& out, qkxdr::Blob& kept) {
  while (true) {
    if (!r.valid()) r.read_type();
    if (!r.valid()) return;
    out.push_back(ReadOne(r, kept));
  }
}

// Records the events of a parse.
struct Events {
  Values& out;
  void on_double(double v) { out.push_back("d" + std::to_string(v)); }
  void on_int(int32_t v) { out.push_back("i" + std::to_string(v)); }
  void on_string(std::u16string_view s) { out.push_back("s" + std::string(s.begin(), s.end())); }
  void on_begin_array() { out.push_back("["); }
  void on_end_array() { out.push_back("]"); }
};

// The objects of the sequence, and how far it got with each.
struct Objects {
  int nulls = 0;  // factories that returned null
  qkxdr::Writer writers[2];
  int written[2] = {0, 0};
  std::vector<uint8_t> bytes;
  std::u16string text;
  qkxdr::Reader readers[2];
  Values read[2];
  int reading = -1;  // the reader whose ReadAll runs
  qkxdr::Blob kept[2];
  Values parsed;
};

template <typename Stream>
void CreateAndRelease(Objects& o, Stream* stream) {
  if (stream == nullptr) {
    ++o.nulls;
  } else {
    stream->Release();
  }
}

// Every factory, the writes through both writers, both readers reading
// everything back, and a parse of the text.
void Sequence(Objects& o) {
  const uint8_t byte = 0;
  CreateAndRelease(o, QkXDRCreateOStream());
  CreateAndRelease(o, QkXDRCreateTextOStream());
  CreateAndRelease(o, QkXDRCreateIStream(&byte, 1));
  CreateAndRelease(o, QkXDRCreateTextIStream(u"'first value'", 13));
  for (int w = 0; w < 2; ++w) {
    o.writers[w] = NewWriter(w);
    o.nulls += !o.writers[w];
  }
  for (int i = 0; i < kWrites; ++i) {
    for (int w = 0; w < 2; ++w) {
      Write(o.writers[w], i);
      ++o.written[w];
    }
  }
  o.bytes = o.writers[0].bytes();
  const auto* units = static_cast<const char16_t*>(o.writers[1].data());
  o.text.assign(units, units + o.writers[1].size() / 2);
  o.readers[0] = qkxdr::BinaryReader(o.bytes);
  o.readers[1] = qkxdr::TextReader(o.text);
  for (int r = 0; r < 2; ++r) {
    o.nulls += !o.readers[r];
    o.reading = r;
    ReadAll(o.readers[r], o.read[r], o.kept[r]);
  }
  o.reading = -1;
  qkxdr::parse_text(o.text, Events{o.parsed});
}

// The first n values, and the values from the nth on (fewer when there are not so many).
Values Head(const Values& values, size_t n) {
  return Values(values.begin(),
                values.begin() + static_cast<std::ptrdiff_t>(std::min(n, values.size())));
}
Values Tail(const Values& values, size_t n) {
  return Values(values.begin() + static_cast<std::ptrdiff_t>(std::min(n, values.size())),
                values.end());
}

// Checks what a failure left: each writer holds the writes that returned
// and carries on as one that never failed; each reader has delivered values
// in order and goes on after them, or, when the failure came in its read,
// after the value it was reading (still with it when that was a blob whose
// block a text reader could not get); the parse reported a prefix of its
// events; kept blobs hold the whole blob.
void Check(Objects& o) {
  for (int w = 0; w < 2; ++w) {
    if (!o.writers[w]) continue;
    qkxdr::Writer expected = NewWriter(w);
    for (int i = 0; i < o.written[w]; ++i) Write(expected, i);
    EXPECT_EQ(o.writers[w].bytes(), expected.bytes()) << "writer " << w;
    for (int i = o.written[w]; i < kWrites; ++i) {
      Write(o.writers[w], i);
      Write(expected, i);
    }
    EXPECT_EQ(o.writers[w].bytes(), expected.bytes()) << "writer " << w << " afterwards";
  }
  for (int r = 0; r < 2; ++r) {
    if (!o.readers[r]) continue;
    qkxdr::Reader fresh = r == 0 ? qkxdr::Reader(qkxdr::BinaryReader(o.bytes))
                                 : qkxdr::Reader(qkxdr::TextReader(o.text));
    Values all, rest;
    qkxdr::Blob blob;
    ReadAll(fresh, all, blob);
    const size_t n = o.read[r].size();
    EXPECT_EQ(o.read[r], Head(all, n));
    ReadAll(o.readers[r], rest, blob);
    const bool in_read = o.reading == r;
    const bool at_blob = n < all.size() && all[n][0] == 'x';
    EXPECT_TRUE(in_read ? rest == Tail(all, n + 1) || (at_blob && rest == Tail(all, n))
                        : rest == Tail(all, n))
        << "reader " << r << " after " << n << " values";
    EXPECT_TRUE(o.kept[r].empty() || o.kept[r].to_vector() == kBytes) << "reader " << r;
  }
  Values events;
  qkxdr::parse_text(o.text, Events{events});
  EXPECT_EQ(o.parsed, Head(events, o.parsed.size()));
}

// Fails each allocation of the sequence in turn. Every failure shows, as a
// std::bad_alloc or a null from a factory, and leaves objects that pass
// Check; releasing them (at the end of each round) leaks nothing.
TEST(AllocationFailure, EveryAllocationOfASequenceFailsInTurn) {
  Objects whole;
  injector = Injector{true};
  Sequence(whole);
  const Injector counted = injector;
  injector.armed = false;
  EXPECT_EQ(whole.nulls, 0);
  EXPECT_GT(counted.reallocs, 0u);  // the wrapped paths are reached
  EXPECT_EQ(whole.read[1].size(), 2u * kDepth + kValues);
  EXPECT_EQ(whole.read[0], whole.read[1]);
  EXPECT_EQ(whole.parsed.size(), whole.read[1].size());

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
    EXPECT_TRUE(threw || o.nulls > 0);
    Check(o);
  }
}

}  // namespace

#endif  // QKXDR_INJECT_ALLOCATION_FAILURE
