// The C++ layer: what each write hands to the C interface, what each read
// makes of what the C interface delivers, ownership of streams and blobs,
// and round trips through the library's own streams.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "QkXDR.hpp"

namespace {

using Log = std::vector<std::string>;

std::string Narrow(const char16_t* s) {
  std::string out;
  for (; *s; ++s) out += static_cast<char>(*s);
  return out;
}

// A writer that logs each call it receives, and the last pointer it got.
class FakeOStream final : public QkXDROStream2 {
 public:
  explicit FakeOStream(Log& log) : log_(log) {}
  void WriteStringA(const char* s) override { Note("StringA " + std::string(s), s); }
  void WriteBinary(const QkXDRBinary* blob) override {
    Note("Binary " + std::to_string(QkXDRBinarySize(blob)), QkXDRBinaryData(blob));
  }
  void WriteInt64(int64_t v) override { Note("Int64 " + std::to_string(v)); }
  void WriteString(const char16_t* s) override { Note("String " + Narrow(s), s); }
  void WriteDouble(double v) override { Note("Double " + std::to_string(v)); }
  void WriteInt(int32_t v) override { Note("Int " + std::to_string(v)); }
  void BeginArray() override { Note("Begin"); }
  void EndArray() override { Note("End"); }
  const void* GetData() override { return nullptr; }
  uint32_t GetSize() override { return 0; }
  void Release() override { Note("Release"); }

  const void* last = nullptr;

 private:
  void Note(std::string call, const void* pointer = nullptr) {
    log_.push_back(std::move(call));
    last = pointer;
  }
  Log& log_;
};

// A reader whose string reads ask for `count` units (when `alloc`) and fill
// them from "abcdef"; every read returns `result`.
class FakeIStream final : public QkXDRIStream2 {
 public:
  explicit FakeIStream(Log& log) : log_(log) {}
  bool ReadStringA(QkXDRAllocator* a) override { return Deliver<char>(a); }
  bool ReadBinary(QkXDRBinary* slot) override {
    if (result) QkXDRBinaryAttach(slot, "xyz", 3);
    return result;
  }
  bool ReadInt64(int64_t* v) override { return Number(v, int64_t{-5000000000}); }
  bool ReadString(QkXDRAllocator* a) override { return Deliver<char16_t>(a); }
  bool ReadDouble(double* v) override { return Number(v, 2.5); }
  bool ReadInt(int32_t* v) override { return Number(v, int32_t{-7}); }
  QkXDRType2 ReadType() override { return QkXDRType2::Int; }
  QkXDRType2 PeekType() override { return QkXDRType2::Double; }
  bool ReadBeginArray() override { return result; }
  bool ReadEndArray() override { return result; }
  void Skip() override { log_.push_back("Skip"); }
  bool IsValid() override { return result; }
  void Release() override { log_.push_back("Release"); }

  bool result = true;
  bool alloc = true;
  uint32_t count = 0;
  void* given = nullptr;  // what Alloc returned

