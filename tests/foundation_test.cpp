// Decodings of data no writer produces, the growable buffer, the blob slot's
// dispatch table, XDRAssert, and the lossless mapping between UTF-8 and
// UTF-16. (The binary streams' tests cover the rest of the coding and the
// skips; the blob fuzz target covers the blob slots.)

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
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "int_kernel_agreement.h"
#include "qkxdr/detail/base/assert.h"
#include "qkxdr/detail/base/blob_buffer.h"
#include "qkxdr/detail/base/inline_buffer.h"
#include "qkxdr/detail/base/utf8.h"
#include "qkxdr/detail/binary/binary_encoder.h"
#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/run_state.h"
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

// Every integer kernel this processor runs decodes and encodes as the scalar
// one: runs of one-byte varints, of mixed lengths, of long and overlong ones
// (values beyond 32 bits, varints beyond a word), cut anywhere, as int32_t
// and int64_t.
TEST(IntKernels, AgreeWithTheScalarKernel) {
  std::mt19937_64 rng(7);
  // The longest varint of each kind of data, and the bits of its last byte:
  // 0x01 keeps the values below 256, one-byte ones and others mixed.
  const struct {
    int longest;
    uint8_t last;
  } kinds[] = {{1, 0x7F}, {2, 0x01}, {3, 0x7F}, {5, 0x7F}, {10, 0x7F}, {12, 0x7F}};
  int ran = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    const auto& kind = kinds[trial % 6];
    Bytes data;
    while (data.size() < 160) {
      for (auto n = rng() % kind.longest; n != 0; --n) data.push_back(rng() & 0x7F);
      data.push_back(static_cast<uint8_t>(0x80 | (rng() & kind.last)));
    }
    const uint8_t* const e = data.data() + rng() % (data.size() + 1);
    const size_t k = 1 + rng() % kMaxRunLength;
    EXPECT_EQ(int_kernels::Disagreeing<int32_t>(data.data(), e, k, &ran), "") << trial;
    EXPECT_EQ(int_kernels::Disagreeing<int64_t>(data.data(), e, k, &ran), "") << trial;
  }
  std::string kernels;
  for (const IntKernel kernel : int_kernels::kAll) {
    if (IntKernelRuns(kernel)) kernels += int_kernels::Name(kernel) + " ";
  }
  RecordProperty("kernels", kernels);
  std::printf("kernels run: %s(%d runs)\n", kernels.c_str(), ran);
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

// Text as hex: bytes "C3 A9", units "00E9 DC80".
std::string Utf8(const std::string& hex) {
  const Bytes bytes = Hex(hex);
  return {bytes.begin(), bytes.end()};
}

std::u16string Utf16(const std::string& hex) {
  std::u16string units;
  std::istringstream in(hex);
  for (std::string word; in >> word;) {
    units.push_back(static_cast<char16_t>(std::stoul(word, nullptr, 16)));
  }
  return units;
}

unsigned CodeOf(char byte) { return static_cast<unsigned char>(byte); }
unsigned CodeOf(char16_t unit) { return unit; }

template <typename Text>
std::string Dump(const Text& text) {
  std::string dump;
  for (const auto c : text) {
    char word[8];
    std::snprintf(word, sizeof word, sizeof c == 1 ? " %02X" : " %04X", CodeOf(c));
    dump += word;
  }
  return dump;
}

