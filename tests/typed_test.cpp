// The typed layer: round trips of every supported type, records that gain or
// lose fields, failures with their code and place.

#include "qkxdr/typed.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <list>
#include <map>
#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "QkXDR.hpp"  // the C++ headers go together in one program
#include "counting_new.h"
#include "test_values.h"
#include "typed_values.h"

namespace typed_test {

// Values come back equal from both encodings, also into an object that held
// others (a failed read throws its message).
TEST(Typed, RoundTripsInBothEncodings) {
  Generator random(15);
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    const Everything value = random.Make();
    std::vector<uint8_t> bytes = {1, 2, 3};
    ASSERT_TRUE(qkxdr::to_binary(value, bytes));
    EXPECT_TRUE(qkxdr::from_binary<Everything>(bytes).value() == value);
    EXPECT_TRUE(qkxdr::from_text<Everything>(qkxdr::to_text(value).value()).value() == value);
    Everything reused = random.Make();
    EXPECT_TRUE(qkxdr::from_binary(bytes, reused));
    EXPECT_TRUE(reused == value);
  }
}

// The text form gives back every double bit for bit, and the exported
// reader takes it as a Double.
TEST(Typed, TextHoldsEveryDouble) {
  const double kEdges[] = {0.0,
                           -0.0,
                           5e-324,
                           -2.2250738585072009e-308,
                           1.7976931348623157e308,
                           1e300,
                           0.1,
                           HUGE_VAL,
                           -HUGE_VAL,
                           std::nan("")};
  for (const double x : kEdges) {
    const std::u16string text = qkxdr::to_text(x).value();
    const double back = qkxdr::from_text<double>(text).value();
    EXPECT_TRUE(std::isnan(x) ? std::isnan(back) : std::memcmp(&x, &back, sizeof x) == 0)
        << std::string(text.begin(), text.end());
    qkxdr::TextReader exported(text);
    EXPECT_EQ(exported.peek_type(), qkxdr::Type::Double) << std::string(text.begin(), text.end());
  }
}

// std::string is UTF-8 on the format's UTF-16 strings: the bytes the
// exported writer gives for the same text; Latin1 is WriteStringA's.
TEST(Typed, StringsAreUtf8OrLatin1) {
  const auto exported = [](auto write) {
    QkXDROStream2* out = QkXDRCreateOStream2();
    write(out);
    const auto* data = static_cast<const uint8_t*>(out->GetData());
    std::vector<uint8_t> bytes(data, data + out->GetSize());
    out->Release();
    return bytes;
  };
  EXPECT_EQ(qkxdr::to_binary(std::string("Z\xC3\xBCrich \xE2\x98\x83")).value(),
            exported([](QkXDROStream2* o) { o->WriteString(u"Z\u00FCrich \u2603"); }));
  EXPECT_EQ(qkxdr::to_binary(qkxdr::Latin1{"Z\xFC"}).value(),
            exported([](QkXDROStream2* o) { o->WriteStringA("Z\xFC"); }));
  EXPECT_EQ(qkxdr::from_binary<std::string>(test_values::Hex("A8 82 DA 7C 81")).value(),
            "Z\xC3\xBC");
}

struct V1 {
  int32_t id = 0;
  std::string name;
  QKXDR_FIELDS(id, name)
};
struct V2 {
  int32_t id = 0;
  std::string name;
  std::vector<int32_t> tags = {7};
  std::optional<double> score;
  std::vector<std::string> notes;
  std::vector<uint8_t> data;
  QKXDR_FIELDS(id, name, tags, score, notes, data)
};

// `from` written and read into `out`: the text form of out, or the failure.
template <typename From, typename To>
std::string Evolved(const From& from, To out, bool binary) {
  const qkxdr::Result<void> read = binary ? qkxdr::from_binary(qkxdr::to_binary(from).value(), out)
                                          : qkxdr::from_text(qkxdr::to_text(from).value(), out);
  const std::u16string text = qkxdr::to_text(out).value();
  return read ? std::string(text.begin(), text.end())
              : read.error().path() + ": " + read.error().detail();
}

