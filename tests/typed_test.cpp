// The typed layer: round trips of every supported type through both
// encodings, the same bytes as the exported writers, records that gain or
// lose fields, and failures with their place for damaged data.

#include "qkxdr/typed.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "QkXDR.hpp"  // the two C++ headers go together in one program
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
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
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
  std::unordered_map<int, std::vector<uint8_t>> by_id;
  std::optional<Point> maybe;
  std::optional<int> nothing;
  std::variant<int, std::string, Point> choice;
  Node tree;
  QKXDR_FIELDS(i8, u8, i16, u16, i32, u32, i64, u64, flag, color, f, d, narrow, wide, blob, hash,
               numbers, corners, ds, samples, names, keys, bits, pair, tuple, by_name, by_id, maybe,
               nothing, choice, tree)
  bool operator==(const Everything& o) const { return qkxdr_fields() == o.qkxdr_fields(); }
};

// Random values of every member, with doubles that the text form's ten
// significant digits hold exactly and strings with every kind of unit.
class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  Everything Make(int depth = 2) {
    Everything e;
    e.i8 = Int<int8_t>();
    e.u8 = Int<uint8_t>();
    e.i16 = Int<int16_t>();
    e.u16 = Int<uint16_t>();
    e.i32 = Int<int32_t>();
    e.u32 = Int<uint32_t>();
    e.i64 = Int<int64_t>();
    e.u64 = Int<uint64_t>();
    e.flag = Below(2);
    e.color = Below(2) ? Color::Red : Color::Blue;
    e.f = static_cast<float>(Double());
    e.d = Double();
    e.narrow = Narrow();
    e.wide = Wide();
    for (uint32_t n = Below(40); n > 0; --n) e.blob.push_back(Int<uint8_t>());
    for (std::byte& b : e.hash) b = std::byte{Int<uint8_t>()};
    for (uint32_t n = Below(100); n > 0; --n) e.numbers.push_back(Int<int64_t>());
    for (uint32_t n = Below(100); n > 0; --n) e.samples.push_back(Double());
    for (Point& p : e.corners) p = MakePoint();
    for (uint32_t n = Below(5); n > 0; --n) e.ds.push_back(Double());
    for (uint32_t n = Below(5); n > 0; --n) e.names.push_back(Narrow());
    for (uint32_t n = Below(5); n > 0; --n) e.keys.insert(Int<int>());
    for (uint32_t n = Below(9); n > 0; --n) e.bits.push_back(Below(2));
    e.pair = {Int<int>(), Wide()};
    e.tuple = {Int<uint8_t>(), MakePoint(), {Wide(), Wide()}};
    for (uint32_t n = Below(4); n > 0; --n) e.by_name[Narrow()] = MakePoint();
    for (uint32_t n = Below(4); n > 0; --n) e.by_id[Int<int>()] = {Int<uint8_t>(), 0};
    if (Below(2)) e.maybe = MakePoint();
    const uint32_t choice = Below(3);
    if (choice == 1) e.choice = Narrow();
    if (choice == 2) e.choice = MakePoint();
    e.tree = MakeNode(depth);
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
  std::string Narrow() {
    std::string s;
    for (uint32_t n = Below(12); n > 0; --n) s += static_cast<char>(Below(256));
    return Below(8) == 0 ? "0x12" : s;
  }
  std::u16string Wide() {
    std::u16string s;
    for (uint32_t n = Below(12); n > 0; --n)
      s += static_cast<char16_t>(Below(2) ? Below(128) : random_());
    return s;
  }
  Point MakePoint() { return {Int<int32_t>(), Double()}; }
  Node MakeNode(int depth) {
    Node node{Wide(), {}};
    for (uint32_t n = depth == 0 ? 0 : Below(3); n > 0; --n)
      node.children.push_back(MakeNode(depth - 1));
    return node;
  }

  std::mt19937 random_;
};

// Every supported type comes back equal from both encodings, and reading
// into an object that held other values replaces them.
TEST(Typed, EveryTypeRoundTrips) {
  Generator random(15);
  for (int round = 0; round < 300 && !HasFailure(); ++round) {
    const Everything value = random.Make();
    const qkxdr::Result<Everything> binary =
        qkxdr::from_binary<Everything>(qkxdr::to_binary(value));
    ASSERT_TRUE(binary) << binary.error().message();
    EXPECT_TRUE(*binary == value) << round;
    const qkxdr::Result<Everything> text = qkxdr::from_text<Everything>(qkxdr::to_text(value));
    ASSERT_TRUE(text) << text.error().message();
    EXPECT_TRUE(*text == value) << round;

    Everything reused = random.Make();
    std::vector<uint8_t> bytes = {1, 2, 3};
    qkxdr::to_binary(value, bytes);
    ASSERT_TRUE(qkxdr::from_binary(bytes, reused));
    EXPECT_TRUE(reused == value) << round;
  }
}

