// The binary streams: byte-exact output of the writer, reading sessions on
// hand-made input, random sequences read back and cut anywhere, and the walk
// that shows damaged data item by item.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/binary/binary_decoder.h"
#include "qkxdr/detail/binary/item_walk.h"
#include "read_script.h"
#include "test_values.h"

namespace test_values {
namespace {

// The bytes of each sequence; before and after every write GetData and GetSize
// give a complete stream (a value that joins the last run rewrites its tag).
TEST(BinaryWriter, ByteExactVectors) {
  const struct {
    Values values;
    const char* hex;
  } cases[] = {
      {{}, ""},
      {{kBegin, I32(7), Str(u"ab"), kEnd}, "00 54 8E A8 82 E1 E2 2A"},
      {{I32(5), Dbl(0), I64(5)}, "54 8A 7E 00*8 54 8A"},
      {{I32(INT32_MIN), I32(INT32_MAX)}, "55 7F 7F 7F 7F 8F 7E 7F 7F 7F 8F"},
      {{I64(INT64_MIN), I64(INT64_MAX), I64(INT32_MIN)}, "56 7F*9 81 7E 7F*8 81 7F 7F 7F 7F 8F"},
      {{I32(64), I32(-64), I32(300), I64(int64_t{1} << 40), I64(-(int64_t{1} << 33) - 7)},
       "58 00 81 FF 58 84 00 00 00 00 00 C0 0D 00 00 00 C0"},
      {Times(42, I32(0)), "7D 80*42"},
      {Times(43, I32(0)), "7D 80*42 54 80"},
      {Times(43, kBegin), "29 00"},
      {Times(43, kEnd), "53 2A"},
      {{kBegin, kBegin, kEnd, kEnd}, "01 2B"},
      {Times(43, Dbl(0)), "A7 00*336 7E 00*8"},
      {Times(43, StrA("")), "D1 80*42 A8 80"},
      {Times(43, Blob({})), "FB 80*42 D2 80"},
      {{Dbl(INFINITY), Dbl(std::nan("7"))}, "7F 00*6 F0 7F 07 00*5 F8 7F"},
      {{StrA("\x01\x7F\x80\xFF")}, "A8 84 81 FF 00 81 7F 81"},
      {{Str(u"\u20AC"), Str(u"\uFFFF")}, "A9 81 2C C1 81 7F 7F 83"},
      {{Str(u"\u007F\u0080\u3FFF\u4000\U0001F600")},
       "A8 86 FF 00 81 7F FF 00 00 81 3D 30 83 00 3C 83"},
      {{Str(std::u16string(33, u'a'))}, "A8 A1 E1*33"},  // past a round of 32 units
      {{StrA(std::string(40, 'a') + "\xE9")}, "A8 A9 E1*40 69 81"},
      {{Blob({1, 2, 3}), Blob({})}, "D3 83 01 02 03 80"},
      {{Blob(Bytes(498, 7)), I32(1)}, "D2 72 83 07*498 54 82"},  // the blob fills the room
      {{kBegin, I32(-2), StrA("a"), Dbl(0.5), Blob({0xFF}), Str(u"b"), kEnd, I64(-1)},
       "00 54 83 A8 81 E1 7E 00 00 00 00 00 00 E0 3F D2 81 FF A8 81 E2 2A 54 81"},
  };
  for (const auto& c : cases) {
    QkXDROStream2* w = QkXDRCreateOStream2();
    for (size_t k = 0; k < c.values.size(); ++k) {
      const auto* data = static_cast<const uint8_t*>(w->GetData());
      EXPECT_EQ(Bytes(data, data + w->GetSize()),
                Encode(QkXDRCreateOStream2(), Values(c.values.begin(), c.values.begin() + k)))
          << c.hex;
      Write(w, c.values[k]);
    }
    EXPECT_EQ(Encode(w, {}), Hex(c.hex));
  }
  // Null strings, a null slot and a view on null data are written empty.
  QkXDROStream2* w = QkXDRCreateOStream2();
  EXPECT_TRUE(w->GetData() == nullptr && w->GetSize() == 0);
  QkXDRBinary null_data{};
  QkXDRBinaryAttach(&null_data, nullptr, 5);
  w->WriteString(nullptr);
  w->WriteStringA(nullptr);
  w->WriteBinary(nullptr);
  w->WriteBinary(&null_data);
  EXPECT_EQ(Encode(w, {}), Hex("A9 80 80 D3 80 80"));
}

// Strings of every length up to past two rounds of 32 units, all ASCII or
// with one wider unit at any position (rounds of units below 0x80 are coded
// whole), read back whole and as low bytes.
TEST(BinaryWriter, StringsOfEveryLengthAndMix) {
  for (uint32_t length = 0; length <= 70; ++length) {
    for (uint32_t at = 0; at <= length; ++at) {  // at == length: all ASCII
      std::u16string wide;
      for (uint32_t i = 0; i < length; ++i) wide += i == at ? u'\u20AC' : u'!' + i % 90;
      const std::string narrow(wide.begin(), wide.end());  // U+20AC as the byte 0xAC
      const Values values = {Str(wide), StrA(narrow)};
      const Bytes bytes = Encode(QkXDRCreateOStream2(), values);
      QkXDRIStream2* r = Open<QkXDRIStream2>(bytes);
      EXPECT_EQ(ReadOne(r, Read::AsNarrow), AsRead(values[0], Read::AsNarrow, true)) << at;
      EXPECT_EQ(ReadOne(r), Delivered(values[1])) << "length " << length << ", at " << at;
      r->Release();
    }
  }
}

// A failed read leaves the cursor and the run; the cursor moves only forward
// and stays within [data, data + size).
template <typename I>
auto Checked(const uint8_t* data, size_t size) {
  return [data, size, last = data](I* r) mutable {
    EXPECT_TRUE(Decoder(r).dc.p >= last && Decoder(r).dc.p <= data + size);
    last = Decoder(r).dc.p;
    return StateOf(r);
  };
}

template <typename I>
std::string Script(const Bytes& input, const std::string& ops) {
  I* r = Open<I>(input);
  const std::string results = read_script::Run(r, ops, Checked<I>(input.data(), input.size()));
  r->Release();
  return results;
}

// Sessions by hand: arrays and Skip, ReadType, unknown tags, strings, blobs,
// and data cut off by the end of the input.
TEST(BinaryReader, Scripts) {
  const struct {
    int generation;
    const char* input;
    const char* ops;
    const char* results;
  } cases[] = {
      {2, "00 2A", "Peek End Begin End Valid Peek End Int",
       "ArrayBegin no yes yes 0 ArrayEnd no no"},
      {2, "56 82 84 86", "Int Int Valid Int Valid", "1 2 1 3 0"},  // one tag for three
      {2, "00 54 82 00 55 84 86 2A A8 81 F8 2A 54 88", "Begin Skip Int Valid", "yes - 4 0"},
      {2, "01 54 82 2B", "Begin Begin Skip Peek End Valid", "yes yes - ArrayEnd yes 0"},
      {2, "54 82", "Skip Valid Peek", "- 0 Int"},  // Skip outside every array
      {2, "00 56 82 84 86 2A 54 88", "Begin Int Skip Int", "yes 1 - 4"},
      {2, "00 55 82 84 7F 00*16 A9 82 E1 E2 80 D3 83 01 02 03 80 FC 2A 54 8A", "Begin Skip Int",
       "yes - 5"},  // Skip over runs of every payload type and an unknown tag
      {2, "29 54 82 53 2A 54 84", "Begin Skip Peek End Int", "yes - ArrayEnd yes 2"},
      {2, "53 54 82", "Skip Peek Type Valid Skip Int", "- ArrayEnd ArrayEnd 1 - no"},
      {2, "00 00 54 82 2A", "Begin Skip Valid", "yes - 0"},  // the end missing
      {2, "FF 2A 54 82", "Skip Int", "- 1"},
      {2, "00 54 82 A8 81 E1 7E 00*8 D2 81 FF FC 2A", "Type*7 Valid Type Valid",
       "ArrayBegin Int String Double Binary None ArrayEnd 0 ArrayEnd 0"},
      {2, "FD 54 82", "Valid Peek Int Int64 Double Str StrA Bin Begin End Type Peek Type Int",
       "1 None no no no no no no no no None None None 1"},  // a None value is a current value
      {1, "FF", "Peek Int Str Type*4 Valid Type", "None no no None None None None 0 None"},
      {1, "D2 81 FF 54 82", "Peek Int Double Str Begin End Type Int",
       "None no no no no no None 1"},  // a blob, first generation
      {2, "A9 82 E1 E2 82 7F 7F 83 2C C1", "StrA Str Valid", "[61 62] [FFFF 20AC] 0"},
      {2, "A9 82 E1 E2 81 E3", "StrNull Str Valid", "refused [0063] 0"},
      {2, "D3 83 01 02 03 80 54 82", "Bin Bin Int", "[01 02 03] [] 1"},
      // A number, length or size cut off by the end is not delivered; string
      // units are delivered as far as they go.
      {2, "54 00", "Int Int64 Double Peek Type Valid", "no no no Int Int 0"},
      {2, "7E 00 00 00", "Int Double Peek Type Valid", "no no Double Double 0"},
      {2, "A8 00", "Str StrA Peek Type Valid", "no no String String 0"},
      {2, "A8 83 E1 E2", "Str", "[0061 0062 CCCC]"},
      {2, "A8 83 E1 00", "StrA Valid", "[61 00 CC] 0"},
      {2, "D2 00", "Bin Peek Type Valid", "no Binary Binary 0"},
      {2, "D2 83 01 02", "Bin Type Valid", "no Binary 0"},
      // 2.5 and -2.5 read as integers are truncated toward zero.
      {2, "7F 00*6 04 40 00*6 04 C0", "Int Int64 Valid", "2 -2 0"},
      {1, "7F 00*6 04 40 00*6 04 C0", "Int Double Valid", "2 -2.5 0"},
      {2, "56 82", "Int Valid Int Peek Type Valid Type Valid", "1 1 no Int Int 1 Int 0"},
      {2, "00 56 82", "Begin Skip Valid", "yes - 0"},
  };
  for (const auto& c : cases) {
    const Bytes input = Hex(c.input);
    EXPECT_EQ(c.generation == 2 ? Script<QkXDRIStream2>(input, c.ops)
                                : Script<QkXDRIStream>(input, c.ops),
              c.results)
        << c.input;
  }
  const uint8_t byte = 0x54;  // no reader over null or empty input
  EXPECT_TRUE(QkXDRCreateIStream(nullptr, 5) == nullptr && QkXDRCreateIStream(&byte, 0) == nullptr);
  EXPECT_TRUE(QkXDRCreateIStream2(nullptr, 5) == nullptr &&
              QkXDRCreateIStream2(&byte, 0) == nullptr);
}

// Reads `values` back from `bytes`, each by a read chosen at random, to the
// end of the input.
template <typename I>
void ExpectReadBack(const Bytes& bytes, const Values& values, Generator& random) {
  I* r = Open<I>(bytes);
  for (size_t k = 0; k < values.size(); ++k) {
    const auto how = static_cast<Read>(random.Below(5));
    ASSERT_EQ(ReadOne(r, how), AsRead(values[k], how, std::is_same_v<I, QkXDRIStream2>)) << k;
  }
  if (r == nullptr) return;
  EXPECT_TRUE(!r->IsValid() && Decoder(r).dc.p == bytes.data() + bytes.size());
  r->Release();
}

// Every operation over and over on the first `size` bytes of `bytes`, in a
// block of exactly their size, until the reader is used up.
template <typename I>
void ExpectBounded(const Bytes& bytes, size_t size) {
  const std::unique_ptr<uint8_t[]> data = ExactCopy(bytes.data(), size);
  I* r = Open<I>(data.get(), size);
  auto checked = Checked<I>(data.get(), size);
  for (size_t round = 0; r != nullptr && r->IsValid(); ++round) {
    ASSERT_LT(round, 42 * size) << "the reader does not come to an end";
    const std::string step = round % 5 == 4 ? "Skip" : "Type";
    read_script::Run(r, "Int Double Str StrNull Begin End Int64 StrA StrANull Bin Nulls " + step,
                     std::ref(checked));
  }
  if (r != nullptr) r->Release();
}

// Random sequences, from both writer generations where the first has their
// writes: read back by both reader generations, each value by a read chosen
// at random, and cut at any byte.
TEST(BinaryStreams, RandomSequences) {
  Generator random(20240611);
  for (int round = 0; round < 1500 && !HasFatalFailure(); ++round) {
    const bool first_generation = round % 2 == 0;
    const Values values = random.Sequence(random.Below(80), first_generation);
    const Bytes bytes = Encode(QkXDRCreateOStream2(), values);
    if (first_generation) {
      ASSERT_EQ(Encode(QkXDRCreateOStream(), values), bytes);
    }
    ExpectReadBack<QkXDRIStream2>(bytes, values, random);
    ExpectReadBack<QkXDRIStream>(bytes, values, random);
    const size_t cut = random.Below(static_cast<uint32_t>(bytes.size() + 1));
    ExpectBounded<QkXDRIStream2>(bytes, cut);
    ExpectBounded<QkXDRIStream>(bytes, cut);
  }
}

using qkxdr::impl::ItemWalk;
using qkxdr::impl::WalkItem;
using qkxdr::impl::WalkResume;
using qkxdr::impl::WireType;

// An item as "offset,data,end tag index/count depth", then an Int's or
// Double's number in hex, a String's or Binary's length/present units or
// bytes, and the fault.
std::string Shown(const WalkItem& i) {
  char text[96];
  int n = std::snprintf(text, sizeof text, "%zu,%zu,%zu %02X %u/%u d%llu", i.offset, i.data, i.end,
                        i.tag, i.index, i.count, static_cast<unsigned long long>(i.depth));
  const auto number = static_cast<unsigned long long>(i.number);
  if (i.type == WireType::Int || i.type == WireType::Double) {
    n += std::snprintf(text + n, sizeof text - n, " =%llX", number);
  } else if (i.type == WireType::String || i.type == WireType::Binary) {
    n += std::snprintf(text + n, sizeof text - n, " =%llu/%u", number, i.present);
  }
  static const char* const kFaults[] = {"", " unknown", " cut", " unbalanced", " open"};
  return text + std::string(kFaults[static_cast<int>(i.fault)]);
}

// The items of a walk over `bytes` in pieces that end at each of `cuts`
// (sorted, the last the size), each walk going on where the one before
// stopped, over the bytes from there on in a block of exactly their size.
std::vector<std::string> WalkInPieces(const Bytes& bytes, const std::vector<size_t>& cuts) {
  std::vector<std::string> items;
  WalkResume at;
  for (size_t k = 0; k < cuts.size(); ++k) {
    const size_t size = cuts[k] - at.offset;
    const std::unique_ptr<uint8_t[]> piece = ExactCopy(bytes.data() + at.offset, size);
    ItemWalk walk(piece.get(), piece.get() + size, at, k + 1 == cuts.size());
    for (WalkItem item; walk.Next(&item);) {
      EXPECT_TRUE(item.offset <= item.end && item.end <= cuts[k]) << Shown(item);
      items.push_back(Shown(item));
    }
    at = walk.Stopped();
  }
  EXPECT_LE(items.size(), 42 * bytes.size() + 1) << "the walk does not end";
  return items;
}

std::vector<std::string> WalkWhole(const Bytes& bytes) {
  return WalkInPieces(bytes, {bytes.size()});
}

// Every split of the bytes in two, and the bytes one at a time, give the
// items of the whole walk.
void ExpectSplitsAlike(const Bytes& bytes) {
  const std::vector<std::string> whole = WalkWhole(bytes);
  std::vector<size_t> every;
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    EXPECT_EQ(WalkInPieces(bytes, {cut, bytes.size()}), whole) << "split at " << cut;
    every.push_back(cut);
  }
  EXPECT_EQ(WalkInPieces(bytes, every), whole) << "a byte at a time";
}

// Damaged data, item by item: unknown tags skipped, an array end without an
// open array, values cut off by the end, shown as far as they go, and the
// arrays left open.
TEST(ItemWalk, DamagedDataItemByItem) {
  const struct {
    const char* input;
    std::vector<std::string> items;
  } cases[] = {
      {"", {}},
      {"00 54 82 FD 2A 2A 00 A9 82 E1 E2 83 F8",
       {"0,1,1 00 1/1 d0", "1,2,3 54 1/1 d1 =2", "3,4,4 FD 0/2 d1 unknown", "4,5,5 2A 1/1 d0",
        "5,6,6 2A 1/1 d0 unbalanced", "6,7,7 00 1/1 d0", "7,9,11 A9 1/2 d1 =2/2",
        "11,12,13 A9 2/2 d1 =3/1 cut", "13,13,13 00 0/0 d1 open"}},
      {"FC FF 54 82", {"0,1,1 FC 0/1 d0 unknown", "1,2,2 FF 0/4 d0 unknown", "2,3,4 54 1/1 d0 =2"}},
      {"01 2A", {"0,1,1 01 1/2 d0", "0,1,1 01 2/2 d1", "1,2,2 2A 1/1 d1", "2,2,2 00 0/0 d1 open"}},
      {"00 2B 00",
       {"0,1,1 00 1/1 d0", "1,2,2 2B 1/2 d0", "1,2,2 2B 2/2 d0 unbalanced", "2,3,3 00 1/1 d0",
        "3,3,3 00 0/0 d1 open"}},
      {"54", {"0,1,1 54 1/1 d0 =0 cut"}},
      {"56 82 84", {"0,1,2 56 1/3 d0 =2", "2,2,3 56 2/3 d0 =4", "3,3,3 56 3/3 d0 =0 cut"}},
      {"54 00 01", {"0,1,3 54 1/1 d0 =0 cut"}},
      {"54 7F*9 01 81 7E 00*6 F0 3F",  // groups past 64 bits are dropped
       {"0,1,12 54 1/1 d0 =FFFFFFFFFFFFFFFF", "12,13,21 7E 1/1 d0 =3FF0000000000000"}},
      {"7F 00*8 00 00", {"0,1,9 7F 1/2 d0 =0", "9,9,11 7F 2/2 d0 =0 cut"}},
      {"A8 00", {"0,1,2 A8 1/1 d0 =0/0 cut"}},
      {"A9 80 83 E1 00", {"0,2,2 A9 1/2 d0 =0/0", "2,3,5 A9 2/2 d0 =3/1 cut"}},
      {"D2 83 01 02", {"0,2,4 D2 1/1 d0 =3/2 cut"}},
      {"D2 7F 7F 7F 7F 8F", {"0,6,6 D2 1/1 d0 =4294967295/0 cut"}},
      {"D3 82 01 02 00 2A", {"0,2,4 D3 1/2 d0 =2/2", "4,4,6 D3 2/2 d0 =0/0 cut"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WalkWhole(Hex(c.input)), c.items) << c.input;
    ExpectSplitsAlike(Hex(c.input));
  }
}

// Whether the decoder reads the item's value, at the item's bytes in `bytes`.
bool ReadsAlike(const WalkItem& item, const uint8_t* bytes, qkxdr::impl::BinaryDecoder* decoder) {
  switch (item.type) {
    case WireType::ArrayBegin:
      return decoder->ReadBeginArray();
    case WireType::ArrayEnd:
      return decoder->ReadEndArray();
    case WireType::Int: {
      int64_t v;
      return decoder->ReadInt64(&v) && v == qkxdr::impl::UnZigZag64(item.number);
    }
    case WireType::Double: {
      double v;
      return decoder->ReadDouble(&v) && std::memcmp(&v, &item.number, sizeof v) == 0;
    }
    case WireType::String: {
      std::u16string read, walked(item.present, u'\0');
      qkxdr::impl::GetUnitVarints(bytes + item.data, bytes + item.end, walked.data(), item.present);
      return decoder->ReadWholeString(&read) && read == walked;
    }
    default: {
      const uint8_t* data;
      uint32_t size;
      return decoder->ReadBytes(&data, &size) && data == bytes + item.data && size == item.number;
    }
  }
}

// A walk over a writer's stream gives, value by value, what the library's
// decoder reads there; split anywhere it gives the same items.
TEST(ItemWalk, GivesWhatTheDecoderReads) {
  Generator random(41);
  for (int round = 0; round < 200; ++round) {
    const Bytes bytes = Encode(QkXDRCreateOStream2(), random.Sequence(random.Below(40)));
    qkxdr::impl::BinaryDecoder decoder(bytes.data(), bytes.data() + bytes.size());
    ItemWalk walk(bytes.data(), bytes.data() + bytes.size());
    for (WalkItem item; walk.Next(&item);) {
      ASSERT_EQ(item.fault, qkxdr::impl::WalkFault::None) << Shown(item);
      if (item.type == WireType::String || item.type == WireType::Binary) {
        EXPECT_LT(decoder.Position(), item.data);  // the length comes first
      } else {
        EXPECT_EQ(decoder.Position(), item.data);
      }
      EXPECT_TRUE(ReadsAlike(item, bytes.data(), &decoder)) << Shown(item);
    }
    EXPECT_FALSE(decoder.IsValid());
    if (round % 10 == 0) ExpectSplitsAlike(bytes);
  }
}

// Random bytes, with many unknown tags, walked whole and in random pieces.
TEST(ItemWalk, RandomBytesWalkAlikeInPieces) {
  std::mt19937 random(17);
  for (int round = 0; round < 2000; ++round) {
    Bytes bytes(random() % 40);
    for (uint8_t& b : bytes)
      b = static_cast<uint8_t>(random() % 4 ? random() : 0xFC + random() % 4);
    std::vector<size_t> cuts(random() % 4);
    for (size_t& cut : cuts) cut = random() % (bytes.size() + 1);
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(bytes.size());
    EXPECT_EQ(WalkInPieces(bytes, cuts), WalkWhole(bytes)) << round;
  }
}

}  // namespace
}  // namespace test_values
