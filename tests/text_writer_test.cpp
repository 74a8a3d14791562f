// The text writer, its ten-digit double formatter against the C library, and
// the exact double text read back bit for bit.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "QkXDR.h"
#include "exports/text_streams.h"
#include "qkxdr/detail/text/double_format.h"
#include "qkxdr/detail/text/number_scan.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/text_encoder.h"
#include "test_values.h"

namespace test_values {
namespace {

// The text so far; GetData is null exactly when it is empty.
template <typename W>
std::u16string Text(W* w) {
  const auto* data = static_cast<const char16_t*>(w->GetData());
  EXPECT_EQ(data == nullptr, w->GetSize() == 0);
  return data == nullptr ? u"" : std::u16string(data, w->GetSize() / 2);
}

// The text of a new writer after the values; releases it.
template <typename W>
std::u16string Written(W* w, const Values& values) {
  for (const Value& v : values) Write(w, v);
  const std::u16string text = Text(w);
  w->Release();
  return text;
}

// Both generations where the first has all the writes.
TEST(TextWriter, WrittenForms) {
  // Controls, DEL, Latin-1, a surrogate pair, U+FFFF and "/" need no escape.
  const std::u16string kPlain = {0x0001, 0x0009, 0x007F, 0x00E9, 0xD83D, 0xDE00, 0xFFFF, u'/'};
  const struct {
    Values values;
    std::u16string text;
  } cases[] = {
      {{}, u""},
      {{kBegin, I32(1), kEnd, I32(2)}, u"[1],2"},
      {{I32(1), kBegin, kBegin, kEnd, I32(3), kEnd, kEnd}, u"1,[[],3]]"},
      {{kEnd, kEnd, I32(1), kBegin, kBegin}, u"]],1,[["},
      {{Str(u"\"'\\\n\r\t"), Str(u""), Str(kPlain)},
       u"\"\\\"\\'\\\\\\n\\r\t\",\"\",\"" + kPlain + u"\""},
      {{Str(std::u16string(u"ab\0cd", 5))}, u"\"ab\""},  // stops at a zero unit
      {{I32(INT32_MIN), I64(INT64_MIN), I64(INT64_MAX)},
       u"-2147483648,-9223372036854775808,9223372036854775807"},
      // Doubles: zeros, the fixed form's bounds (first digit's exponent -1 to 9), the
      // longest text, the smallest denormal, values that are not finite.
      {{Dbl(0.0), Dbl(-0.0), Dbl(0.0999999999949), Dbl(0.1234567891), Dbl(1.0), Dbl(-1234567891.0)},
       u"0.,-0.,9.999999999e-002,0.1234567891,1.,-1234567891"},
      {{Dbl(-1.234567891e-308), Dbl(-DBL_TRUE_MIN), Dbl(INFINITY), Dbl(-INFINITY), Dbl(-NAN)},
       u"-1.234567891e-308,-4.940656458e-324,1.e+999,-1.e+999,0.e+999"},
      // A blob has no comma in front and leaves the comma rule as it was.
      {{I32(1), Blob({0x00, 0xFF, 0x1A, 0x9C}), I32(2)}, u"1\"0X00FF1A9C\",2"},
      {{kBegin, Blob({}), Blob({1}), I32(2)}, u"[\"0X\"\"0X01\"2"},
      {{I32(1), Blob({0x7F}), kBegin, kEnd, Blob({1}), I32(2)}, u"1\"0X7F\",[]\"0X01\",2"},
      // 8-bit strings are widened by sign extension.
      {{StrA("a\"'\\\n\r\x7F\x80\xE9\xFF")}, u"\"a\\\"\\'\\\\\\n\\r\u007F\uFF80\uFFE9\uFFFF\""},
      {{Str(u"a"), Dbl(0.5), I64(7), kBegin, StrA("b"), kEnd}, u"\"a\",0.5,7,[\"b\"]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Written(QkXDRCreateTextOStream2(), c.values), c.text) << Printable(c.text);
    bool first_generation = true;
    for (const Value& v : c.values) first_generation = first_generation && FirstGeneration(v.kind);
    if (first_generation) {
      EXPECT_EQ(Written(QkXDRCreateTextOStream(), c.values), c.text) << Printable(c.text);
    }
  }
}

// Null strings write "", null blobs "0X"; a blob past the limit (doubled, even
// past 32 bits) throws before anything is written.
TEST(TextWriter, NullAndOversizedWrites) {
  const uint8_t bytes[4] = {1, 2, 3, 4};
  QkXDROStream2* w = QkXDRCreateTextOStream2();
  QkXDRBinary no_data{};
  QkXDRBinaryAttach(&no_data, nullptr, 10);
  w->WriteInt(1);
  w->WriteString(nullptr);
  w->WriteStringA(nullptr);
  w->WriteBinary(nullptr);
  w->WriteBinary(&no_data);
  for (const uint32_t size : {0x3FFFFFFEu, 0x7FFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    QkXDRBinary slot{};
    QkXDRBinaryAttach(&slot, bytes, size);
    EXPECT_THROW(w->WriteBinary(&slot), std::bad_alloc) << size;
    QkXDRBinaryFree(&slot);
  }
  w->WriteInt(2);
  EXPECT_EQ(Text(w), u"1,\"\",\"\"\"0X\"\"0X\",2");
  w->Release();
}

// The string as escaping unit by unit writes it.
std::u16string Quoted(const std::u16string& s) {
  std::u16string quoted = u"\"";
  for (const char16_t unit : s) {
    const auto escape = std::u16string_view(u"\"'\\\n\r").find(unit);
    quoted += escape == std::u16string::npos ? std::u16string{unit}
                                             : std::u16string{u'\\', u"\"'\\nr"[escape]};
  }
  return quoted + u"\"";
}

// Runs between escapes are copied 8 units at a time, into room for the worst
// case where it is there, else for the exact size (grown by half).
TEST(TextWriter, Escapes) {
  std::vector<std::u16string> strings = {std::u16string(254, u'x'), std::u16string(255, u'x'),
                                         std::u16string(200, u'\n')};
  for (size_t length = 1; length <= 41; ++length) {
    std::u16string plain(length, u'#');  // units one bit away from those escaped
    for (size_t i = 0; i < length; ++i) plain[i] = static_cast<char16_t>(u'(' + i % 8);
    strings.push_back(plain);
    for (size_t at = 0; at < length; ++at) {
      for (const char16_t escaped : std::u16string(u"\"'\\\n\r")) {
        strings.push_back(plain);
        strings.back()[at] = escaped;
      }
    }
  }
  std::mt19937 random(7);
  for (char16_t& unit : strings.emplace_back(600, u'x'))
    unit = u"ab\"'\\\n\u00E9\uFFFF"[random() % 8];
  const std::u16string filler(3000, u'z');
  for (const std::u16string& s : strings) {
    QkXDROStream2* w = QkXDRCreateTextOStream2();
    w->WriteString(s.c_str());
    const std::u16string quoted = Quoted(s);
    EXPECT_EQ(Text(w), quoted);
    EXPECT_EQ(
        static_cast<qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream2>*>(w)->imp.buffer().capacity(),
        quoted.size() > 256 ? quoted.size() * 3 / 2 : 256);
    w->WriteString(filler.c_str());
    w->WriteString(s.c_str());
    EXPECT_EQ(Text(w), quoted + u",\"" + filler + u"\"," + quoted);
    w->Release();
  }
}

// Integers on either side of every power of ten, in both widths.
TEST(TextWriter, IntegersMatchStandardDecimal) {
  QkXDROStream2* w = QkXDRCreateTextOStream2();
  std::string expected;
  for (uint64_t power = 1; power <= 1000000000000000000; power *= 10) {  // 10^19 fits too
    const auto p = static_cast<int64_t>(power);
    for (const int64_t v : {p, p - 1, -p}) {
      w->WriteInt64(v);
      w->WriteInt(static_cast<int32_t>(v));
      expected += "," + std::to_string(v) + "," + std::to_string(static_cast<int32_t>(v));
    }
  }
  EXPECT_EQ(Text(w), std::u16string(expected.begin() + 1, expected.end()));
  w->Release();
}

std::string Format(double v) {
  char16_t text[qkxdr::impl::kMaxDoubleText];
  const char16_t* const end = qkxdr::impl::FormatDouble(v, text);
  return std::string(static_cast<const char16_t*>(text), end);
}

// Random doubles, and some near "<lead>e<k>" (a power of ten, a rounding up
// to one, a tie), read back as "%.9e" does, in the form their size calls for.
TEST(DoubleFormat, ReadsBackAsTheLibrarysTenDigits) {
  const std::regex fixed(R"(-?((0|[1-9]\d{0,8})\.(\d*[1-9])?|[1-9]\d{9}))");
  const std::regex exponent(R"(-?[1-9]\.(\d*[1-9])?e[-+]\d{3})");
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 100000; ++i) {
    const std::string ten = std::to_string(1000000000 + random() % 9000000000);
    const std::string leads[] = {"1", "9.9999999995", ten.substr(0, 1) + "." + ten.substr(1) + "5"};
    double v = FromBits(random());
    if (i % 4 != 0) {
      const int k = static_cast<int>(random() % 633) - 324;
      const double near =
          std::strtod((leads[i % 4 - 1] + "e" + std::to_string(k)).c_str(), nullptr);
      v = FromBits((BitsOf(near) + random() % 9 - 4) ^ random() << 63);
    }
    if (!std::isfinite(v)) continue;
    char rounded[32];
    std::snprintf(rounded, sizeof rounded, "%.9e", v);
    const std::string text = Format(v);
    const long double read = std::strtold(text.c_str(), nullptr);
    ASSERT_EQ(read, std::strtold(rounded, nullptr)) << text << " " << rounded;
    ASSERT_EQ(text[0] == '-', std::signbit(v)) << text;
    const bool small_or_large = read != 0 && (std::fabs(read) < 0.1L || std::fabs(read) >= 1e10L);
    ASSERT_TRUE(std::regex_match(text, small_or_large ? exponent : fixed)) << text;
    // The tokenizer reads it back within 7 units in the last place of strtod.
    const std::u16string units(text.begin(), text.end());
    qkxdr::impl::TextValue value;
    ASSERT_EQ(qkxdr::impl::ScanNumber(units.data(), units.data() + units.size(), &value),
              units.data() + units.size());
    const double x = value.kind == qkxdr::impl::TextValueKind::Real ? value.real : value.integer;
    const double nearest = std::strtod(text.c_str(), nullptr);
    if (std::fabs(nearest) < 1e-290) continue;
    ASSERT_EQ(std::signbit(x), std::signbit(v)) << text;
    const auto ulps = static_cast<int64_t>(BitsOf(std::fabs(x)) - BitsOf(std::fabs(nearest)));
    ASSERT_LE(std::llabs(ulps), 7) << text;
  }
}

// The exact text of each value, one encoder for all, commas between them.
std::u16string ExactText(const std::vector<double>& values) {
  qkxdr::impl::TextEncoder encoder;
  for (const double v : values) encoder.WriteDoubleExact(v);
  return {encoder.buffer().data(), encoder.buffer().size()};
}

TEST(DoubleFormat, ExactForms) {
  const struct {
    double v;
    std::u16string text;
  } cases[] = {
      {0.0, u"0."},
      {-0.0, u"-0."},
      {0.1, u"0.1"},
      {-1.5, u"-1.5"},
      {1.0 / 3, u"0.3333333333333333"},
      {0.05, u"5.e-002"},
      {100.0, u"100."},
      {1e9, u"1000000000."},
      {1234567891.0, u"1234567891."},  // the ten-digit form has no point here
      {123456789.125, u"123456789.125"},
      {1e10, u"1.e+010"},
      {1e22, u"1.e+022"},
      {1e23, u"1.e+023"},
      {9007199254740993.0, u"9.007199254740992e+015"},
      {1e300, u"1.e+300"},
      {DBL_MAX, u"1.7976931348623157e+308"},
      {-DBL_MIN, u"-2.2250738585072014e-308"},
      {DBL_MIN - DBL_TRUE_MIN, u"2.225073858507201e-308"},
      {DBL_TRUE_MIN, u"5.e-324"},
      {INFINITY, u"1.e+999"},
      {-INFINITY, u"-1.e+999"},
      {-NAN, u"0.e+999"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExactText({c.v}), c.text) << DoubleText(c.v);
  EXPECT_EQ(ExactText({1.5, -0.0, NAN}), u"1.5,-0.,0.e+999");
}

// What the exported reader makes of exact text: the same special values, and
// finite values within 7 units in the last place (the largest double may
// overflow). It computes powers of ten as doubles, and those below 1e-308
// are 1 / infinity: it reads the smallest values as zeros.
bool ReadCloseEnough(double read, double v) {
  if (std::isnan(v)) return std::isnan(read);
  if (std::isinf(v)) return read == v;
  if (std::fabs(v) < 1e-300) return std::fabs(read) < 1e-300;
  if (std::isinf(read) && v == std::copysign(DBL_MAX, v))
    return std::signbit(read) == std::signbit(v);
  const double ulp = std::nextafter(std::fabs(v), INFINITY) - std::fabs(v);
  return std::fabs(read - v) <= 7 * ulp;
}

// Edge values and random bit patterns (half of them between 1e-4 and 1e13,
// where the fixed form is): TextDecoder reads exact text back bit for bit,
// the exported reader as a Double close to it.
TEST(DoubleFormat, ExactTextReadsBackBitForBit) {
  std::vector<double> values = {
      0.0,          -0.0,    DBL_TRUE_MIN, -DBL_TRUE_MIN, DBL_MIN - DBL_TRUE_MIN,
      DBL_MIN,      DBL_MAX, -DBL_MAX,     INFINITY,      -INFINITY,
      NAN,          1e300,   0.1,          1.0 / 3,       1e22,
      1e23,         0x1p53,  0x1p53 + 2,   0x1p53 - 1,    9007199254740993.0,
      1234567891.0, 0.3};
  std::mt19937_64 random(20240612);
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = random();
    if (i % 2 == 0) bits = (bits & ~(uint64_t{0x7FF} << 52)) | (1010 + bits % 34) << 52;
    values.push_back(FromBits(bits));
  }
  const std::u16string text = ExactText(values);
  qkxdr::impl::TextDecoder decoder(text.data(), text.data() + text.size());
  const auto copy = ExactCopy(text);
  QkXDRIStream2* exported = QkXDRCreateTextIStream2(copy.get(), static_cast<uint32_t>(text.size()));
  for (const double v : values) {
    double exact = 0;
    double read = 0;
    ASSERT_TRUE(decoder.ReadDoubleExact(&exact)) << DoubleText(v);
    ASSERT_EQ(exported->PeekType(), QkXDRType2::Double) << DoubleText(v);
    ASSERT_TRUE(exported->ReadDouble(&read)) << DoubleText(v);
    if (std::isnan(v)) {
      ASSERT_TRUE(std::isnan(exact));
    } else {
      ASSERT_EQ(BitsOf(exact), BitsOf(v)) << DoubleText(v);
    }
    ASSERT_TRUE(ReadCloseEnough(read, v)) << DoubleText(v) << " read as " << DoubleText(read);
  }
  EXPECT_FALSE(decoder.IsValid());
  EXPECT_FALSE(exported->IsValid());
  exported->Release();
}

}  // namespace
}  // namespace test_values