// Forwards the typed layer's calls to an exported second-generation writer,
// numbers one at a time.
class ExportedWriter : public qkxdr::impl::EncoderWrites<ExportedWriter> {
 public:
  explicit ExportedWriter(QkXDROStream2* out) : out_(out) {}
  void WriteInt(int32_t v) { out_->WriteInt(v); }
  void WriteInt64(int64_t v) {
    v >= INT32_MIN&& v <= INT32_MAX ? out_->WriteInt(static_cast<int32_t>(v)) : out_->WriteInt64(v);
  }
  void WriteDouble(double v) { out_->WriteDouble(v); }
  void WriteString(const char16_t* s, size_t n) { out_->WriteString(std::u16string(s, n).c_str()); }
  void WriteStringA(const char* s, size_t n) { out_->WriteStringA(std::string(s, n).c_str()); }
  void WriteBytes(const uint8_t* p, uint32_t n) {
    QkXDRBinary slot{};
    QkXDRBinaryAttach(&slot, p, n);
    out_->WriteBinary(&slot);
    QkXDRBinaryFree(&slot);
  }
  void BeginArray() { out_->BeginArray(); }
  void EndArray() { out_->EndArray(); }

 private:
  QkXDROStream2* out_;
};

// What the exported writer gives for the calls the typed layer makes for v.
template <typename T>
std::vector<uint8_t> ThroughExports(QkXDROStream2* stream, const T& v) {
  ExportedWriter writer(stream);
  qkxdr::detail::Write(writer, v);
  const auto* data = static_cast<const uint8_t*>(stream->GetData());
  std::vector<uint8_t> bytes(data, data + stream->GetSize());
  stream->Release();
  return bytes;
}

