// Typed values of every supported type, one record holding them all, and a
// generator of random ones: for the typed tests and the typed fuzz target.

#ifndef QKXDR_TESTS_TYPED_VALUES_H_
#define QKXDR_TESTS_TYPED_VALUES_H_

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <list>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "qkxdr/latin1.hpp"
#include "qkxdr/typed.hpp"

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
  qkxdr::Latin1 latin1;
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
  QKXDR_FIELDS(ints, flag, color, f, d, narrow, wide, latin1, blob, hash, numbers, corners, ds,
               samples, names, keys, bits, pair, tuple, by_name, maybe, choice, tree)
  bool operator==(const Everything& o) const { return qkxdr_fields() == o.qkxdr_fields(); }
};

// Random values of every member: any double but NaN, any string without
// U+0000 (invalid UTF-8 and unpaired surrogates included).
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
    e.latin1.bytes = Text<std::string>();
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
    const T edges[] = {(Limits::min)(), (Limits::max)(), 0, static_cast<T>((Limits::max)() / 3)};
    if (Below(4) == 0) return edges[Below(4)];
    return static_cast<T>(uint64_t{random_()} << 32 | random_()) >> Below(sizeof(T) * 8);
  }
  // Any bits but a NaN's; small integers one time in four.
  double Double() {
    if (Below(4) == 0) return Below(1000);
    double v;
    do {
      const uint64_t bits = uint64_t{random_()} << 32 | random_();
      std::memcpy(&v, &bits, sizeof v);
    } while (std::isnan(v));
    return v;
  }
  // Now and then 40 units long; all units below 0x80, or half of them (8-bit
  // strings: any byte; UTF-16: any unit, surrogates included); never zero.
  template <typename S>
  S Text() {
    const bool ascii = Below(2);
    S s(Below(16) == 0 ? 40 : Below(12), 0);
    const uint32_t units = sizeof(s[0]) == 1 ? 0x100 : 0x10000;
    for (auto& unit : s) {
      unit = static_cast<typename S::value_type>(1 + random_() %
                                                         ((ascii || Below(2) ? 0x80 : units) - 1));
    }
    if (Below(8) == 0) s = {'0', 'x', '1', '2'};
    return s;
  }
  Point MakePoint() {
    Point p{Int<int32_t>(), Double()};
    return p;
  }
  Node MakeNode(int depth) {
    Node node{Text<std::u16string>(), {}};
    for (uint32_t n = depth == 0 ? 0 : Below(3); n > 0; --n)
      node.children.push_back(MakeNode(depth - 1));
    return node;
  }

  std::mt19937 random_;
};

}  // namespace typed_test

#endif  // QKXDR_TESTS_TYPED_VALUES_H_
