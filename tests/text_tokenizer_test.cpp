// The text tokenizer: the accepted form token by token, malformed text,
// state kept by steps that read nothing, nesting depth, exact number rounding,
// and that no step stalls or reads past the end of its text.

#include "text/tokenizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"
#include "text/double_format.h"
#include "text/number_scan.h"

namespace qkxdr::impl {
namespace {

// The token, value and name after a step as one short string: "-" for no
// token, brackets as themselves, values as "i:", "r:", "s:", "w:", "n:",
// "b0:" or "b1:" and their content, then " @name" when a name is set.
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

// Steps through the text from an exact-size copy as the readers do, clearing
// the token before each step, and describes every step. Fails the test when
// a step does not move forward or goes beyond the end.
std::vector<std::string> Tokenize(TextTokenizer& tokenizer, const std::u16string& text) {
  const auto copy = ExactCopy(text);
  const char16_t* const end = copy.get() + text.size();
  std::vector<std::string> steps;
  for (const char16_t* cur = copy.get(); cur < end;) {
    tokenizer.ClearToken();
    const char16_t* next = tokenizer.Step(cur, end);
    if (next <= cur || next > end) {
      ADD_FAILURE() << "step at unit " << cur - copy.get() << " of " << Printable(text);
      break;
    }
    steps.push_back(Describe(tokenizer));
    cur = next;
  }
  return steps;
}

std::vector<std::string> Tokenize(const std::u16string& text) {
  TextTokenizer tokenizer(ContainerKind::Array);
  return Tokenize(tokenizer, text);
}

// The accepted form, step by step.
TEST(TextTokenizer, Steps) {
  const struct {
    std::u16string text;
    std::vector<std::string> steps;
  } cases[] = {
      // Separators: whitespace and at most one comma before each token.
      {u" \t\r\n\b\f1 ,\t2 3", {"i:1", "i:2", "i:3"}},
      {u"1,2,[3,4]", {"i:1", "i:2", "[", "i:3", "i:4", "]"}},
      {u",1,[2,]", {"i:1", "[", "i:2", "]"}},
      {u"1,,2", {"i:1", "-", "i:2"}},
      {u"1,", {"i:1", "-"}},
      {u"   ", {"-"}},
      {u"\v1 \u00A01", {"w:<000B>1", "w:<00A0>1"}},  // U+000B and U+00A0 are not whitespace
      {u"- 5 a b", {"i:0", "i:5", "w:a", "w:b"}},
      // Strings and escapes; an unterminated string runs to the end, and an
      // escape cut off by it is dropped.
      {u"\"a'b\" 'a\"b' '' 'a'b 'a''b'", {"s:a'b", "s:a\"b", "s:", "s:a", "w:b", "s:a", "s:b"}},
      {std::u16string(u"'a\nb' 'a\0b'", 11), {"s:a<000A>b", "s:a<0000>b"}},
      {u"'\\b\\f\\n\\r\\t'", {"s:<0008><000C><000A><000D><0009>"}},
      {u"'\\/\\\\\\'\\\"\\q'", {"s:/\\'\"q"}},
      {u"'\\u00e9\\u12G4\\u0041\\uFFFF'", {"s:<00E9><1204>A<FFFF>"}},
      {u"'\\u\u0141\u0131zz'", {"s:<0000>"}},  // units above U+007F count 0
      {u"'\xD800\xDC00'", {"s:<D800><DC00>"}},
      {u"'abc", {"s:abc"}},
      {u"'ab\\", {"s:ab"}},
      {u"'ab\\u12", {"s:ab"}},
      {u"'ab\\u1234", {"s:ab"}},  // four digits but no unit after them
      {u"'ab\\u1234'", {"s:ab<1234>"}},
      {u"'\\u12'", {"s:"}},  // the closing quote is taken as a digit slot
      {u"'\\u12',5", {"s:<1200>5"}},
      // Words and literals.
      {u"true false null", {"b1:true", "b0:false", "n:null"}},
      {u"True FALSE NULL nul truex", {"w:True", "w:FALSE", "w:NULL", "w:nul", "w:truex"}},
      {u"abc_1$!#%&()*/;=?^|~\\`<>\x7F\x80\xFFFF",
       {"w:abc_1$!#%&()*/;=?^|~\\`<><007F><0080><FFFF>"}},
      {std::u16string(u"\u00e9t\u00e9\xD83D a\0b", 8), {"w:<00E9>t<00E9><D83D>", "w:a<0000>b"}},
      {u"a[b]", {"w:a", "[", "w:b", "]"}},
      // Numbers.
      {u"0 -0 +7 007", {"i:0", "i:0", "i:7", "i:7"}},
      {u"-0.5 .5 -.5 -0.0 -e5 - +", {"r:-0.5", "r:0.5", "r:-0.5", "r:0", "r:0", "i:0", "i:0"}},
      {u"1e3 1E+3 2.5e-1 1e+ 2E-", {"r:1000", "r:1000", "r:0.25", "r:1", "r:2"}},
      {u"1e", {"r:1"}},
      {u"9223372036854775807 9223372036854775808 -9223372036854775808 18446744073709551617",
       {"i:9223372036854775807", "i:-9223372036854775808", "i:-9223372036854775808", "i:1"}},
      {u"12abc 2e1x 1-2", {"i:12", "w:abc", "r:20", "w:x", "i:1", "i:-2"}},
      {u"1.2.3 1.5e-007", {"r:1.2", "r:0.30000000000000004", "r:1.5e-07"}},
      {u"-", {"i:0"}},
      // A "." after digits belongs to the number, so that every whole double
      // the writer produces reads as one Real; a "." with no digit on either
      // side is consumed as Integer 0.
      {u"1.", {"r:1"}},
      {u"100.,-1.,1.e+010,5.e-002,[1.]", {"r:100", "r:-1", "r:1e+10", "r:0.05", "[", "r:1", "]"}},
      {u".", {"i:0"}},
      {u"-.", {"i:0"}},
      {u"+.,..,.e5,1..5", {"i:0", "i:0", "i:0", "i:0", "w:e5", "r:1", "r:0.5"}},
      // A ":" where an element should start is consumed and reads nothing.
      {u"::", {"-", "-"}},
      {u"1:2", {"i:1", "-", "i:2"}},
      {u"[:1]", {"[", "-", "i:1", "]"}},
      // Objects: member names stay set for the value and the containers in
      // it, and are emptied by "}".
      {u"{\"a\":1,b:[2]}", {"{", "i:1 @a", "[ @b", "i:2 @b", "] @b", "}"}},
      {u"{ 'x y' : 'v' }", {"{", "s:v @x y", "}"}},
      {u"{a:{b:1},c:2}", {"{", "{ @a", "i:1 @b", "}", "i:2 @c", "}"}},
      {u"{1:2, '':3}", {"{", "i:2 @1", "i:3", "}"}},
      {u"{,a:1}", {"{", "i:1 @a", "}"}},
      {u"{:1}", {"{", "i:1", "}"}},  // a member with an empty name
      {u"{a::1}", {"{", "- @a", "i:1", "}"}},
      {u"{a:,b:1}", {"{", "- @a", "i:1 @b", "}"}},
      {u"{a:}", {"{", "}"}},
      {u"{a:1]}", {"{", "i:1 @a", "- @a", "}"}},
      {u"{a:true}", {"{", "b1:true @a", "}"}},
      // Malformed text.
      {u"{a 1}", {"{", "- @a"}},              // no ":" after the name: the rest is dropped
      {u"{a:1,,b:2}", {"{", "i:1 @a", "-"}},  // a second comma reads as a name without ":"
      {u"{'a", {"{", "- @a"}},
      {u"[}]", {"[", "-", "]"}},
      {u"{]}", {"{", "-", "}"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokenize(c.text), c.steps) << Printable(c.text);
}

// A step that reads no token keeps token, value and name; a bracket or a
// string keeps the last number; the value's text is zero-terminated.
TEST(TextTokenizer, StepsThatReadNothingKeepTheState) {
  const char16_t text[] = u"7 ,,";
  TextTokenizer tokenizer(ContainerKind::Array);
  EXPECT_EQ(tokenizer.Step(text, text), text);
  EXPECT_EQ(Describe(tokenizer), "-");
  EXPECT_EQ(tokenizer.GetValue().kind, TextValueKind::Word);
  EXPECT_EQ(tokenizer.Step(text, text + 4), text + 1);
  EXPECT_EQ(tokenizer.Step(text + 1, text + 4), text + 3) << "stops at the second comma";
  EXPECT_EQ(tokenizer.Step(text + 3, text + 4), text + 4);
  EXPECT_EQ(tokenizer.Step(text + 4, text + 4), text + 4);
  EXPECT_EQ(Describe(tokenizer), "i:7");
  Tokenize(tokenizer, u"'x' abc null [");
  EXPECT_EQ(tokenizer.GetValue().kind, TextValueKind::Null);
  EXPECT_EQ(tokenizer.GetValue().integer, 7);
  EXPECT_EQ(tokenizer.GetValue().text.c_str()[4], u'\0');
}

// Once "]" closes the implicit root, values read on as if in an array and no
// closing bracket closes anything.
TEST(TextTokenizer, ClosedRoot) {
  TextTokenizer tokenizer(ContainerKind::Array);
  EXPECT_EQ(Tokenize(tokenizer, u"]"), std::vector<std::string>{"]"});
  EXPECT_TRUE(tokenizer.containers().empty());
  EXPECT_EQ(Tokenize(tokenizer, u"1]}:{a:2}"),
            (std::vector<std::string>{"i:1", "-", "-", "-", "{", "i:2 @a", "}"}));
  EXPECT_EQ(Tokenize(tokenizer, u"[]]["), (std::vector<std::string>{"[", "]", "-", "["}));
  EXPECT_EQ(tokenizer.containers().depth(), 1u);
}

// Values whose last bit depends on the powers of ten being built by
// repeated squaring, checked against an independent computation.
TEST(TextTokenizer, NumberRoundingIsExact) {
  const struct {
    std::u16string text;
    double expected;
  } cases[] = {
      {u"0.1", 0x1.999999999999ap-4},
      {u"1.25", 0x1.4p+0},
      {u"1.5e-007", 0x1.421f5f40d8376p-23},
      {u"3.141592654", 0x1.921fb54524550p+1},
      {u"1e33", 0x1.8a6e32246c99dp+109},  // nearest is ...c99c
      {u"1e300", 0x1.7e43c880075a0p+996},
      {u"1e-300", 0x1.56e1fc2f8f355p-997},
      {u"1e-320", 0.0},        // 1 / infinity
      {u"0.1e309", INFINITY},  // 0.1 times ten to the 309th, which overflows
      {u"9007199254740993.5", 9007199254740992.0},
      {u"123.456e-5", 0.0012345600000000002},
      {u"1e4294967297", 10.0},  // exponents keep their low 32 bits
      {u"1e-4294967297", 0x1.999999999999ap-4},
      {u"1e2147483648", 0.0},
      {u"0.99999999999999999999", 0x1.3e1b582496a9ep-4},  // fraction digits wrap
      {u"1.e+999", INFINITY},
      {u"-1.e+999", -INFINITY},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Tokenize(c.text), std::vector<std::string>{"r:" + DoubleText(c.expected)})
        << Printable(c.text);
  }
  EXPECT_EQ(Tokenize(u"0.e+999"), std::vector<std::string>{"r:nan"});
}

// A number as the writer lays it out: sign, whole digits, fraction digits
// and how many, exponent (0 when there is none).
struct WrittenNumber {
  bool negative = false;
  uint64_t whole = 0;
  uint64_t fraction = 0;
  int fraction_digits = 0;
  int exponent = 0;
};

WrittenNumber Pieces(const std::string& text) {
  WrittenNumber n;
  size_t k = 0;
  n.negative = text[k] == '-';
  k += n.negative;
  for (; k < text.size() && text[k] != '.' && text[k] != 'e'; ++k)
    n.whole = n.whole * 10 + (text[k] - '0');
  if (k < text.size() && text[k] == '.') ++k;
  for (; k < text.size() && text[k] != 'e'; ++k, ++n.fraction_digits)
    n.fraction = n.fraction * 10 + (text[k] - '0');
  if (k < text.size()) n.exponent = std::atoi(text.c_str() + k + 1);
  return n;
}

// Ten to the n, correctly rounded by the C library.
double LibraryPowerOfTen(int n) { return std::strtod(("1e" + std::to_string(n)).c_str(), nullptr); }

// Random doubles in the writer's form read back by the rounding rule: whole
// digits plus fraction digits times ten to the minus their count, times ten
// to the exponent, every product rounded to double. Where those powers are
// ten to at most 22 their correctly rounded values are the rule's, and the
// C library gives them; every value stays within a few units in the last
// place of the correctly rounded reading; and the hash of all values read
// pins every bit on every build (it is the value on x86-64).
TEST(TextTokenizer, WrittenNumbersFollowTheRoundingRule) {
  std::mt19937_64 random(14);
  uint64_t hash = 14695981039346656037u;
  int64_t worst = 0;
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = random();
    // Every other one has a magnitude between 2^-75 and 2^75.
    if (i % 2 == 1) bits = (bits & 0x800FFFFFFFFFFFFF) | ((1023 - 75 + (bits >> 32) % 150) << 52);
    const double v = FromBits(bits);
    char16_t text[kMaxDoubleText];
    const char16_t* const end = FormatDouble(v, text);
    TextValue value;
    ASSERT_EQ(ScanNumber(text, end, &value), end);
    const double x =
        value.kind == TextValueKind::Real ? value.real : static_cast<double>(value.integer);
    hash = (hash ^ (std::isnan(x) ? 1 : BitsOf(x))) * 1099511628211u;

    const std::string written(static_cast<const char16_t*>(text), end);
    const WrittenNumber n = Pieces(written);
    if (n.exponent >= -22 && n.exponent <= 22) {
      const double magnitude =
          (static_cast<double>(n.whole) +
           static_cast<double>(n.fraction) * LibraryPowerOfTen(-n.fraction_digits)) *
          LibraryPowerOfTen(n.exponent);
      ASSERT_EQ(BitsOf(x), BitsOf(n.negative ? -magnitude : magnitude)) << written;
    }
    const double nearest = std::strtod(written.c_str(), nullptr);
    if (std::isfinite(x) && std::fabs(nearest) >= 1e-290) {
      const int64_t ulps = static_cast<int64_t>(BitsOf(std::fabs(x)) - BitsOf(std::fabs(nearest)));
      worst = std::max(worst, ulps < 0 ? -ulps : ulps);
    }
  }
  EXPECT_LE(worst, 8);
  EXPECT_EQ(hash, 0x2fb6c1937933eacbu);
}

// Eight levels fit the stack's room; the ninth moves it to the heap with
// room for 9 * 3 / 2 entries, and it never shrinks.
TEST(TextTokenizer, StackGrowsBeyondItsRoom) {
  TextTokenizer tokenizer(ContainerKind::Array);
  Tokenize(tokenizer, u"[[[[[[[");
  EXPECT_FALSE(tokenizer.containers().on_heap());
  Tokenize(tokenizer, u"{a:");
  EXPECT_EQ(tokenizer.containers().depth(), 9u);
  EXPECT_EQ(tokenizer.containers().capacity(), 13u);
  EXPECT_EQ(Tokenize(tokenizer, u"]}]"), (std::vector<std::string>{"- @a", "}", "]"}));
  EXPECT_EQ(tokenizer.containers().depth(), 7u);
  EXPECT_EQ(tokenizer.containers().capacity(), 13u);
}

// Arrays and objects nested 10,000 deep open and close in order.
TEST(TextTokenizer, TenThousandLevels) {
  constexpr int kLevels = 10000;
  std::u16string text;
  for (int i = 0; i < kLevels; ++i) text += i % 2 ? u"{k:" : u"[";
  text += u"0";
  for (int i = kLevels - 1; i >= 0; --i) text += i % 2 ? u"}" : u"]";
  text += u"]";
  TextTokenizer tokenizer(ContainerKind::Array);
  const std::vector<std::string> steps = Tokenize(tokenizer, text);
  ASSERT_EQ(steps.size(), 2u * kLevels + 2);
  EXPECT_EQ(steps[kLevels - 1], "{ @k");
  EXPECT_EQ(steps[kLevels], "i:0 @k");
  EXPECT_EQ(steps[kLevels + 1], "}");
  EXPECT_EQ(steps[2 * kLevels], "]");
  EXPECT_EQ(steps[2 * kLevels + 1], "]") << "closes the root";
  EXPECT_TRUE(tokenizer.containers().empty());
}

// Digit runs are read several units at a time where enough text is left:
// runs of every length up to past two such groups, with each unit after
// them, at the end of the text or not, give the count and the value modulo
// 2^64 that reading digit by digit gives.
TEST(TextTokenizer, DigitRunsMatchDigitByDigit) {
  std::mt19937 random(17);
  // "/" and ":" are the units on either side of the digits.
  const char16_t kAfter[] = {u'\0', u'/', u':', u'.', u'e', u'\uFF10'};
  for (size_t length = 0; length <= 30; ++length) {
    for (const char16_t after : kAfter) {
      for (const bool more : {false, true}) {
        std::u16string digits(length, u'0');
        for (char16_t& unit : digits) unit = static_cast<char16_t>(u'0' + random() % 10);
        uint64_t expected = 0;
        for (const char16_t unit : digits) expected = expected * 10 + (unit - u'0');
        if (after == u'\0' && more) continue;  // more digits would extend the run
        std::u16string text = u"-" + digits;
        if (after != u'\0') text += after;
        if (more) text += u"123456789";
        const auto copy = ExactCopy(text);
        DigitRun run;
        const char16_t* next = ReadDigitRun(copy.get(), copy.get() + text.size(), &run);
        SCOPED_TRACE(Printable(text));
        EXPECT_EQ(next, copy.get() + 1 + length);
        EXPECT_EQ(run.count, length);
        EXPECT_EQ(run.accumulator, expected);
        EXPECT_TRUE(run.negative);
        if (HasFailure()) return;
      }
    }
  }
}

// Fractions take their power of ten from a table: up to past its end they
// equal the sum of the whole number and digits times 1 / 10^count.
TEST(TextTokenizer, FractionsOfEveryLength) {
  std::mt19937 random(23);
  for (size_t length = 1; length <= 30; ++length) {
    std::u16string fraction(length, u'0');
    for (char16_t& unit : fraction) unit = static_cast<char16_t>(u'0' + random() % 10);
    uint64_t digits = 0;
    for (const char16_t unit : fraction) digits = digits * 10 + (unit - u'0');
    double power = 1;  // ten to the length, by repeated squaring as specified
    for (double b = 10, k = static_cast<double>(length); k >= 1; k = std::floor(k / 2), b *= b) {
      if (std::fmod(k, 2) == 1) power *= b;
    }
    const double expected = -(12 + static_cast<double>(static_cast<int64_t>(digits)) * (1 / power));
    EXPECT_EQ(Tokenize(u"-12." + fraction), std::vector<std::string>{"r:" + DoubleText(expected)})
        << length;
  }
}

// Strings are searched for their closing quote or a backslash several units
// at a time: one at any position of strings of every length up to past two
// rounds of that search, terminated or not, splits them where it should.
TEST(TextTokenizer, StringStopsAtEveryPosition) {
  for (size_t length = 0; length <= 70; ++length) {
    // Capitals: none of them has an escape of its own.
    std::u16string body(length, u'X');
    for (size_t i = 0; i < length; ++i) body[i] = static_cast<char16_t>(u'A' + i % 26);
    EXPECT_EQ(Tokenize(u"'" + body + u"'"), std::vector<std::string>{"s:" + Printable(body)});
    EXPECT_EQ(Tokenize(u"'" + body), std::vector<std::string>{"s:" + Printable(body)});
    for (size_t at = 0; at < length; ++at) {
      std::u16string escaped = body;
      escaped[at] = u'\\';
      // The unit after a backslash stands for itself; the closing quote too,
      // and the string then runs to the end.
      std::u16string decoded = body.substr(0, at) + body.substr(at + 1);
      if (at + 1 == length) decoded += u"'";
      EXPECT_EQ(Tokenize(u"'" + escaped + u"'"),
                std::vector<std::string>{"s:" + Printable(decoded)})
          << length << " " << at;
      std::u16string quoted = body;
      quoted[at] = u'\'';
      EXPECT_EQ(Tokenize(u"'" + quoted + u"'").front(), "s:" + Printable(body.substr(0, at)))
          << length << " " << at;
    }
  }
}

// Random text, heavy in the format's punctuation, in exact-size blocks:
// every step moves forward, never beyond the end, at every cut of the text.
TEST(TextTokenizer, NoStepStallsOrOverreads) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 1500; ++round) {
    const std::u16string text = RandomText(random, 40);
    for (size_t cut = 0; cut <= text.size(); ++cut) Tokenize(text.substr(0, cut));
  }
}

}  // namespace
}  // namespace qkxdr::impl
