// The typed layer: round trips of every supported type, records that gain or
// lose fields, failures with their place.

#include "qkxdr/typed.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "QkXDR.hpp"  // the C++ headers go together in one program
#include "test_values.h"

namespace typed_test {

enum class Color : uint8_t { Red = 1, Blue = 200 };

// A record made serializable from outside, as for a type one cannot change.
struct Point {
  int32_t x = 0;
  double y = 0;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};
inline auto qkxdr_fields(Point& p) { return std::tie(p.x, p.y); }

struct Node {
  std::u16string name;
  std::vector<Node> children;
  QKXDR_FIELDS(name, children)
  bool operator==(const Node& o) const { return name == o.name && children == o.children; }
};

struct Everything {
  std::tuple<int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t, uint64_t, char> ints;
  bool flag = false;
  Color color = Color::Red;
  float f = 0;
  double d = 0;
  std::string narrow;
  std::u16string wide;
  std::vector<uint8_t> blob;
  std::array<std::byte, 3> hash{};
  std::vector<int64_t> numbers;
  std::array<Point, 2> corners{};
  std::deque<double> ds;
  std::vector<double> samples;
  std::list<std::string> names;
  std::set<int> keys;
  std::vector<bool> bits;
  std::pair<int, std::u16string> pair;
  std::tuple<uint8_t, Point, std::vector<std::u16string>> tuple;
  std::map<std::string, Point> by_name;
  std::optional<Point> maybe;
  std::variant<int, std::string, Point> choice;
  Node tree;
  QKXDR_FIELDS(ints, flag, color, f, d, narrow, wide, blob, hash, numbers, corners, ds, samples,
               names, keys, bits, pair, tuple, by_name, maybe, choice, tree)
  bool operator==(const Everything& o) const { return qkxdr_fields() == o.qkxdr_fields(); }
};

// Random values of every member; doubles that the text form holds exactly.
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  Everything Make() {
    Everything e;
    std::apply([this](auto&... v) { ((v = Int<std::decay_t<decltype(v)>>()), ...); }, e.ints);
    e.flag = Below(2);
    e.color = Below(2) ? Color::Red : Color::Blue;
    e.f = static_cast<float>(Double());
    e.d = Double();
    e.narrow = Text<std::string>();
    e.wide = Text<std::u16string>();
    for (uint32_t n = Below(40); n > 0; --n) e.blob.push_back(Int<uint8_t>());
    for (std::byte& b : e.hash) b = std::byte{Int<uint8_t>()};
    for (uint32_t n = Below(100); n > 0; --n) e.numbers.push_back(Int<int64_t>());
    for (uint32_t n = Below(100); n > 0; --n) e.samples.push_back(Double());
    for (Point& p : e.corners) p = MakePoint();
    for (uint32_t n = Below(5); n > 0; --n) e.ds.push_back(Double());
    for (uint32_t n = Below(5); n > 0; --n) e.names.push_back(Text<std::string>());
    for (uint32_t n = Below(5); n > 0; --n) e.keys.insert(Int<int>());
    for (uint32_t n = Below(9); n > 0; --n) e.bits.push_back(Below(2));
    e.pair = {Int<int>(), Text<std::u16string>()};
    e.tuple = {Int<uint8_t>(), MakePoint(), {Text<std::u16string>(), Text<std::u16string>()}};
    for (uint32_t n = Below(4); n > 0; --n) e.by_name[Text<std::string>()] = MakePoint();
    if (Below(2)) e.maybe = MakePoint();
    const uint32_t choice = Below(3);
    if (choice == 1) e.choice = Text<std::string>();
    if (choice == 2) e.choice = MakePoint();
    e.tree = MakeNode(2);
    return e;
  }

 private:
  uint32_t Below(uint32_t n) { return random_() % n; }

  // Edges of the type's range one time in four.
  template <typename T>
  T Int() {
    using Limits = std::numeric_limits<T>;
    const T edges[] = {Limits::min(), Limits::max(), 0, static_cast<T>(Limits::max() / 3)};
    if (Below(4) == 0) return edges[Below(4)];
    return static_cast<T>(uint64_t{random_()} << 32 | random_()) >> Below(sizeof(T) * 8);
  }
  // Below 2^23 in eighths: at most ten significant digits.
  double Double() {
    return static_cast<double>(static_cast<int32_t>(random_()) >> (6 + Below(26))) / 8;
  }
  // Now and then 40 units long; all units below 0x80, or half of them.
  template <typename S>
  S Text() {
    const bool ascii = Below(2);
    S s(Below(16) == 0 ? 40 : Below(12), 0);
    for (auto& unit : s)
      unit = static_cast<typename S::value_type>(random_() % (ascii || Below(2) ? 0x80 : 0x10000));
    if (Below(8) == 0) s = {'0', 'x', '1', '2'};
    return s;
  }
  Point MakePoint() { return {Int<int32_t>(), Double()}; }
  Node MakeNode(int depth) {
    Node node{Text<std::u16string>(), {}};
    for (uint32_t n = depth == 0 ? 0 : Below(3); n > 0; --n)
      node.children.push_back(MakeNode(depth - 1));
    return node;
  }