// The typed writers give byte for byte what the exported ones give for the
// same calls (strings without zero units, which those cannot take).
TEST(Typed, SameBytesAsTheExportedWriters) {
  Generator random(16);
  for (int round = 0; round < 200 && !HasFailure(); ++round) {
    Everything clean = random.Make();
    auto strip = [](auto& s) { s.erase(std::remove(s.begin(), s.end(), 0), s.end()); };
    strip(clean.narrow);
    strip(clean.wide);
    strip(clean.pair.second);
    for (auto& s : std::get<2>(clean.tuple)) strip(s);
    for (auto& s : clean.names) strip(s);
    std::map<std::string, Point> by_name;
    for (auto [name, p] : clean.by_name) {
      std::string key = name;
      strip(key);
      by_name[key] = p;
    }
    clean.by_name = by_name;
    if (auto* s = std::get_if<std::string>(&clean.choice)) strip(*s);
    std::vector<Node*> nodes = {&clean.tree};
    while (!nodes.empty()) {
      Node* node = nodes.back();
      nodes.pop_back();
      strip(node->name);
      for (Node& child : node->children) nodes.push_back(&child);
    }
    EXPECT_EQ(qkxdr::to_binary(clean), ThroughExports(QkXDRCreateOStream2(), clean)) << round;
    const std::u16string text = qkxdr::to_text(clean);
    const std::vector<uint8_t> exported = ThroughExports(QkXDRCreateTextOStream2(), clean);
    EXPECT_EQ(text.size() * 2, exported.size());
    EXPECT_EQ(std::memcmp(text.data(), exported.data(), exported.size()), 0) << round;
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
  QKXDR_FIELDS(id, name, tags, score)
};
struct V2Changed {
  int32_t id = 0;
  double name = 0;  // was a string
  QKXDR_FIELDS(id, name)
};

// Old writer, new reader: missing trailing fields get their defaults, also
// over an element that held other values. New
// writer, old reader: extra fields are skipped, nested values and all. A
// field whose type changed is a failure at its place. Both encodings.
TEST(Typed, RecordsThatEvolve) {
  const auto check = [](auto to, auto from) {
    const auto newer = from(to(std::vector<V1>{{5, "ab"}}), std::vector<V2>{{1, "x", {9}, 1.0}});
    ASSERT_TRUE(newer.first) << newer.first.error().message();
    EXPECT_TRUE(newer.second.at(0).id == 5 && newer.second[0].name == "ab" &&
                newer.second[0].tags == std::vector<int32_t>{7} && !newer.second[0].score);
    const auto older =
        from(to(std::vector<V2>{{6, "cd", {1, 2, 3}, 2.5}, {7, "e", {}, {}}}), std::vector<V1>{});
    ASSERT_TRUE(older.first) << older.first.error().message();
    EXPECT_TRUE(older.second.size() == 2 && older.second[1].id == 7 && older.second[1].name == "e");
    const auto changed = from(to(std::vector<V1>{{5, "ab"}}), std::vector<V2Changed>{});
    ASSERT_FALSE(changed.first);
    EXPECT_EQ(changed.first.error().path, "[0].name");
    EXPECT_EQ(changed.first.error().expected + " / " + changed.first.error().found,
              "Double / String");
  };
  check([](const auto& v) { return qkxdr::to_binary(v); },
        [](const auto& bytes, auto out) {
          const qkxdr::ReadStatus status = qkxdr::from_binary(bytes, out);
          return std::make_pair(status, out);
        });
  check([](const auto& v) { return qkxdr::to_text(v); },
        [](const auto& text, auto out) {
          const qkxdr::ReadStatus status = qkxdr::from_text(text, out);
          return std::make_pair(status, out);
        });
}

// Data that does not fit the type: the first failure, with its place.
TEST(Typed, FailuresSayWhereAndWhy) {
  using test_values::Hex;
  const auto strings = [](const std::vector<uint8_t>& bytes) {
    return qkxdr::from_binary<std::vector<std::string>>(bytes).error().message();
  };
  const auto ints = [](const std::vector<uint8_t>& bytes) {
    return qkxdr::from_binary<std::vector<int32_t>>(bytes).error().message();
  };
  const auto blob = [](const std::vector<uint8_t>& bytes) {
    return qkxdr::from_binary<std::vector<uint8_t>>(bytes).error().message();
  };
  EXPECT_EQ(strings(Hex("")), "at the top (offset 0): expected Array, found end of data");
  EXPECT_EQ(blob(Hex("00 54 58 84 2A")),
            "at the top (offset 1): expected Binary, found ArrayBegin");
  EXPECT_EQ(ints(Hex("00 2A 54 82")), "at the top (offset 3): expected end of data, found Int");
  // A string whose length says 4,294,967,295, in 8 bytes.
  EXPECT_EQ(strings(Hex("00 A8 FF FF FF FF 8F 2A")),
            "at [0] (offset 2): expected String, found a damaged string");
  EXPECT_EQ(ints(Hex("00 54 7F")), "at [0] (offset 2): expected Int, found a damaged Int");
  // A run whose third value leaves the type's range.
  EXPECT_EQ(
      qkxdr::from_binary<std::vector<int8_t>>(Hex("00 5D 82 84 10 83 82 82 82 82 82 82 82 2A"))
          .error()
          .message(),
      "at [2] (offset 4): expected Int in [-128, 127], found Int 200");
  // Ranges, and paths through records, maps, variants and text offsets.
  const auto points = qkxdr::from_text<std::vector<Point>>(u"[[1,2.5],[3,'x']]");
  EXPECT_EQ(points.error().message(), "at [1][1] (offset 12): expected Double, found String");
  const auto small = qkxdr::from_text<std::map<std::string, uint8_t>>(u"[['a',1],['b',300]]");
  EXPECT_EQ(small.error().message(),
            "at [1][1] (offset 14): expected Int in [0, 255], found Int 300");
  const auto variant = qkxdr::from_text<std::variant<int, Point>>(u"[2,5]");
  EXPECT_EQ(variant.error().message(), "at [0] (offset 1): expected Int below 2, found Int 2");
  const auto v2 = qkxdr::from_text<V2>(u"[1,'a',[1,'b']]");
  EXPECT_EQ(v2.error().message(), "at .tags[1] (offset 10): expected Int, found String");
  EXPECT_THROW(v2.value(), qkxdr::ReadFailure);
}

// Every prefix and every one-byte change of a value's encoding is read
// without a crash or a read beyond it (AddressSanitizer), and a prefix is
// never taken for the whole; nesting deeper than the limit is refused.
TEST(Typed, DamagedInputFailsSafely) {
  const std::vector<uint8_t> bytes = qkxdr::to_binary(Generator(17).Make());
  const std::u16string text = qkxdr::to_text(Generator(17).Make());
  for (size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + n);
    EXPECT_FALSE(qkxdr::from_binary<Everything>(prefix)) << n;
    std::vector<uint8_t> changed = bytes;
    changed[n] ^= static_cast<uint8_t>(1 + n % 255);
    static_cast<void>(qkxdr::from_binary<Everything>(changed));
  }
  for (size_t n = 0; n < text.size(); ++n) {
    const std::unique_ptr<char16_t[]> copy(new char16_t[n + 1]);
    std::copy(text.begin(), text.begin() + n, copy.get());
    EXPECT_FALSE(qkxdr::from_text<Everything>(std::u16string_view(copy.get(), n))) << n;
  }
  std::u16string deep = u"['a',[";
  for (int i = 0; i < 2000; ++i) deep += u"['a',[";
  const auto tree = qkxdr::from_text<Node>(deep);
  EXPECT_EQ(tree.error().expected, "Array nested at most 512 deep");
}

}  // namespace typed_test
