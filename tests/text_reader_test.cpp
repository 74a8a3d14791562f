// Reading text: the tokenizer and its rounding, both generations' readers, QkXDRTextParse.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/tokenizer.h"
#include "read_script.h"
#include "test_util.h"
#include "test_values.h"

namespace qkxdr::impl {
namespace {

// A step as "-" (no token), a bracket, or "i:", "r:", "s:", "w:", "n:", "b0:"
// or "b1:" and the value, then " @name" when a member name is set.
std::string Describe(const TextTokenizer& tokenizer) {
  static const char* const kTokens[] = {"-", "", "{", "[", "}", "]"};
  static const char* const kKinds[] = {"w:", "n:", "b", "i:", "r:", "s:"};
  const TextValue& value = tokenizer.GetValue();
  std::string out = kTokens[static_cast<int>(tokenizer.GetToken())];
  if (tokenizer.GetToken() == TextToken::Value) {
    out = kKinds[static_cast<int>(value.kind)];
    if (value.kind == TextValueKind::Boolean) out += value.boolean ? "1:" : "0:";
    if (value.kind == TextValueKind::Integer) out += std::to_string(value.integer);
    if (value.kind == TextValueKind::Real) out += DoubleText(value.real);
    out += Printable(value.text);
  }
  return tokenizer.name().empty() ? out : out + " @" + Printable(tokenizer.name());
}

// Every step through the text as the readers step, from an exact-size copy
// and from copies followed by units that a read past the end would take;
// fails when a step does not move forward, goes beyond the end or sees past it.
std::vector<std::string> Tokenize(const std::u16string& text) {
  std::vector<std::string> first;
  for (const std::u16string after : {u"", u":", u"-", u"[", u"7", u"e"}) {
    const auto copy = ExactCopy(text + after);
    const char16_t* const end = copy.get() + text.size();
    TextTokenizer tokenizer(ContainerKind::Array);
    std::vector<std::string> steps;
    for (const char16_t* cur = copy.get(); cur < end;) {
      tokenizer.ClearToken();
      const char16_t* next = tokenizer.Step(cur, end);
      if (next <= cur || next > end) {
        ADD_FAILURE() << "step at unit " << cur - copy.get() << " of " << Printable(text + after);
        break;
      }
      steps.push_back(Describe(tokenizer));
      cur = next;
    }
    if (after.empty()) first = steps;
    EXPECT_EQ(steps, first) << Printable(text) << " followed by " << Printable(after);
  }
  return first;
}

TEST(TextTokenizer, Steps) {
  const struct {
    std::u16string text;
    std::vector<std::string> steps;
  } cases[] = {
      // Separators: whitespace and at most one comma before each token.
      {u" \t\r\n\b\f1 ,\t2 3   ", {"i:1", "i:2", "i:3", "-"}},
      {u",1,[2,]", {"i:1", "[", "i:2", "]"}},
      {u"1,,2,", {"i:1", "-", "i:2", "-"}},
      {u"\v1 \u00A01", {"w:<000B>1", "w:<00A0>1"}},  // U+000B and U+00A0 are not whitespace
      // Strings run to the end when not terminated; an escape cut off is dropped.
      {u"\"a'b\" 'a\"b' '' 'a'b 'a''b'", {"s:a'b", "s:a\"b", "s:", "s:a", "w:b", "s:a", "s:b"}},
      {std::u16string(u"'a\nb' 'a\0b'", 11), {"s:a<000A>b", "s:a<0000>b"}},
      {u"'\\b\\f\\n\\r\\t' '\\/\\\\\\'\\\"\\q'", {"s:<0008><000C><000A><000D><0009>", "s:/\\'\"q"}},
      // "\u" digits: units above U+007F count 0, others that are no digit too.
      {u"'\\u00e9\\u12G4\\u0041\\uFFFF' '\\u\u0141\u0131zz' '\xD800\xDC00'",
       {"s:<00E9><1204>A<FFFF>", "s:<0000>", "s:<D800><DC00>"}},
      {u"'abc", {"s:abc"}},
      {u"'ab\\", {"s:ab"}},
      {u"'ab\\u1234", {"s:ab"}},  // four digits but no unit after them
      {u"'ab\\u1234' '\\u12',5", {"s:ab<1234>", "s:<1200>5"}},  // a quote taken as a digit
      {u"'\\u12'", {"s:"}},
      // Words and literals, which are case-sensitive.
      {u"true false null True FALSE NULL nul truex",
       {"b1:true", "b0:false", "n:null", "w:True", "w:FALSE", "w:NULL", "w:nul", "w:truex"}},
      {u"a[b] abc_1$!#%&()*/;=?^|~\\`<>\x7F\x80\xFFFF",
       {"w:a", "[", "w:b", "]", "w:abc_1$!#%&()*/;=?^|~\\`<><007F><0080><FFFF>"}},
      {std::u16string(u"\u00e9t\u00e9\xD83D a\0b", 8), {"w:<00E9>t<00E9><D83D>", "w:a<0000>b"}},
      // Numbers; 64-bit integers wrap.
      {u"0 -0 +7 007 - 5", {"i:0", "i:0", "i:7", "i:7", "i:0", "i:5"}},
      {u"-0.5 .5 -.5 -0.0 -e5 - +", {"r:-0.5", "r:0.5", "r:-0.5", "r:0", "r:0", "i:0", "i:0"}},
      {u"1e3 1E+3 2.5e-1 1e+ 2E- 1e", {"r:1000", "r:1000", "r:0.25", "r:1", "r:2", "r:1"}},
      {u"9223372036854775807 9223372036854775808 -9223372036854775808 18446744073709551617",
       {"i:9223372036854775807", "i:-9223372036854775808", "i:-9223372036854775808", "i:1"}},
      {u"12abc 2e1x 1-2", {"i:12", "w:abc", "r:20", "w:x", "i:1", "i:-2"}},
      // Runs of digits read eight units at a time, ended by the units around them.
      {u"-1234567/ 1234567: 7654321\uFF10 -12345678901234567890123",
       {"i:-1234567", "w:/", "i:1234567", "-", "i:7654321", "w:<FF10>", "i:-4807115922877859019"}},
      {u"1.2.3 1.5e-007", {"r:1.2", "r:0.30000000000000004", "r:1.5e-07"}},
      // "." after digits makes a Real; with no digit on either side, Integer 0.
      {u"100.,-1.,1.e+010,5.e-002,[1.],1.",
       {"r:100", "r:-1", "r:1e+10", "r:0.05", "[", "r:1", "]", "r:1"}},
      {u"+.,..,.e5,1..5,-.,.", {"i:0", "i:0", "i:0", "i:0", "w:e5", "r:1", "r:0.5", "i:0", "i:0"}},
      // A ":" where an element should start is consumed and reads nothing.
      {u"::1:2", {"-", "-", "i:1", "-", "i:2"}},
      {u"[:1]", {"[", "-", "i:1", "]"}},
      // After "]" closes the root, values read on and nothing else closes.
      {u"]1]}:{a:2}[]][", {"]", "i:1", "-", "-", "-", "{", "i:2 @a", "}", "[", "]", "-", "["}},
      // Member names stay set until "}".
      {u"{\"a\":1,b:[2]}", {"{", "i:1 @a", "[ @b", "i:2 @b", "] @b", "}"}},
      {u"{a:{b:1},c:2}", {"{", "{ @a", "i:1 @b", "}", "i:2 @c", "}"}},
      {u"{ 'x y' : 'v' ,1:2, '':3}", {"{", "s:v @x y", "i:2 @1", "i:3", "}"}},
      {u"{,a:true}", {"{", "b1:true @a", "}"}},
      {u"{:1}{a::1}", {"{", "i:1", "}", "{", "- @a", "i:1", "}"}},  // "" is a name
      {u"{a:,b:1}{a:}", {"{", "- @a", "i:1 @b", "}", "{", "}"}},
      {u"{a:1]}", {"{", "i:1 @a", "- @a", "}"}},
      // Malformed text.
      {u"{a 1}", {"{", "- @a"}},              // no ":" after the name: the rest is dropped
      {u"{a:1,,b:2}", {"{", "i:1 @a", "-"}},  // a second comma reads as a name without ":"
      {u"{'a", {"{", "- @a"}},
      {u"{a:", {"{", "- @a"}},
      {u"[}]", {"[", "-", "]"}},
      {u"{]}", {"{", "-", "}"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokenize(c.text), c.steps) << Printable(c.text);
}

// Reals are (whole + fraction * (1 / 10^digits)) * 10^exponent, powers built by
// repeated squaring; comments give the nearest double where it differs.
TEST(TextTokenizer, RealsFollowTheRoundingRule) {
  const struct {
    std::u16string text;
    double expected;
  } cases[] = {
      {u"0.3", 0x1.3333333333334p-2},          // ...333
      {u"1e33", 0x1.8a6e32246c99dp+109},       // ...c99c
      {u"1e-23", 0x1.82db34012b252p-77},       // ...251
      {u"123.456e-5", 0x1.43a1eb4cbfa15p-10},  // ...a14
      {u"9007199254740993.5", 0x1p+53},        // 0x1.0000000000001p+53
      {u"1e-320", 0.0},                        // 1 / infinity
      {u"0.1e309", INFINITY},                  // ten to the 309th overflows
      {u"1e4294967297", 10.0},                 // exponents keep their low 32 bits
      {u"1e2147483648", 0.0},
      // 1 / 10^digits comes from a table up to 24 digits; fractions wrap.
      {u"0.000000000000000000000001", 0x1.357c299a88ea8p-80},   // ...ea7
      {u"0.0000000000000000000000001", 0x1.ef2d0f5da7dd8p-84},  // ...dd9
      {u"0.99999999999999999999", 0x1.3e1b582496a9ep-4},
      {u"-12.1234567890123456789012345", -0x1.8000003adab2p+3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Tokenize(c.text), std::vector<std::string>{"r:" + DoubleText(c.expected)})
        << Printable(c.text);
  }
}

// Integers below 2^53 times exact powers of ten agree with strtod.
TEST(TextTokenizer, RealsAgreeWithTheCLibrary) {
  std::mt19937_64 random(14);
  for (int i = 0; i < 20000; ++i) {
    static const char* const kForms[] = {"e", ".e+", ".0e"};
    const std::string text = (i % 2 ? "-" : "") + std::to_string(random() >> 11) + kForms[i % 3] +
                             std::to_string(random() % 23);
    ASSERT_EQ(Tokenize({text.begin(), text.end()}),
              std::vector<std::string>{"r:" + DoubleText(std::strtod(text.c_str(), nullptr))})
        << text;
  }
}

// Strings, searched 32 and 8 units at a time, of every length past two rounds:
// a backslash or a quote at any position, terminated or not.
TEST(TextTokenizer, StringStopsAtEveryPosition) {
  for (size_t length = 0; length <= 70; ++length) {
    std::u16string body(length, u'X');  // capitals have no escape of their own
    for (size_t i = 0; i < length; ++i) body[i] = static_cast<char16_t>(u'A' + i % 26);
    EXPECT_EQ(Tokenize(u"'" + body + u"'"), std::vector<std::string>{"s:" + Printable(body)});
    EXPECT_EQ(Tokenize(u"'" + body), std::vector<std::string>{"s:" + Printable(body)});
    for (size_t at = 0; at < length; ++at) {
      // The unit after a backslash stands for itself, a closing quote too.
      std::u16string text = u"'" + body + u"'";
      text[at + 1] = u'\\';
      std::u16string decoded = body.substr(0, at) + body.substr(at + 1);
      if (at + 1 == length) decoded += u"'";
      EXPECT_EQ(Tokenize(text), std::vector<std::string>{"s:" + Printable(decoded)}) << at;
      text[at + 1] = u'\'';
      EXPECT_EQ(Tokenize(text).front(), "s:" + Printable(body.substr(0, at))) << at;
    }
  }
}

// Each token as the nearest double, as the first value of a text, after a
// string with no separator, in an array and as an object's member, where the
// number is found back from the end of the step that read it. Then the value
// after it is current.
TEST(TextDecoder, ReadDoubleExactGivesTheNearestDouble) {
  const std::u16string kMillionZeros(1000000, u'0');
  const struct {
    std::u16string token;
    double nearest;
  } cases[] = {
      {u"0.3", 0.3},  // the tokenizer's rule gives 0.30000000000000004
      {u"1e33", 1e33},
      {u"123.456e-5", 123.456e-5},
      {u"9007199254740993", 0x1p53},  // a tie, to even
      {u"9007199254740993.5", 0x1p53 + 2},
      {u"+1.5", 1.5},
      {u".5", 0.5},
      {u"-.5e1", -5.0},
      {u"1.", 1.0},
      {u"2e", 2.0},
      {u"2E+", 2.0},
      {u"0000.000125", 0.000125},
      {u"-0", -0.0},
      {u"-0.", -0.0},
      {u"-0.e-999", -0.0},
      {u"0e5", 0.0},
      {u"-", 0.0},  // no digit: as the tokenizer reads it
      {u"-e5", 0.0},
      {u"18446744073709551617", 18446744073709551617.0},  // the tokenizer's integer wraps
      {u"-12345678901234567890123", -12345678901234567890123.0},
      {u"1e4294967297", INFINITY},  // the tokenizer keeps 32 bits of the exponent
      {u"1e-400", 0.0},
      {u"-1e-400", -0.0},
      {u"2.4703282292062327e-324", 0.0},  // just below half the smallest double
      {u"2.4703282292062328e-324", DBL_TRUE_MIN},
      {u"1.7976931348623158e308", DBL_MAX},  // just below the overflow threshold
      {u"-1.7976931348623159e308", -INFINITY},
      {u"1e999999999999999999999", INFINITY},
      {u"1.e+999", INFINITY},
      {u"-1.e+999", -INFINITY},
      {u"0.e+999", NAN},  // zero times a power of ten that overflows
      {u"0e99999999999", NAN},
      // A million digits: the 800 first and whether any other is not zero.
      {u"9007199254740993." + kMillionZeros + u"1", 0x1p53 + 2},
      {u"9007199254740993." + kMillionZeros, 0x1p53},
      {u"1" + kMillionZeros + u"e-1000000", 1.0},
      {u"0." + kMillionZeros + u"15e1000001", 1.5},
      {u"-1" + kMillionZeros, -INFINITY},
  };
  const struct {
    std::u16string before, after;
    int skipped;  // values before the number
  } contexts[] = {
      {u"", u"", 0},      {u"'s'", u"'t'", 1},         {u" [\t", u" ]7", 1},
      {u"{a: ", u"}", 1}, {u"{\"k:1\":", u",b:7}", 1},
  };
  for (const auto& c : cases) {
    for (const auto& context : contexts) {
      const std::u16string text = context.before + c.token + context.after;
      const auto copy = ExactCopy(text);
      TextDecoder decoder(copy.get(), copy.get() + text.size());
      for (int i = 0; i < context.skipped; ++i) decoder.ReadType();
      const size_t after = context.before.size() + c.token.size();
      double read = 42;
      ASSERT_TRUE(decoder.ReadDoubleExact(&read)) << Printable(text.substr(0, 80));
      if (std::isnan(c.nearest)) {
        EXPECT_TRUE(std::isnan(read)) << Printable(text.substr(0, 80));
      } else {
        EXPECT_EQ(BitsOf(read), BitsOf(c.nearest))
            << Printable(text.substr(0, 80)) << " read as " << DoubleText(read);
      }
      EXPECT_EQ(decoder.Position(), after + (context.after[0] == u' ' || context.after[0] == u','));
    }
  }
}

// What ReadDoubleExact refuses, ReadDouble refuses, and neither changes
// anything: the output, the position, the current value.
TEST(TextDecoder, ReadDoubleExactFailsAsReadDoubleDoes) {
  for (const std::u16string text :
       {u"", u"'1.5'", u"'0X12'", u"[1]", u"]", u"true", u"null", u"abc", u"{a:1}", u",,1"}) {
    TextDecoder decoder(text.data(), text.data() + text.size());
    const size_t position = decoder.Position();
    const QkXDRType2 type = decoder.PeekType();
    double read = 42;
    EXPECT_FALSE(decoder.ReadDoubleExact(&read)) << Printable(text);
    EXPECT_FALSE(decoder.ReadDouble(&read)) << Printable(text);
    EXPECT_EQ(read, 42);
    EXPECT_EQ(decoder.Position(), position);
    EXPECT_EQ(decoder.PeekType(), type);
  }
  const std::u16string number = u"1.5";
  TextDecoder decoder(number.data(), number.data() + number.size());
  EXPECT_FALSE(decoder.ReadDoubleExact(nullptr));
  EXPECT_EQ(decoder.PeekType(), QkXDRType2::Double);
}

}  // namespace
}  // namespace qkxdr::impl

namespace test_values {
namespace {

// The script's results on a reader over an exact-size copy of the text.
template <typename I>
std::string Script(const std::u16string& text, const std::string& ops) {
  const auto copy = ExactCopy(text);
  I* r = Open<I>(copy.get(), text.size());
  const std::string results =
      read_script::Run(r, ops, [](I* reader) { return reader->PeekType(); });
  r->Release();
  return results;
}

TEST(TextReader, Scripts) {
  const struct {
    int generation;  // 0: both alike
    std::u16string text;
    const char* ops;
    const char* results;
  } cases[] = {
      // No value: nothing current, and nothing changes.
      {0, u"", "Valid Peek Type Peek Int Begin End Skip Valid", "0 None None None no no no - 0"},
      {0, u"[7,'ab']", "Peek Begin Int Peek Str Peek End Valid",
       "ArrayBegin yes 7 String [0061 0062] ArrayEnd yes 0"},
      // The type of every kind of token.
      {1, u"[]12 1. 'x' '0XDEAD'", "Type*6 Valid",
       "ArrayBegin ArrayEnd Int Double String String 0"},
      {2, u"[]12 1. 1e 'x' '0XDEAD' '0x' '\\u0030x1' '0' 'x0' '0y12' '0\u0178' 0x12",
       "Type*14 Valid",
       "ArrayBegin ArrayEnd Int Double Double String Binary Binary Binary String String String "
       "String Int 0"},
      {0, u"true false null abc { } :", "Valid Type*7 Valid",
       "0 None None None None None None None 0"},
      // A gap, a literal or a word is None until ReadType moves past it.
      {0, u"1,,2:3,true,4 abc 5", "Int Valid Int Type Int Valid Type Int Type Int Type Int",
       "1 0 no None 2 0 None 3 None 4 None 5"},
      // A read of the wrong kind changes nothing.
      {0, u"'abc',4", "Int Double Begin Str Str Int", "no no no [0061 0062 0063] no 4"},
      {2, u"'0x12',[,],true,null,abc,{", "Int Int64 Double Type Int64 Type Double Type Int*4",
       "no no no Binary no ArrayBegin no ArrayEnd no no no no"},
      // Only ReadStringA asks a buffer for "", and gets low bytes; a refusal consumes.
      {2, u"'','','\u00e9\u4e2d\\n','a\\u0000b','xy','xy'",
       "Str StrA StrA Str StrNull StrANull Valid",
       "ok [] [E9 2D 0A] [0061 0000 0062] refused refused 0"},
      // Blobs: digit pairs, a last odd digit ignored, other units by their low 7
      // bits; also a string, and only a string to the first generation.
      {2,
       u"'0XDEAD','0x0123456789abcdefABCDEF','0xabc','0xZZ','0xg1 1','0x\u0141\u0131','0X\\u0046f'",
       "Bin*7 Valid", "[DE AD] [01 23 45 67 89 AB CD EF AB CD EF] [AB] [00] [01 01] [A1] [FF] 0"},
      {0, u"'0XDEAD'", "Str", "[0030 0058 0044 0045 0041 0044]"},
      {2, u"'DEAD','0',12,1.5,[,null", "Bin Type Bin Type Bin Type Bin Type Bin Type Bin Peek",
       "no String no String no Int no Double no ArrayBegin no None"},
      // Skip from each kind of position; at the top level up to a root's "]".
      {0, u"[1,[2,3],4],5", "Begin Skip Valid Int", "yes - 1 5"},
      {0, u"[[1,2],3],4", "Begin Begin Int Skip Int", "yes yes 1 - 3"},
      {0, u"[1,2],3", "Skip Valid", "- 0"},
      {0, u"[[1]]]7", "Skip Int Valid", "- 7 0"},
      {0, u"[1,true,2],3", "Begin Skip Type Skip Int", "yes - None - 3"},  // stops at a literal
      {0, u"[1,[2,", "Begin Skip Valid", "yes - 0"},
      // Objects read as their members.
      {0, u"{'a':1}", "Peek Type Int Peek Type Valid", "None None 1 None None 0"},
      {2, u"{a:[1,'x'],b:{c:2.5}}", "Type Begin Int Type End Type Double",
       "None yes 1 String yes None 2.5"},
      // A "]" at the top level closes the root; nothing is left to close.
      {0, u"]1]", "Peek End Int Peek End", "ArrayEnd yes 1 None no"},
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
      {u"4294967297", "1 4294967297 4294967297"},
      {u"-2147483649", "2147483647 -2147483649 -2147483649"},
      {u"2147483648.", "-2147483648 2147483648 2147483648"},
      {u"-2147483649.", "-2147483648 -2147483649 -2147483649"},
      {u"9223372036854775807", "-1 9223372036854775807 9223372036854775808"},
      {u"9223372036854774784.", "-2147483648 9223372036854774784 9223372036854774784"},
      {u"1e19", "-2147483648 -9223372036854775808 1e+19"},
      {u"1.e+999", "-2147483648 -9223372036854775808 inf"},
      {u"0.e+999", "-2147483648 -9223372036854775808 nan"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        Script<QkXDRIStream2>(c.text + u"," + c.text + u"," + c.text, "Int Int64 Double Valid"),
        std::string(c.results) + " 0")
        << Printable(c.text);
  }
}

// The calls QkXDRTextParse makes for an exact-size copy of the text.
Values Parse(const std::u16string& text) {
  const auto copy = ExactCopy(text);
  Recorder recorder;
  QkXDRTextParse(&recorder, copy.get(), static_cast<uint32_t>(text.size()));
  return recorder.events;
}

// A literal, a word, a gap, an object or a bracket closing nothing ends it.
TEST(TextParse, ReportsEachValueAndStopsWhereItMust) {
  const struct {
    std::u16string text;
    Values calls;
  } cases[] = {
      {u"", {}},
      {u"[1,'a',2.5]", {kBegin, I32(1), Str(u"a"), Dbl(2.5), kEnd}},
      {u"1 2 3,", {I32(1), I32(2), I32(3)}},
      {u"4294967297,-1", {I32(1), I32(-1)}},
      {u"1,true,2", {I32(1)}},
      {u"1,,2", {I32(1)}},
      {u"{'a':1}", {}},
      {u"[}]", {kBegin}},
      {u"[1]]", {kBegin, I32(1), kEnd, kEnd}},
      {u"'a\\u0000b','','0XDEAD'", {Str(std::u16string(u"a\0b", 3)), Str(u""), Str(u"0XDEAD")}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.text), c.calls) << Printable(c.text);
  Recorder recorder;
  QkXDRTextParse(&recorder, nullptr, 0);
  EXPECT_TRUE(recorder.events.empty());
}

// Nesting is limited by memory only: a million levels in either encoding, and parsed.
TEST(TextReader, MillionLevels) {
  constexpr int kDepth = 1000000;
  const auto count = [](auto read) {  // of up to kDepth reads in a row, those that succeed
    int n = 0;
    while (n < kDepth && read()) ++n;
    return n;
  };
  const auto nested = [](auto* writer) {
    for (int i = 0; i < kDepth; ++i) writer->BeginArray();
    for (int i = 0; i < kDepth; ++i) writer->EndArray();
    return Encode(writer, {});
  };
  const Bytes binary = nested(QkXDRCreateOStream2());
  EXPECT_EQ(binary.size(), 2 * ((kDepth + 41) / 42)) << "runs of 42 markers share a tag byte";
  const std::u16string text = TextOf(nested(QkXDRCreateTextOStream2()));
  for (const bool in_text : {false, true}) {
    SCOPED_TRACE(in_text ? "text" : "binary");
    const auto open = [&] {
      return in_text ? Open<QkXDRIStream2>(text.data(), text.size()) : Open<QkXDRIStream2>(binary);
    };
    QkXDRIStream2* r = open();  // ReadType steps over one marker at a time
    EXPECT_EQ(count([&r] { return r->ReadType() == QkXDRType2::ArrayBegin; }), kDepth);
    EXPECT_EQ(count([&r] { return r->ReadType() == QkXDRType2::ArrayEnd; }), kDepth);
    EXPECT_FALSE(r->IsValid());
    r->Release();
    r = open();  // Skip after the outermost opening passes the whole nest
    EXPECT_TRUE(r->ReadBeginArray());
    r->Skip();
    EXPECT_FALSE(r->IsValid());
    r->Release();
    r = open();  // and at the innermost level one closing
    EXPECT_EQ(count([&r] { return r->ReadBeginArray(); }), kDepth);
    r->Skip();
    EXPECT_EQ(count([&r] { return r->ReadEndArray(); }), kDepth - 1);
    EXPECT_FALSE(r->IsValid());
    r->Release();
  }
  Recorder recorder;  // the parse keeps no stack of its own either
  QkXDRTextParse(&recorder, text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_TRUE(recorder.events == Cat({Times(kDepth, kBegin), Times(kDepth, kEnd)}));
}

}  // namespace
}  // namespace test_values