// A scalar value's UTF-8 and UTF-16 forms, from the encoding rules.
void AppendScalar(uint32_t c, std::string* utf8, std::u16string* utf16) {
  const int length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  const unsigned lead_marks[] = {0, 0, 0xC0, 0xE0, 0xF0};
  utf8->push_back(static_cast<char>(lead_marks[length] | c >> 6 * (length - 1)));
  for (int k = length - 2; k >= 0; --k) {
    utf8->push_back(static_cast<char>(0x80 | (c >> 6 * k & 0x3F)));
  }
  if (c < 0x10000) {
    utf16->push_back(static_cast<char16_t>(c));
  } else {
    utf16->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    utf16->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Each row maps to the other both ways. Well-formed text maps as usual; a
// byte that begins nothing well-formed is its escape DC00 + byte; the triple
// ED A0..BF xx of a surrogate is that unit, unless a high one would pair up
// with a low unit after it, or an escape's byte would be read back as itself.
// And every scalar value, all in one string, maps as usual.
TEST(Utf8Utf16, MapsTextAndEscapes) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } rows[] = {
      {"", u""},
      {Utf8("00 41 7F"), Utf16("0000 0041 007F")},
      {Utf8("C2 80 DF BF E0 A0 80 ED 9F BF EE 80 80 EF BF BF"),
       Utf16("0080 07FF 0800 D7FF E000 FFFF")},
      {Utf8("F0 90 80 80 F4 8F BF BF"), Utf16("D800 DC00 DBFF DFFF")},
      {"Z\xC3\xBCrich \xE2\x98\x83", u"Z\u00FCrich \u2603"},
      {"\xF0\x9F\x98\x80!", u"\U0001F600!"},
      // Stray continuations, overlongs, cut sequences, bytes that lead nothing.
      {Utf8("80 BF 41 A9"), Utf16("DC80 DCBF 0041 DCA9")},
      {Utf8("C0 80 C1 BF E0 9F BF F0 8F BF BF"),
       Utf16("DCC0 DC80 DCC1 DCBF DCE0 DC9F DCBF DCF0 DC8F DCBF DCBF")},
      {Utf8("C3 E2 98 41 F0 9F 98"), Utf16("DCC3 DCE2 DC98 0041 DCF0 DC9F DC98")},
      {Utf8("F4 90 80 80 F5 FF"), Utf16("DCF4 DC90 DC80 DC80 DCF5 DCFF")},
      // Surrogates by themselves, and runs of high ones before what stays apart.
      {Utf8("ED A0 80 41 ED B0 80 ED BF BF"), Utf16("D800 0041 DC00 DFFF")},
      {Utf8("ED B1 BF ED B4 80"), Utf16("DC7F DD00")},
      {Utf8("ED A0 80 ED AF BF"), Utf16("D800 DBFF")},
      {Utf8("ED A0 80 ED AF BF C3 A9 ED A0 80 41"), Utf16("D800 DBFF 00E9 D800 0041")},
      // A high triple's run before a low unit is escaped, byte by byte.
      {Utf8("ED A0 80 ED B0 80"), Utf16("DCED DCA0 DC80 DC00")},
      {Utf8("ED A0 80 ED AF BF 80"), Utf16("DCED DCA0 DC80 DCED DCAF DCBF DC80")},
      // An escape is its byte unless the byte, there, would begin something.
      {Utf8("ED B3 83 A9 C3"), Utf16("DCC3 DCA9 DCC3")},
      {Utf8("ED B3 B0 9F 98 80"), Utf16("DCF0 DC9F DC98 DC80")},
      {Utf8("ED B3 AD 9F BF"), Utf16("DCED DC9F DCBF")},
      {Utf8("ED B3 AD A0 80"), Utf16("DCED DCA0 DC80")},
      {Utf8("ED B3 AD B3 AD A0 80"), Utf16("DCED DCB3 DCAD DCA0 DC80")},
      {Utf8("ED B3 AD B3 83 A9"), Utf16("DCED DCB3 DC83 DCA9")},
      // A triple that spells the escape its byte would give is escaped.
      {Utf8("ED B2 A9 ED B3 83 ED B3 AD"), Utf16("DCED DCB2 DCA9 DCED DCB3 DC83 DCED DCB3 DCAD")},
  };
  std::u16string utf16;
  std::string utf8;
  for (const auto& row : rows) {
    Utf8ToUtf16(row.utf8, &utf16);
    EXPECT_EQ(Dump(utf16), Dump(row.utf16)) << Dump(row.utf8);
    Utf16ToUtf8(row.utf16, &utf8);
    EXPECT_EQ(Dump(utf8), Dump(row.utf8)) << Dump(row.utf16);
  }

  std::string every_utf8;
  std::u16string every_utf16;
  for (uint32_t c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    AppendScalar(c, &every_utf8, &every_utf16);
  }
  Utf8ToUtf16(every_utf8, &utf16);
  EXPECT_TRUE(utf16 == every_utf16);
  Utf16ToUtf8(every_utf16, &utf8);
  EXPECT_TRUE(utf8 == every_utf8);
}

// Converts both ways and counts what does not come back, the first reported.
class RoundTrips {
 public:
  void Bytes(const std::string& in) {
    Utf8ToUtf16(in, &units_);
    Utf16ToUtf8(units_, &bytes_);
    if (bytes_ != in) Fail(Dump(in) + " ->" + Dump(units_) + " ->" + Dump(bytes_));
  }
  void Units(const std::u16string& in) {
    Utf16ToUtf8(in, &bytes_);
    Utf8ToUtf16(bytes_, &units_);
    if (units_ != in) Fail(Dump(in) + " ->" + Dump(bytes_) + " ->" + Dump(units_));
  }
  // Valid text maps as usual.
  void Text(const std::string& utf8, const std::u16string& utf16) {
    Utf8ToUtf16(utf8, &units_);
    Utf16ToUtf8(utf16, &bytes_);
    if (units_ != utf16 || bytes_ != utf8) Fail(Dump(utf8) + " /" + Dump(utf16));
  }
  int failures() const { return failures_; }