  std::mt19937 random_;
};

// Values come back equal from both encodings, also into an object that held
// others (a failed read throws its message).
TEST(Typed, RoundTripsInBothEncodings) {
  Generator random(15);
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    const Everything value = random.Make();
    std::vector<uint8_t> bytes = {1, 2, 3};
    qkxdr::to_binary(value, bytes);
    EXPECT_TRUE(qkxdr::from_binary<Everything>(bytes).value() == value);
    EXPECT_TRUE(qkxdr::from_text<Everything>(qkxdr::to_text(value)).value() == value);
    Everything reused = random.Make();
    EXPECT_TRUE(qkxdr::from_binary(bytes, reused));
    EXPECT_TRUE(reused == value);
  }
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
  const qkxdr::ReadStatus status = binary ? qkxdr::from_binary(qkxdr::to_binary(from), out)
                                          : qkxdr::from_text(qkxdr::to_text(from), out);
  const std::u16string text = qkxdr::to_text(out);
  const qkxdr::ReadError& e = status.error();
  return status ? std::string(text.begin(), text.end())
                : e.path + ": " + e.expected + " / " + e.found;
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
              "[0][1]: Double / String");
  }
}

template <typename T>
std::string BinaryFailure(const std::string& hex) {
  return qkxdr::from_binary<T>(test_values::Hex(hex)).error().message();
}
template <typename T>
std::string TextFailure(std::u16string_view text) {
  return qkxdr::from_text<T>(text).error().message();
}

// Data that does not fit the type: the first failure, with its place.
TEST(Typed, FailuresSayWhereAndWhy) {
  using Strings = std::vector<std::string>;
  using Ints = std::vector<int32_t>;
  const std::pair<std::string, const char*> kCases[] = {
      {BinaryFailure<Strings>(""), "at the top (offset 0): expected Array, found end of data"},
      {BinaryFailure<std::vector<uint8_t>>("00 54 58 84 2A"),
       "at the top (offset 1): expected Binary, found ArrayBegin"},
      {BinaryFailure<Ints>("00 2A 54 82"),
       "at the top (offset 3): expected end of data, found Int"},
      // A string whose length says 4,294,967,295, in 8 bytes.
      {BinaryFailure<Strings>("00 A8 FF FF FF FF 8F 2A"),
       "at [0] (offset 2): expected String, found a damaged string"},
      {BinaryFailure<Ints>("00 54 7F"), "at [0] (offset 2): expected Int, found a damaged Int"},
      {BinaryFailure<double>("7E 00"),
       "at the top (offset 1): expected Double, found a damaged number"},
      // A run whose third value leaves the type's range.
      {BinaryFailure<std::vector<int8_t>>("00 5D 82 84 10 83 82 82 82 82 82 82 82 2A"),
       "at [2] (offset 4): expected Int in [-128, 127], found Int 200"},
      {TextFailure<std::vector<Point>>(u"[[1,2.5],[3,'x']]"),
       "at [1][1] (offset 12): expected Double, found String"},
      {TextFailure<std::map<std::string, uint8_t>>(u"[['a',1],['b',300]]"),
       "at [1][1] (offset 14): expected Int in [0, 255], found Int 300"},
      {TextFailure<std::variant<int, Point>>(u"[2,5]"),
       "at [0] (offset 1): expected Int below 2, found Int 2"},
      {TextFailure<V2>(u"[1,'a',[1,'b']]"), "at .tags[1] (offset 10): expected Int, found String"},
      // A record cut off after its fields: no end to skip to.
      {BinaryFailure<V1>("00 54 82 A8 80"),
       "at the top (offset 5): expected ArrayEnd, found end of data"},
  };
  for (const auto& [message, expected] : kCases) EXPECT_EQ(message, expected);
  // A double also reads from an Int.
  EXPECT_EQ(qkxdr::from_binary<double>(test_values::Hex("54 84")).value(), 2.0);
  EXPECT_EQ(qkxdr::from_text<float>(u"7").value(), 7.0f);
  std::u16string deep;
  for (int i = 0; i <= 2000; ++i) deep += u"['a',[";
  EXPECT_EQ(qkxdr::from_text<Node>(deep).error().expected, "Array nested at most 512 deep");
  EXPECT_THROW(qkxdr::from_text<V2>(u"[1,'a',[1,'b']]").value(), qkxdr::ReadFailure);
}

}  // namespace typed_test