// Missing trailing fields get their defaults, extra ones are skipped, a
// field whose type changed fails.
TEST(Typed, RecordsThatEvolve) {
  for (const bool binary : {true, false}) {
    EXPECT_EQ(
        Evolved(std::vector<V1>{{5, "ab"}}, std::vector<V2>{{1, "x", {9}, 1.0, {"y"}, {}}}, binary),
        "[[5,\"ab\",[7],[],[]\"0X\"]]");
    EXPECT_EQ(
        Evolved(std::vector<V2>{{6, "cd", {1, 2}, 2.5, {"x", "y"}, {1}}, {7, "e", {}, {}, {}, {}}},
                std::vector<V1>{}, binary),
        "[[6,\"cd\"],[7,\"e\"]]");
    EXPECT_EQ(Evolved(std::vector<V1>{{5, "ab"}}, std::vector<std::pair<int, double>>{}, binary),
              "[0][1]: expected Double, found String");
  }
}

using Code = qkxdr::ErrorCode;

template <typename T>
std::pair<Code, std::string> BinaryFailure(const std::string& hex) {
  const qkxdr::Error e = qkxdr::from_binary<T>(test_values::Hex(hex)).error();
  return {e.code(), e.message()};
}
template <typename T>
std::pair<Code, std::string> TextFailure(std::u16string_view text) {
  const qkxdr::Error e = qkxdr::from_text<T>(text).error();
  return {e.code(), e.message()};
}