 private:
  void Fail(const std::string& what) {
    if (failures_++ == 0) ADD_FAILURE() << what;
  }
  std::u16string units_;
  std::string bytes_;
  int failures_ = 0;
};

// Every concatenation of up to `count` pieces.
template <typename Text, typename Visit>
void ForEachConcatenation(const std::vector<Text>& pieces, size_t count, const Visit& visit) {
  std::vector<size_t> digits;
  Text text;
  do {
    text.clear();
    for (const size_t d : digits) text += pieces[d];
    visit(text);
    size_t k = 0;
    while (k < digits.size() && ++digits[k] == pieces.size()) digits[k++] = 0;
    if (k == digits.size()) digits.push_back(0);
  } while (digits.size() <= count);
}

template <typename Text>
std::vector<Text> Pieces(Text (*parse)(const std::string&), const std::string& list) {
  std::vector<Text> pieces;
  std::istringstream in(list);
  for (std::string piece; std::getline(in, piece, ',');) pieces.push_back(parse(piece));
  return pieces;
}

// Bytes to units to bytes, and units to bytes to units, give back what went
// in: for every string of up to four bytes or units that matter, every
// string of up to four pieces that make up runs and chains, and random
// strings of them; and random valid text maps as usual.
TEST(Utf8Utf16, RoundTripsEveryInput) {
  const auto bytes = Pieces(Utf8,
                            "00,41,7F,80,8F,90,9F,A0,A9,AF,B0,B2,B3,BF,C0,C2,C3,DF,E0,E2,ED,EF,"
                            "F0,F4,F5,FF");
  const auto units = Pieces(Utf16,
                            "0000,0041,007F,0080,00E9,2603,D800,DBFF,DC00,DC7F,DC80,DCA0,DCA9,"
                            "DCC3,DCE2,DCED,DCF0,DCFF,DD00,DFFF,E000,FFFF");
  const auto byte_runs = Pieces(Utf8,
                                "ED A0 80,ED AF BF,ED B3 AD,ED B3 83,ED B0 80,B3 AD,A0 80,80,C3,A9,"
                                "41,F0 90 80");
  const auto unit_runs = Pieces(Utf16,
                                "DCED DCA0 DC80,D800,DC00,DCED,DCB3 DCAD,DCB3,DCA0,DC80,DCC3,DCA9,"
                                "0041,DCF0 DC90 DC80");
  RoundTrips check;
  ForEachConcatenation(bytes, 4, [&](const std::string& s) { check.Bytes(s); });
  ForEachConcatenation(units, 4, [&](const std::u16string& s) { check.Units(s); });
  ForEachConcatenation(byte_runs, 4, [&](const std::string& s) { check.Bytes(s); });
  ForEachConcatenation(unit_runs, 4, [&](const std::u16string& s) { check.Units(s); });

  std::mt19937 random(20240611);
  const auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  const auto pick = [&](const auto& list) {
    return list[below(static_cast<uint32_t>(list.size()))];
  };
  const auto scalar = [&] {
    const uint32_t limits[] = {0x80, 0x800, 0x10000, 0x110000};
    const uint32_t c = below(limits[below(4)]);
    return c >= 0xD800 && c < 0xE000 ? c + 0x800 : c;
  };
  for (int i = 0; i < 10000; ++i) {
    std::string utf8, noise;
    std::u16string utf16, unit_noise;
    for (uint32_t n = below(24); n > 0; --n) {
      const uint32_t c = scalar();
      AppendScalar(c, &utf8, &utf16);
      switch (below(4)) {
        case 0:
          noise += pick(bytes);
          break;
        case 1:
          noise += pick(byte_runs);
          break;
        case 2:
          noise += static_cast<char>(below(256));
          break;
        default:
          AppendScalar(c, &noise, &unit_noise);  // valid text amid the noise, both ways
      }
      switch (below(4)) {
        case 0:
          unit_noise += pick(units);
          break;
        case 1:
          unit_noise += pick(unit_runs);
          break;
        case 2:
          unit_noise += static_cast<char16_t>(0xD800 + below(0x800));
          break;
        default:
          unit_noise += static_cast<char16_t>(below(0x10000));
      }
    }
    check.Text(utf8, utf16);
    check.Bytes(noise);
    check.Units(unit_noise);
  }
  EXPECT_EQ(check.failures(), 0);
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