 private:
  template <typename T>
  bool Number(T* out, T v) {
    if (result) *out = v;
    return result;
  }
  template <typename Unit>
  bool Deliver(QkXDRAllocator* allocator) {
    if (!result || !alloc) return result;
    given = allocator->Alloc(count);
    for (uint32_t i = 0; given && i < count; ++i) static_cast<Unit*>(given)[i] = Unit('a' + i % 6);
    return true;
  }
  Log& log_;
};

// Owners over the fakes, through the constructors that the factories use.
struct AdoptedWriter : qkxdr::Writer {
  explicit AdoptedWriter(QkXDROStream2* s) : Writer(s) {}
};
struct AdoptedReader : qkxdr::Reader {
  AdoptedReader(QkXDRIStream2* s, size_t limit) : Reader(s, limit) {}
};

#if SIZE_MAX > UINT32_MAX
constexpr size_t k4G = size_t{1} << 32;  // one more than a 32-bit count
#endif

// Readers refuse temporaries whose storage would die before them.
static_assert(!std::is_constructible_v<qkxdr::BinaryReader, std::vector<uint8_t>>);
static_assert(std::is_constructible_v<qkxdr::BinaryReader, std::vector<uint8_t>&>);
static_assert(std::is_constructible_v<qkxdr::BinaryReader, const std::array<std::byte, 2>&>);
static_assert(!std::is_constructible_v<qkxdr::BinaryReader, const std::string&>);
static_assert(!std::is_constructible_v<qkxdr::TextReader, std::u16string>);
static_assert(std::is_constructible_v<qkxdr::TextReader, const std::u16string&>);
static_assert(std::is_constructible_v<qkxdr::TextReader, const char16_t (&)[3]>);
static_assert(!std::is_copy_constructible_v<qkxdr::Writer>);
static_assert(std::is_nothrow_move_constructible_v<qkxdr::Blob>);

TEST(CppWriter, HandsEachValueToTheRightWrite) {
  const char16_t zero_inside[] = u"ab\0cd";
  const std::vector<uint8_t> bytes{1, 2, 3};
  const std::array<std::byte, 2> raw{};
  struct Case {
    const char* name;
    std::function<bool(qkxdr::Writer&)> write;
    bool result;
    std::string call;  // empty: nothing reaches the stream
    const void* pointer = nullptr;
  };
  const Case cases[] = {
    {"int8", [](auto& w) { return w.write(int8_t{-128}); }, true, "Int -128"},
    {"uint16", [](auto& w) { return w.write(uint16_t{65535}); }, true, "Int 65535"},
    {"int32 min", [](auto& w) { return w.write(INT32_MIN); }, true, "Int -2147483648"},
    {"uint32 fits", [](auto& w) { return w.write(uint32_t{INT32_MAX}); }, true, "Int 2147483647"},
    {"uint32 over", [](auto& w) { return w.write(uint32_t{1} << 31); }, true, "Int64 2147483648"},
    {"int64 fits", [](auto& w) { return w.write(int64_t{-5}); }, true, "Int -5"},
    {"int64 below", [](auto& w) { return w.write(int64_t{INT32_MIN} - 1); }, true,
     "Int64 -2147483649"},
    {"int64 min", [](auto& w) { return w.write(INT64_MIN); }, true, "Int64 -9223372036854775808"},
    {"uint64 max signed", [](auto& w) { return w.write(uint64_t{INT64_MAX}); }, true,
     "Int64 9223372036854775807"},
    {"uint64 above", [](auto& w) { return w.write(uint64_t{INT64_MAX} + 1); }, false, ""},
    {"double", [](auto& w) { return w.write(0.5); }, true, "Double 0.500000"},
    {"float", [](auto& w) { return w.write(1.5f); }, true, "Double 1.500000"},
    {"literal", [](auto& w) { return w.write(u"hi"); }, true, "String hi"},
    {"view copied", [](auto& w) { return w.write(std::u16string_view(u"abc", 2)); }, true,
     "String ab"},
    {"view with zero", [&](auto& w) { return w.write(std::u16string_view(zero_inside, 5)); }, true,
     "String ab", zero_inside},
    {"empty view", [](auto& w) { return w.write(std::u16string_view()); }, true, "String "},
    {"null", [](auto& w) { return w.write(static_cast<const char16_t*>(nullptr)); }, false, ""},
    {"8-bit view", [](auto& w) { return w.write(std::string_view("xyz", 2)); }, true, "StringA xy"},
    {"8-bit string", [](auto& w) { return w.write(std::string("q")); }, true, "StringA q"},
    {"8-bit null", [](auto& w) { return w.write(static_cast<const char*>(nullptr)); }, false, ""},
    {"vector", [&](auto& w) { return w.write(bytes); }, true, "Binary 3", bytes.data()},
    {"std::byte", [&](auto& w) { return w.write(raw); }, true, "Binary 2", raw.data()},
    {"no bytes", [](auto& w) { return w.write(nullptr, 0); }, true, "Binary 0"},
    {"null bytes", [](auto& w) { return w.write(nullptr, 3); }, false, ""},
#if SIZE_MAX > UINT32_MAX
    {"4 GiB", [&](auto& w) { return w.write(bytes.data(), k4G); }, false, ""},
#endif
    {"begin", [](auto& w) { return w.begin_array(); }, true, "Begin"},
    {"end", [](auto& w) { return w.end_array(); }, true, "End"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log;
    FakeOStream stream(log);
    AdoptedWriter writer(&stream);
    EXPECT_EQ(c.write(writer), c.result);
    EXPECT_EQ(log, c.call.empty() ? Log{} : Log{c.call});
    if (c.pointer) {
      EXPECT_EQ(stream.last, c.pointer);
    }
    qkxdr::Writer empty;
    EXPECT_FALSE(c.write(empty));
  }
}

TEST(CppWriter, ReleasesItsStreamOnceAndEndsScopedArrays) {
  Log log;
  FakeOStream first(log), second(log);
  {
    AdoptedWriter a(&first);
    {
      auto array = a.array();
      a.write(1);
    }
    qkxdr::Writer b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_FALSE(a.write(2));
    b = AdoptedWriter(&second);  // releases the first stream
    log.push_back("assigned");
    qkxdr::Writer& same = b;
    b = std::move(same);  // keeps its stream
  }
  EXPECT_EQ(log, (Log{"Begin", "Int 1", "End", "Release", "assigned", "Release"}));
}

TEST(CppReader, DeliversWhatTheStreamFills) {
  struct Case {
    const char* name;
    bool result, alloc;
    uint32_t count;
    size_t limit;
    std::optional<std::u16string> expected;
  };
  const Case cases[] = {
      {"filled", true, true, 3, 8, u"abc"},
      {"up to the limit", true, true, 4, 4, u"abcd"},
      {"Alloc(0)", true, true, 0, 8, u""},
      {"Alloc not called", true, false, 0, 8, u""},
      {"read fails", false, true, 3, 8, std::nullopt},
      {"longer than the input", true, true, 5, 4, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log;
    FakeIStream stream(log);
    stream.result = c.result;
    stream.alloc = c.alloc;
    stream.count = c.count;
    AdoptedReader reader(&stream, c.limit);
    EXPECT_EQ(reader.read_u16string(), c.expected);
    if (c.count > c.limit) {
      EXPECT_EQ(stream.given, nullptr);
    }
    const auto narrow = reader.read_string();
    ASSERT_EQ(narrow.has_value(), c.expected.has_value());
    if (narrow) {
      EXPECT_EQ(std::u16string(narrow->begin(), narrow->end()), *c.expected);
    }
  }
}

TEST(CppReader, NumbersBlobsAndAnEmptyOwner) {
  Log log;
  FakeIStream stream(log);
  {
    AdoptedReader reader(&stream, 1);
    EXPECT_EQ(reader.read_int(), -7);
    EXPECT_EQ(reader.read_int64(), -5000000000);
    EXPECT_EQ(reader.read_double(), 2.5);
    EXPECT_EQ(reader.peek_type(), qkxdr::Type::Double);
    EXPECT_EQ(reader.read_type(), qkxdr::Type::Int);
    EXPECT_EQ(reader.read_bytes(), (std::vector<uint8_t>{'x', 'y', 'z'}));
    reader.skip();
    stream.result = false;
    EXPECT_EQ(reader.read_int(), std::nullopt);
    EXPECT_EQ(reader.read_double(), std::nullopt);
    EXPECT_EQ(reader.read_blob(), std::nullopt);
    EXPECT_FALSE(reader.valid());
    qkxdr::Reader moved(std::move(reader));
    EXPECT_FALSE(reader);
    EXPECT_TRUE(moved);
  }
  EXPECT_EQ(log, (Log{"Skip", "Release"}));

  qkxdr::Reader empty;
  EXPECT_FALSE(empty.valid());
  EXPECT_FALSE(empty.begin_array() || empty.end_array());
  EXPECT_EQ(empty.peek_type(), qkxdr::Type::None);
  EXPECT_EQ(empty.read_type(), qkxdr::Type::None);
  EXPECT_EQ(empty.read_int64(), std::nullopt);
  EXPECT_EQ(empty.read_u16string(), std::nullopt);
  EXPECT_EQ(empty.read_bytes(), std::nullopt);
  empty.skip();
}

TEST(CppReader, FactoriesRefuseWhatTheyCannotRead) {
  const std::vector<uint8_t> none;
  EXPECT_FALSE(qkxdr::BinaryReader(none));
  EXPECT_FALSE(qkxdr::BinaryReader(nullptr, 4));
#if SIZE_MAX > UINT32_MAX
  EXPECT_FALSE(qkxdr::BinaryReader("\x54\x82", k4G + 2));  // not cut to 2 bytes
#endif
  qkxdr::TextReader blank(u"  ");
  EXPECT_TRUE(blank);
  EXPECT_FALSE(blank.valid());
  EXPECT_EQ(blank.peek_type(), qkxdr::Type::None);
}

TEST(CppBlob, CopiesShareMovesEmpty) {
  const uint8_t bytes[] = {0xDE, 0xAD};
  qkxdr::TextReader reader(u"'0XDEAD'");
  std::optional<qkxdr::Blob> owned = reader.read_blob();
  ASSERT_TRUE(owned);
  const qkxdr::Blob views[] = {qkxdr::Blob::view(bytes, 2), *owned};
  for (const qkxdr::Blob& original : views) {
    qkxdr::Blob copy = original;
    EXPECT_EQ(copy.to_vector(), (std::vector<uint8_t>{0xDE, 0xAD}));
    EXPECT_EQ(copy.data(), original.data());  // shared, not copied
    const qkxdr::Blob& same = copy;
    copy = same;
    EXPECT_EQ(copy.size(), 2u);
    qkxdr::Blob moved = std::move(copy);
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(copy.data(), nullptr);
    std::vector<qkxdr::Blob> many(5, moved);  // growth moves them
    many.resize(40, moved);
    moved = std::move(many.back());
    many.clear();
    EXPECT_EQ(moved.data(), original.data());
    moved = qkxdr::Blob();
    EXPECT_TRUE(moved.empty());
  }
  EXPECT_EQ(views[1].to_vector(), (std::vector<uint8_t>{0xDE, 0xAD}));

  EXPECT_EQ(qkxdr::Blob::view(bytes, 0).data(), bytes);
  EXPECT_EQ(qkxdr::Blob::view(nullptr, 3).data(), nullptr);
#if SIZE_MAX > UINT32_MAX
  EXPECT_EQ(qkxdr::Blob::view(bytes, k4G).data(), nullptr);
#endif
  EXPECT_TRUE(qkxdr::Blob().to_vector().empty());
}

// Counts events; refuses integers above `stop_above`; throws on strings.
struct Recorder {
  Log log;
  int32_t stop_above = INT32_MAX;
  bool on_double(double v) {
    log.push_back("d" + std::to_string(v));
    return true;
  }
  bool on_int(int32_t v) {
    log.push_back("i" + std::to_string(v));
    return v <= stop_above;
  }
  void on_string(std::u16string_view s) {
    if (s == u"boom") throw std::runtime_error("boom");
    log.push_back("s" + std::to_string(s.size()));
  }
  void on_begin_array() { log.push_back("["); }
  void on_end_array() { log.push_back("]"); }
};

TEST(CppParse, HandlersAndTheirAnswers) {
  Recorder all;
  EXPECT_TRUE(qkxdr::parse_text(u"[1,'ab',[2.5]] 7", all));
  EXPECT_EQ(all.log, (Log{"[", "i1", "s2", "[", "d2.500000", "]", "]", "i7"}));

  Recorder stopping;
  stopping.stop_above = 1;
  qkxdr::parse_text(u"1 2 3", stopping);
  EXPECT_EQ(stopping.log, (Log{"i1", "i2"}));

  Recorder throwing;
  EXPECT_THROW(qkxdr::parse_text(u"1 'boom' 2", throwing), std::runtime_error);
  EXPECT_EQ(throwing.log, (Log{"i1"}));

  std::u16string strings;
  int events = 0;
  qkxdr::parse_text(u"['a', 1.5, 'bc', 2]", qkxdr::TextEvents{
                                                [&](double) { ++events; },
                                                [&](int32_t) { return false; },
                                                [&](std::u16string_view s) { strings += s; },
                                                [&] { ++events; },
                                                [&] { ++events; },
                                            });
  EXPECT_EQ(strings, u"abc");
  EXPECT_EQ(events, 2);
}

TEST(CppTextWriter, TextAndBytesCopyTheOutput) {
  qkxdr::TextWriter writer;
  ASSERT_TRUE(writer);
  EXPECT_EQ(writer.text(), u"");
  EXPECT_TRUE(writer.bytes().empty());
  writer.write(1);
  writer.write(std::string_view("ab"));
  const std::u16string text = writer.text();
  EXPECT_EQ(text, u"1,\"ab\"");
  const std::vector<uint8_t> bytes = writer.bytes();
  ASSERT_EQ(bytes.size(), text.size() * 2);
  EXPECT_EQ(std::memcmp(bytes.data(), text.data(), bytes.size()), 0);
}

TEST(CppBinaryReader, BlobViewsAndDamagedStrings) {
  const std::vector<uint8_t> payload{1, 2, 3};
  qkxdr::BinaryWriter writer;
  writer.write(payload);
  const std::vector<uint8_t> bytes = writer.bytes();
  std::optional<qkxdr::Blob> blob = qkxdr::BinaryReader(bytes).read_blob();
  ASSERT_TRUE(blob);  // a view into `bytes`, alive after its reader
  EXPECT_GT(blob->data(), bytes.data());
  EXPECT_EQ(blob->data() + blob->size(), bytes.data() + bytes.size());
  EXPECT_EQ(blob->to_vector(), payload);

  // A string of 1000 units in 4 bytes is refused without allocating.
  const uint8_t too_long[] = {0xA8, 0x68, 0x87, 0xE1};
  qkxdr::BinaryReader reader(too_long, sizeof too_long);
  EXPECT_EQ(reader.read_u16string(), std::nullopt);
  EXPECT_FALSE(reader.valid());
  // A string of 3 units cut after the first comes back padded.
  const uint8_t cut[] = {0xA8, 0x83, 0xE1};
  EXPECT_EQ(qkxdr::BinaryReader(cut, sizeof cut).read_u16string(), std::u16string(u"a\0\0", 3));
}

// One value of a random sequence, written and read through the layer.
struct Value {
  enum Kind { kBegin, kEnd, kInt, kInt64, kDouble, kUnits, kChars, kBytes } kind;
  int64_t number = 0;
  double real = 0;
  std::u16string units{};
  std::string chars{};
  std::vector<uint8_t> bytes{};
};

// Values that both encodings carry exactly: doubles of few digits and no
// whole value, strings that do not look like blob text.
std::vector<Value> RandomValues(std::mt19937& random, int n) {
  static const std::u16string kUnits = u"ab Z19\"'\\\n\r\t\u00e9\u4e2d\uffff";
  static const std::string kChars = "ab 9\"'\\\n\xe9\x80\xff";
  std::vector<Value> values;
  int depth = 0;
  for (int i = 0; i < n; ++i) {
    Value v{static_cast<Value::Kind>(random() % 8)};
    if (v.kind == Value::kEnd && depth == 0) v.kind = Value::kBegin;
    depth += v.kind == Value::kBegin ? 1 : v.kind == Value::kEnd ? -1 : 0;
    const int length = static_cast<int>(random() % 6);
    v.number = v.kind == Value::kInt
                   ? static_cast<int32_t>(random())
                   : (static_cast<int64_t>(random() % 9) - 4) * (int64_t{1} << 40);
    v.real = static_cast<double>(random() % 2000000) * 0.5 - 500000.0 + 0.25;
    for (int k = 0; k < length; ++k) {
      v.units += kUnits[random() % kUnits.size()];
      v.chars += kChars[random() % kChars.size()];
      v.bytes.push_back(static_cast<uint8_t>(random()));
    }
    values.push_back(v);
  }
  for (; depth > 0; --depth) values.push_back(Value{Value::kEnd});
  return values;
}

void Write(qkxdr::Writer& w, const Value& v) {
  switch (v.kind) {
    case Value::kBegin:
      w.begin_array();
      break;
    case Value::kEnd:
      w.end_array();
      break;
    case Value::kInt:
      w.write(static_cast<int32_t>(v.number));
      break;
    case Value::kInt64:
      w.write(v.number);
      break;
    case Value::kDouble:
      w.write(v.real);
      break;
    case Value::kUnits:
      w.write(std::u16string_view(v.units));
      break;
    case Value::kChars:
      w.write(std::string_view(v.chars));
      break;
    case Value::kBytes:
      w.write(v.bytes);
      break;
  }
}

void ExpectRead(qkxdr::Reader& r, const Value& v) {
  static const qkxdr::Type kTypes[] = {
      qkxdr::Type::ArrayBegin, qkxdr::Type::ArrayEnd, qkxdr::Type::Int,    qkxdr::Type::Int,
      qkxdr::Type::Double,     qkxdr::Type::String,   qkxdr::Type::String, qkxdr::Type::Binary};
  EXPECT_EQ(r.peek_type(), kTypes[v.kind]);
  switch (v.kind) {
    case Value::kBegin:
      EXPECT_TRUE(r.begin_array());
      break;
    case Value::kEnd:
      EXPECT_TRUE(r.end_array());
      break;
    case Value::kInt:
      EXPECT_EQ(r.read_int(), v.number);
      break;
    case Value::kInt64:
      EXPECT_EQ(r.read_int64(), v.number);
      break;
    case Value::kDouble:
      EXPECT_EQ(r.read_double(), v.real);
      break;
    case Value::kUnits:
      EXPECT_EQ(r.read_u16string(), v.units);
      break;
    case Value::kChars:
      EXPECT_EQ(r.read_string(), v.chars);
      break;
    case Value::kBytes:
      EXPECT_EQ(r.read_bytes(), v.bytes);
      break;
  }
}

TEST(CppRoundTrip, RandomSequencesInBothEncodings) {
  for (const bool binary : {true, false}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    std::mt19937 random(binary ? 7 : 11);
    for (int round = 0; round < 20; ++round) {
      const std::vector<Value> values = RandomValues(random, 40);
      qkxdr::Writer writer =
          binary ? qkxdr::Writer(qkxdr::BinaryWriter()) : qkxdr::Writer(qkxdr::TextWriter());
      ASSERT_TRUE(writer);
      for (const Value& v : values) Write(writer, v);
      const std::vector<uint8_t> bytes = writer.bytes();
      std::u16string text(bytes.size() / 2, u'\0');
      std::memcpy(text.data(), bytes.data(), text.size() * 2);
      qkxdr::Reader reader = binary ? qkxdr::Reader(qkxdr::BinaryReader(bytes))
                                    : qkxdr::Reader(qkxdr::TextReader(text));
      for (const Value& v : values) ExpectRead(reader, v);
      EXPECT_FALSE(reader.valid());
    }
  }
}

}  // namespace