// Data that does not fit the type, or is not whole: the first failure, with
// its code and place.
TEST(Typed, FailuresSayWhereAndWhy) {
  using Strings = std::vector<std::string>;
  using Ints = std::vector<int32_t>;
  const std::pair<std::pair<Code, std::string>, std::pair<Code, const char*>> kCases[] = {
      {BinaryFailure<Strings>(""), {Code::truncated, "at offset 0: expected Array, found the end"}},
      {BinaryFailure<std::vector<uint8_t>>("00 54 58 84 2A"),
       {Code::type_mismatch, "at offset 1: expected Binary, found ArrayBegin"}},
      {BinaryFailure<Ints>("00 2A 54 82"),
       {Code::malformed, "at offset 3: expected the end of the data, found more"}},
      // A string whose length says 4,294,967,295, in 8 bytes.
      {BinaryFailure<Strings>("00 A8 FF FF FF FF 8F 2A"),
       {Code::truncated, "at [0] (offset 2): a cut String"}},
      // Strings and blobs that declare more than they hold.
      {BinaryFailure<std::string>("A8 83 E1"), {Code::truncated, "at offset 1: a cut String"}},
      {BinaryFailure<std::u16string>("A8 86 E1 E2 E3 E4"),
       {Code::truncated, "at offset 1: a cut String"}},
      // Three units declared in three bytes, the last unit cut: two units.
      {BinaryFailure<std::string>("A8 83 E1 01 82"),
       {Code::truncated, "at offset 1: a cut String"}},
      {BinaryFailure<std::u16string>("A8 83 E1 01 82"),
       {Code::truncated, "at offset 1: a cut String"}},
      {BinaryFailure<std::vector<uint8_t>>("D2 83 01"),
       {Code::truncated, "at offset 1: a cut Binary"}},
      {BinaryFailure<Ints>("00 54 7F"), {Code::truncated, "at [0] (offset 2): a cut Int"}},
      {BinaryFailure<double>("7E 00"), {Code::truncated, "at offset 1: a cut number"}},
      {BinaryFailure<std::string>("A8 83 E1 80 E2"),
       {Code::unsupported, "at offset 1: a string holding U+0000"}},
      {TextFailure<qkxdr::Latin1>(u"'a\\u0103'"),
       {Code::out_of_range, "at offset 0: expected String of units up to U+00FF, found U+0103"}},
      // A run whose third value leaves the type's range.
      {BinaryFailure<std::vector<int8_t>>("00 5D 82 84 10 83 82 82 82 82 82 82 82 2A"),
       {Code::out_of_range, "at [2] (offset 4): expected Int in [-128, 127], found Int 200"}},
      {TextFailure<std::vector<Point>>(u"[[1,2.5],[3,'x']]"),
       {Code::type_mismatch, "at [1][1] (offset 12): expected Double, found String"}},
      {TextFailure<std::map<std::string, uint8_t>>(u"[['a',1],['b',300]]"),
       {Code::out_of_range, "at [1][1] (offset 14): expected Int in [0, 255], found Int 300"}},
      {TextFailure<std::variant<int, Point>>(u"[2,5]"),
       {Code::out_of_range, "at [0] (offset 1): expected Int below 2, found Int 2"}},
      {TextFailure<V2>(u"[1,'a',[1,'b']]"),
       {Code::type_mismatch, "at .tags[1] (offset 10): expected Int, found String"}},
      {TextFailure<int>(u"true"), {Code::malformed, "at offset 0: expected Int, found no value"}},
      // A record cut off after its fields: no end to skip to.
      {BinaryFailure<V1>("00 54 82 A8 80"),
       {Code::truncated, "at offset 5: expected ArrayEnd, found the end"}},
      // ... or inside the members it skips, however they are cut.
      {BinaryFailure<std::tuple<int>>("00 55 82 84"),
       {Code::truncated, "at offset 4: expected ArrayEnd, found the end"}},
      {TextFailure<std::tuple<int>>(u"[1, 2"),
       {Code::truncated, "at offset 5: expected ArrayEnd, found the end"}},
      {BinaryFailure<std::tuple<int>>("00 54 82 00 54 82 2A"),
       {Code::truncated, "at offset 7: expected ArrayEnd, found the end"}},
      {BinaryFailure<std::tuple<int>>("00 54 82 A8 83 E1 2A"),
       {Code::truncated, "at offset 4: a cut String"}},
      {BinaryFailure<std::tuple<int>>("00 54 82 D2 83 01 2A"),
       {Code::truncated, "at offset 4: a cut Binary"}},
      {BinaryFailure<std::tuple<int>>("00 54 82 7E 00 2A"),
       {Code::truncated, "at offset 4: a cut number"}},
      {BinaryFailure<std::tuple<int>>("00 54 82 FC 2A"),
       {Code::malformed, "at offset 4: expected ArrayEnd, found no value"}},
      // After the value: the end of the input and nothing else.
      {TextFailure<int>(u"1 true"),
       {Code::malformed, "at offset 2: expected the end of the data, found more"}},
      {TextFailure<Ints>(u"[1] }"),
       {Code::malformed, "at offset 4: expected the end of the data, found more"}},
      {BinaryFailure<int>("54 82 FC"),
       {Code::malformed, "at offset 3: expected the end of the data, found more"}},
  };
  for (const auto& [got, expected] : kCases) {
    EXPECT_EQ(got.first, expected.first) << got.second;
    EXPECT_EQ(got.second, expected.second);
  }
  // Skipped members are read whole but kept to no rule of a type: U+0000.
  EXPECT_TRUE(qkxdr::from_binary<std::tuple<int>>(test_values::Hex("00 54 82 A8 81 80 2A")));
  EXPECT_TRUE(qkxdr::from_text<int>(u" 1 ,"));
  // A double also reads from an Int.
  EXPECT_EQ(qkxdr::from_binary<double>(test_values::Hex("54 84")).value(), 2.0);
  EXPECT_EQ(qkxdr::from_text<float>(u"7").value(), 7.0f);
  std::u16string deep;
  for (int i = 0; i <= 2000; ++i) deep += u"['a',[";
  EXPECT_EQ(qkxdr::from_text<Node>(deep).error().code(), Code::too_deep);
  EXPECT_THROW(qkxdr::from_text<V2>(u"[1,'a',[1,'b']]").value(), qkxdr::BadResultAccess);
  // Nothing of a string's old contents shows through a cut one.
  std::string old = "XYZW";
  EXPECT_FALSE(qkxdr::from_binary(test_values::Hex("A8 83 E1"), old));
  EXPECT_EQ(old, "");
}

struct Big {
  std::array<int32_t, 1024> a{};
  QKXDR_FIELDS(a)
};

