// The text readers of both generations, through the exported factories:
// scripted sessions, number conversions, blobs, deep nesting, malformed and
// truncated text.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "read_script.h"
#include "sbuf/binary.h"
#include "test_util.h"
#include "test_values.h"

namespace test_values {
namespace {

// The script's results on a reader of interface I over an exact-size copy of
// the text; a failed read must leave the current type.
template <typename I>
std::string Script(const std::u16string& text, const std::string& ops) {
  const auto copy = ExactCopy(text);
  I* r = Open<I>(copy.get(), text.size());
  const std::string results =
      read_script::Run(r, ops, [](I* reader) { return reader->PeekType(); });
  r->Release();
  return results;
}

// Sessions by hand on either generation or both.
TEST(TextReader, Scripts) {
  const struct {
    int generation;  // 0: both alike
    std::u16string text;
    const char* ops;
    const char* results;
  } cases[] = {
      // No value: nothing current, and nothing changes.
      {0, u"", "Valid Peek Type Peek Int Begin End Skip Valid", "0 None None None no no no - 0"},
      {0, u"  ", "Valid Peek Type Int", "0 None None no"},
      {0, u" , ", "Valid Peek Type Int", "0 None None no"},
      {0, u"[7,'ab']", "Peek Begin Int Peek Str Peek End Valid",
       "ArrayBegin yes 7 String [0061 0062] ArrayEnd yes 0"},
      // The type of every kind of token.
      {1, u"[]12 1. 1e 'x' '0XDEAD' '0x' '\\u0030x1' '0' 'x0' '0y12' '0\u0178' 0x12",
       "Type*14 Valid",
       "ArrayBegin ArrayEnd Int Double Double String String String String String String String "
       "String Int 0"},
      {2, u"[]12 1. 1e 'x' '0XDEAD' '0x' '\\u0030x1' '0' 'x0' '0y12' '0\u0178' 0x12",
       "Type*14 Valid",
       "ArrayBegin ArrayEnd Int Double Double String Binary Binary Binary String String String "
       "String Int 0"},
      {0, u"true false null abc { } :", "Valid Type*7 Valid",
       "0 None None None None None None None 0"},
      // Values end at separators; a gap, a literal or a word leaves None
      // current until ReadType moves past it.
      {0, u"1 ,\t", "Int Valid Int", "1 0 no"},
      {0, u"1,", "Int Valid Int", "1 0 no"},
      {0, u"1,,2:3,true,4 abc 5", "Int Valid Int Type Int Valid Type Int Type Int Type Int",
       "1 0 no None 2 0 None 3 None 4 None 5"},
      // A read of the wrong kind changes nothing.
      {0, u"'abc',4", "Int Double Begin Str Str Int", "no no no [0061 0062 0063] no 4"},
      {2, u"'0x12',[,],true,null,abc,{", "Int Int64 Double Type Int64 Type Double Type Int*4",
       "no no no Binary no ArrayBegin no ArrayEnd no no no no"},
      // Strings: no buffer for an empty one but ReadStringA's, low bytes for
      // ReadStringA, escapes decoded, refused buffers still consume.
      {2, u"'','','\u00e9\u4e2d\\n','a\\u0000b','xy','xy'",
       "Str StrA StrA Str StrNull StrANull Valid",
       "ok [] [E9 2D 0A] [0061 0000 0062] refused refused 0"},
      // Blobs: pairs of hex digits, the last odd one ignored, other units by
      // their low 7 bits; the text is also a string, and not a blob to the
      // first generation.
      {2,
       u"'0XDEAD','0x0123456789abcdefABCDEF','0xabc','0xZZ','0xg1 1','0x\u0141\u0131','0X\\u0046f'",
       "Bin*7 Valid", "[DE AD] [01 23 45 67 89 AB CD EF AB CD EF] [AB] [00] [01 01] [A1] [FF] 0"},
      {2, u"'0XDEAD','0XDEAD'", "Bin Peek Str", "[DE AD] Binary [0030 0058 0044 0045 0041 0044]"},
      {1, u"'0XDEAD'", "Peek Str", "String [0030 0058 0044 0045 0041 0044]"},
      {2, u"'DEAD','0',12,1.5,[,null", "Bin Type Bin Type Bin Type Bin Type Bin Type Bin Peek",
       "no String no String no Int no Double no ArrayBegin no None"},
      // Skip from each kind of position.
      {0, u"[1,[2,3],4],5", "Begin Skip Valid Int", "yes - 1 5"},
      {0, u"[1,[2,3],4],5", "Begin Int Skip Int", "yes 1 - 5"},
      {0, u"[[1,2],3],4", "Begin Begin Int Skip Int", "yes yes 1 - 3"},
      {0, u"[1],2", "Begin Int Skip Int", "yes 1 - 2"},
      {0, u"[1,2],3", "Skip Valid", "- 0"},  // at the top level: all of it
      {0, u"1,2,3", "Int Skip Valid", "1 - 0"},
      {0, u"[1,true,2],3", "Begin Skip Type Skip Int", "yes - None - 3"},  // stops at a literal
      {0, u"[1,{a:1}],2", "Begin Skip Peek", "yes - None"},
      {0, u"[1,,2],3", "Begin Skip Valid", "yes - 0"},
      {0, u"[1,[2,", "Begin Skip Valid", "yes - 0"},
      // Objects read as their members.
      {0, u"{'a':1}", "Peek Type Int Peek Type Valid", "None None 1 None None 0"},
      {2, u"{a:[1,'x'],b:{c:2.5}}", "Type Begin Int Type End Type Double",
       "None yes 1 String yes None 2.5"},
      // A "]" at the top level closes the root; nothing is left to close.
      {0, u"]1]", "Peek End Int Peek End", "ArrayEnd yes 1 None no"},
      // Doubles written with a trailing decimal point read back whole, once.
      {2, u"1.,100.,1.e+010,-0.", "Double*4 Valid", "1 100 1e+10 0 0"},
  };
  for (const auto& c : cases) {
    if (c.generation != 2) {
      EXPECT_EQ(Script<QkXDRIStream>(c.text, c.ops), c.results) << Printable(c.text);
    }
    if (c.generation != 1) {
      EXPECT_EQ(Script<QkXDRIStream2>(c.text, c.ops), c.results) << Printable(c.text);
    }
  }
  QkXDRIStream* null_text = QkXDRCreateTextIStream(nullptr, 0);
  EXPECT_FALSE(null_text->IsValid());
  null_text->Release();
}

// Each number read as 32-bit, 64-bit and double, at the limits of the ranges.
TEST(TextReader, NumberConversions) {
  const struct {
    std::u16string text;
    const char* results;
  } cases[] = {
      {u"1.5", "1 1 1.5"},
      {u"-1.9", "-1 -1 -1.9"},
      {u"-0.0", "0 0 0"},
      {u"3e9", "-2147483648 3000000000 3e+09"},
      {u"4294967297", "1 4294967297 4294967297"},
      {u"2147483648", "-2147483648 2147483648 2147483648"},
      {u"-2147483649", "2147483647 -2147483649 -2147483649"},
      {u"2147483647.9", "2147483647 2147483647 2147483647.9"},
      {u"2147483648.", "-2147483648 2147483648 2147483648"},
      {u"-2147483648.9", "-2147483648 -2147483648 -2147483648.9"},
      {u"-2147483649.", "-2147483648 -2147483649 -2147483649"},
      {u"9223372036854775807", "-1 9223372036854775807 9223372036854775808"},
      {u"9223372036854774784.", "-2147483648 9223372036854774784 9223372036854774784"},
      {u"1e19", "-2147483648 -9223372036854775808 1e+19"},
      {u"-1e19", "-2147483648 -9223372036854775808 -1e+19"},
      {u"1.e+999", "-2147483648 -9223372036854775808 inf"},
      {u"-1.e+999", "-2147483648 -9223372036854775808 -inf"},
      {u"0.e+999", "-2147483648 -9223372036854775808 nan"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        Script<QkXDRIStream2>(c.text + u"," + c.text + u"," + c.text, "Int Int64 Double Valid"),
        std::string(c.results) + " 0")
        << Printable(c.text);
  }
}

// Blobs are owned copies that outlive the reader; an empty one still has a
// block of its own in place of the slot's earlier content.
TEST(TextReader, BlobsOutliveTheReader) {
  const uint8_t earlier[] = {1, 2, 3};
  QkXDRBinary full{}, empty{};
  QkXDRBinaryAttach(&empty, earlier, 3);
  const std::u16string text = u"'0XDEAD','0x'";
  QkXDRIStream2* r = Open<QkXDRIStream2>(text.data(), text.size());
  EXPECT_TRUE(r->ReadBinary(&full) && r->ReadBinary(&empty));
  r->Release();
  EXPECT_EQ(static_cast<const uint8_t*>(QkXDRBinaryData(&full))[1], 0xAD);
  EXPECT_EQ(QkXDRBinarySize(&empty), 0u);
  EXPECT_TRUE(QkXDRBinaryData(&empty) != nullptr && QkXDRBinaryData(&empty) != earlier);
  EXPECT_EQ(static_cast<const sbuf::deep_binary*>(sbuf::Held(&empty))->references(), 1u);
  QkXDRBinaryFree(&full);
  QkXDRBinaryFree(&empty);
}

// Skip passes 10,000 nested arrays and closes the root at the last "]".
TEST(TextReader, SkipTenThousandLevels) {
  const std::u16string text =
      std::u16string(10000, u'[') + u"1" + std::u16string(10000, u']') + u"]7";
  EXPECT_EQ(Script<QkXDRIStream>(text, "Skip Int Valid"), "- 7 0");
}

// Random text heavy in the format's punctuation, and every cut of a written
// text, in exact-size blocks: neither a fixed mix of reads nor the parse reads
// past the end, and neither delivers more values than there are units.
TEST(TextReader, RandomAndTruncatedText) {
  std::mt19937 random(7);
  std::vector<std::u16string> texts;
  for (int i = 0; i < 600; ++i) texts.push_back(RandomText(random, 30));
  const std::u16string written = u"[1,\"a\\nb\",-2.5,1.e+010\"0XDEAD\",[3,[]],\"\\'\\\\\"],4";
  texts.push_back(written);
  for (const std::u16string& whole : texts) {
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
      const auto text = ExactCopy(whole.substr(0, cut));
      Recorder recorder;
      QkXDRTextParse(&recorder, text.get(), static_cast<uint32_t>(cut));
      EXPECT_LE(recorder.events.size(), cut);
      QkXDRIStream2* r = Open<QkXDRIStream2>(text.get(), cut);
      TestAllocator allocator;
      QkXDRBinary slot{};
      int32_t i32;
      int64_t i64;
      double d;
      size_t successes = 0;
      for (size_t k = 0; k <= cut; ++k, r->Skip()) {
        for (bool read :
             {r->ReadInt(&i32), r->ReadString(&allocator), r->ReadBinary(&slot),
              r->ReadBeginArray(), r->ReadStringA(&allocator), r->ReadInt64(&i64),
              r->ReadDouble(&d), r->ReadEndArray(), r->ReadType() != QkXDRType2::None}) {
          successes += read;
        }
      }
      EXPECT_LE(successes, cut);
      QkXDRBinaryFree(&slot);
      r->Release();
    }
  }
}

}  // namespace
}  // namespace test_values
