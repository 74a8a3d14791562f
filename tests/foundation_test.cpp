// Decodings of data no writer produces, the growable buffer, the blob slot's
// dispatch table, and XDRAssert. (The binary streams' tests cover the rest of
// the coding and the skips; the blob fuzz target covers the blob slots.)

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "qkxdr/detail/base/assert.h"
#include "qkxdr/detail/base/blob_buffer.h"
#include "qkxdr/detail/base/inline_buffer.h"
#include "qkxdr/detail/binary/binary_encoder.h"
#include "qkxdr/detail/binary/coding.h"
#include "test_values.h"

namespace qkxdr::impl {
namespace {

using test_values::Bytes;
using test_values::Hex;

// The value (for width 0 a double's bits), the bytes consumed and whether it
// was complete.
std::tuple<uint64_t, size_t, bool> Get(int width, const Bytes& bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* e = p + bytes.size();
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  uint64_t v64 = 0;
  double d = 0;
  const uint8_t* after = width == 0    ? GetDouble(p, e, &d)
                         : width <= 16 ? GetVarint16(p, e, &v16)
                         : width == 32 ? GetVarint32(p, e, &v32)
                                       : GetVarint64(p, e, &v64);
  const bool complete = width == 0 ? DoubleComplete(p, e) : VarintComplete(p, after);
  return {v16 | v32 | v64 | BitsOf(d), after - p, complete};
}

// Varints are read up to their terminating byte, also overlong ones, bits
// beyond the width dropped; one cut off by the end gives the bits gathered so
// far. A double cut off by the end reads as 0.
TEST(Coding, VarintDecodings) {
  const struct {
    int width;
    const char* hex;
    uint64_t value;
    size_t consumed;
    bool complete;
  } cases[] = {{32, "80", 0, 1, true},
               {32, "7F 7F 7F 7F 8F", 0xFFFFFFFF, 5, true},
               {16, "69 81", 0xE9, 2, true},
               {32, "01 00 00 00 00 81", 1, 6, true},
               {32, "00 00 00 00 00 C0", 0, 6, true},
               {16, "7F 7F 87", 0xFFFF, 3, true},
               {64, "7F*9 FF", UINT64_MAX, 10, true},
               {32, "7F 01", 0xFF, 2, false},
               {32, "00*6", 0, 6, false},
               {64, "", 0, 0, false},
               {0, "00*6 F0 3F", 0x3FF0000000000000, 8, true},
               {0, "00*6 F0", 0, 7, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Get(c.width, Hex(c.hex)), std::make_tuple(c.value, c.consumed, c.complete)) << c.hex;
  }
}

// A buffer with the binary writer's room taken to each row's size (appending
// numbered bytes, or Resize): past its capacity it moves to a heap block of
// floor(size * 3 / 2), at most the limit; it never shrinks; past the limit
// it throws and changes nothing.
TEST(InlineBuffer, GrowthFigures) {
  InlineBuffer<uint8_t, kOutputRoom, 1600> buffer;
  const struct {
    uint32_t size;
    uint32_t capacity;
  } rows[] = {{0, 500},     {500, 500}, {501, 751},   {1003, 1504},
              {1504, 1504}, {2, 1504},  {1600, 1600}, {1601, 1600}};
  Bytes numbers(1601);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<uint8_t>(i * 7);
  for (const auto& row : rows) {
    const uint32_t before = buffer.size();
    if (row.size < before) {
      buffer.Resize(row.size);
    } else if (row.size <= buffer.max_size()) {
      buffer.Append(numbers.data() + before, row.size - before);
    } else {
      EXPECT_THROW(buffer.Append(numbers.data() + before, row.size - before), std::bad_alloc);
    }
    EXPECT_EQ(buffer.capacity(), row.capacity) << row.size;
    EXPECT_EQ(buffer.on_heap(), row.capacity > kOutputRoom) << row.size;
    ASSERT_EQ(Bytes(buffer.data(), buffer.data() + buffer.size()),
              Bytes(numbers.begin(), numbers.begin() + std::min(row.size, buffer.max_size())));
  }
}

// Member functions take the object first, on 32-bit Windows in a register
// (thiscall, which GCC applies to plain functions under a pedantic warning).
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

// The slot's first word points at four entries: destroy, clone, size, data.
// Called through them, a view over an encoded blob (its length varint and
// bytes, cut short at the end of the data) and an owner answer as the exports
// do; a clone reads the same, and destroying it gives its reference back.
TEST(Blob, DispatchTableOrder) {
  const uint8_t encoded[] = {0x83, 0x01, 0x02, 0x03, 0x54};
  QkXDRBinary views[2], owner{};
  const auto* whole =
      new (&views[0]) qkxdr::impl::shallow_binary(encoded, encoded + sizeof encoded);
  const auto* cut = new (&views[1]) qkxdr::impl::shallow_binary(encoded, encoded + 3);
  EXPECT_TRUE(whole->data() == encoded + 1 && whole->size() == 3u && whole->end() == encoded + 4);
  EXPECT_TRUE(cut->data() == encoded + 1 && cut->size() == 2u && cut->end() == encoded + 3);
  const auto* block = new (&owner) qkxdr::impl::deep_binary(5);
  for (const QkXDRBinary* slot : {&views[0], &views[1], &owner}) {
    BlobTable table;
    std::memcpy(&table, slot->words[0], sizeof table);
    EXPECT_TRUE(table.size(slot) == QkXDRBinarySize(slot) &&
                table.data(slot) == QkXDRBinaryData(slot));
    QkXDRBinary copy{};
    EXPECT_EQ(table.clone(slot, &copy), static_cast<void*>(&copy));
    EXPECT_TRUE(QkXDRBinarySize(&copy) == QkXDRBinarySize(slot) &&
                QkXDRBinaryData(&copy) == QkXDRBinaryData(slot));
    table.destroy(&copy);
  }
  EXPECT_EQ(block->references(), 1u);
  QkXDRBinaryFree(&owner);
}

// The text is "<message> (<code>)", cut to fit with its terminator. The
// report, in a child process: on POSIX to standard error, '?' for units
// beyond ASCII, then abort(); on Windows a vectored exception handler copies
// what reaches the debugger output to standard error, and the process must
// end with the assertion-failure exception.
TEST(XDRAssert, TextFormat) {
  char16_t text[kAssertTextUnits];
  FormatAssertText("f <= dc.l", -1, text);
  EXPECT_EQ(std::u16string(text), u"f <= dc.l (-1)");
  FormatAssertText(std::string(2000, 'x').c_str(), 7, text);
  EXPECT_EQ(std::u16string(text), std::u16string(kAssertTextUnits - 1, u'x'));
}

#if defined(_WIN32)
constexpr DWORD kWideDebugString = 0x4001000A;
constexpr DWORD kNarrowDebugString = 0x40010006;

LONG CALLBACK EchoDebugOutput(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode == kWideDebugString) {
    std::fprintf(stderr, "debugger output: %ls\n",
                 reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]));
  } else if (record->ExceptionCode == kNarrowDebugString) {
    std::fprintf(stderr, "debugger output: %s\n",
                 reinterpret_cast<const char*>(record->ExceptionInformation[1]));
  } else if (record->ExceptionCode == STATUS_ASSERTION_FAILURE) {
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), STATUS_ASSERTION_FAILURE);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(XDRAssertDeathTest, ReportsToDebuggerAndRaises) {
  EXPECT_EXIT(
      {
        AddVectoredExceptionHandler(1, EchoDebugOutput);
        XDRAssert(true, "never shown");
        SetLastError(5);
        XDRAssert(false, "ret->imp");
      },
      testing::ExitedWithCode(static_cast<int>(STATUS_ASSERTION_FAILURE)),
      "debugger output: ret->imp \\(5\\)");
}
#else
TEST(XDRAssertDeathTest, ReportsAndStops) {
  EXPECT_DEATH(
      {
        XDRAssert(true, "never shown");
        errno = 5;
        XDRAssert(false, "ret->imp\x80");
      },
      "QkXDR Error: ret->imp\\? \\(5\\)\n");
}
#endif

}  // namespace
}  // namespace qkxdr::impl