// Reads `in` as a T with `limits`: the outcome, and the most it held at once.
template <typename T>
std::pair<qkxdr::Result<void>, size_t> ReadHolding(const test_values::Bytes& in,
                                                   const qkxdr::ReadLimits& limits) {
  const size_t before = counting_new::counts().held;
  counting_new::ResetPeak();
  T out{};
  qkxdr::Result<void> read = qkxdr::from_binary(in, out, limits);
  return {std::move(read), counting_new::PeakSince(before)};
}

// Whatever the type makes of the input, a read holds at most three times
// its budget (containers hold up to twice what they count while they grow):
// arrays of empty values read as large elements are refused, arrays of
// numbers and strings of their own size pass.
TEST(Typed, MemoryIsBoundedByTheInput) {
  using Read = std::pair<qkxdr::Result<void>, size_t> (*)(const test_values::Bytes&,
                                                          const qkxdr::ReadLimits&);
  const struct {
    Read read;
    const char* head;
    const char* unit;
    const char* tail;
    bool passes;
  } kCases[] = {
      {ReadHolding<std::vector<Big>>, "00", "00 2A", "2A", false},
      {ReadHolding<std::list<Big>>, "00", "00 2A", "2A", false},
      {ReadHolding<std::deque<std::optional<Big>>>, "00", "00 2A", "2A", false},
      {ReadHolding<std::vector<std::vector<int64_t>>>, "00", "00 54 80 2A", "2A", false},
      {ReadHolding<Node>, "00 A8 80 00", "00 2A", "2A 2A", false},
      {ReadHolding<std::vector<std::string>>, "00", "D1 80*42", "2A", false},  // empty strings
      {ReadHolding<std::vector<int64_t>>, "00", "7D 80*42", "2A", true},       // 1-byte Ints
      {ReadHolding<std::vector<double>>, "00", "A7 00*336", "2A", true},
      {ReadHolding<std::vector<std::string>>, "00", "A8 88 E1*8", "2A", true},  // "aaaaaaaa"
  };
  qkxdr::ReadLimits limits;
  limits.memory_per_unit = 16;
  limits.memory_base = 4 << 10;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.unit);
    std::string hex = c.head;
    for (int i = 0; i < 8192; ++i) hex += std::string(" ") + c.unit;
    const test_values::Bytes in = test_values::Hex(hex + " " + c.tail);
    const auto [read, held] = c.read(in, limits);
    EXPECT_EQ(read.error().code(), c.passes ? Code::no_value : Code::too_large);
    EXPECT_LE(held, 3 * limits.budget(in.size()));
  }
  // The caller raises the budget.
  std::string hex = "00";
  for (int i = 0; i < 300; ++i) hex += " 00 2A";
  const test_values::Bytes empties = test_values::Hex(hex + " 2A");
  EXPECT_FALSE(qkxdr::from_binary<std::vector<Big>>(empties, limits));
  limits.memory_per_unit = 4096;
  EXPECT_EQ(qkxdr::from_binary<std::vector<Big>>(empties, limits).value().size(), 300u);
}

// Values that have no form in the format are refused whole, with nothing
// written.
TEST(Typed, WritesRefuseWhatHasNoForm) {
  std::vector<uint8_t> out = {1, 2};
  const qkxdr::Result<void> zero =
      qkxdr::to_binary(std::vector<std::string>{"a", std::string("b\0c", 3)}, out);
  EXPECT_EQ(zero.error().code(), Code::unsupported);
  EXPECT_EQ(zero.error().message(), "a string holding U+0000");
  EXPECT_TRUE(out.empty());
  for (const std::size_t n : {3, 9, 20}) {
    for (const std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
      std::string s(n, 'x');
      s[at] = '\0';
      EXPECT_FALSE(qkxdr::to_binary(s)) << n << " " << at;
      EXPECT_FALSE(qkxdr::to_text(s)) << n << " " << at;
    }
  }
  EXPECT_FALSE(qkxdr::to_text(std::u16string(u"\0", 1)));
  EXPECT_FALSE(qkxdr::to_binary(qkxdr::Latin1{std::string(2, '\0')}));
}

}  // namespace typed_test
