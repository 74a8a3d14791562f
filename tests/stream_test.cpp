// Stream readers and writers: random sequences fed in pieces cut anywhere
// give the values the whole-buffer decoders give, one top-level value (or
// outer-array element) at a time; malformed streams stop at their offset;
// writers give the in-memory writers' bytes, or with flush() the same values.

#include "qkxdr/stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "QkXDR.h"
#include "test_values.h"

namespace test_values {
namespace {

using qkxdr::StreamUnit;

// Every value the decoder holds, markers included, until a read fails.
template <typename Decoder>
Values Flat(Decoder& d) {
  Values values;
  while (d.IsValid() && (values.empty() || !(values.back() == kFailed))) {
    values.push_back(ReadOne(&d));
  }
  return values;
}

// The values that stand at `depth` (0: the top level), each as its flat list.
std::vector<Values> Split(const Values& flat, int depth) {
  std::vector<Values> parts;
  int level = 0;
  for (const Value& v : flat) {
    if (v.kind == Kind::End) {
      if (--level >= depth) parts.back().push_back(v);
      continue;
    }
    if (level == depth) parts.emplace_back();
    if (level >= depth) parts.back().push_back(v);
    if (v.kind == Kind::Begin) ++level;
  }
  return parts;
}

// An encoding: its input, whole-buffer decoder and stream reader.
struct Binary {
  using Input = Bytes;
  using Decoder = qkxdr::impl::BinaryDecoder;
  using Reader = qkxdr::BinaryStreamReader;
  using Writer = qkxdr::BinaryStreamWriter;
  static Input Encode(const Values& values) {
    return test_values::Encode(QkXDRCreateOStream2(), values);
  }
  static Input Of(const std::string& hex) { return Hex(hex); }
};
struct Text {
  using Input = std::u16string;
  using Decoder = qkxdr::impl::TextDecoder;
  using Reader = qkxdr::TextStreamReader;
  using Writer = qkxdr::TextStreamWriter;
  static Input Encode(const Values& values) {
    const Bytes bytes = test_values::Encode(QkXDRCreateTextOStream2(), values);
    Input text(bytes.size() / 2, u' ');
    if (!text.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
    return text;
  }
  static Input Of(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
};

// What a reader handed out and where it stopped.
struct Outcome {
  std::vector<Values> values;
  std::string error;  // "offset: what", empty without one
  size_t most_buffered = 0;
};

// Feeds `input` cut before each of `cuts` (ascending), taking every value as
// soon as it is complete, then finishes. With `all`, takes them with
// next_all(), each batch split into its values at `depth`.
template <typename E>
Outcome Stream(const typename E::Input& input, const std::vector<size_t>& cuts, StreamUnit unit,
               size_t max_value = qkxdr::kDefaultMaxValue, bool all = false) {
  typename E::Reader reader(unit, max_value);
  Outcome out;
  auto take = [&] {
    while (auto* value = all ? reader.next_all() : reader.next()) {
      const std::vector<Values> batch = Split(Flat(*value), 0);
      EXPECT_TRUE(all || batch.size() == 1);
      out.values.insert(out.values.end(), batch.begin(), batch.end());
    }
    out.most_buffered = std::max(out.most_buffered, reader.buffered());
  };
  size_t from = 0;
  for (size_t cut : cuts) {
    reader.feed(input.data() + from, cut - from);
    from = cut;
    take();
  }
  reader.feed(input.data() + from, input.size() - from);
  take();
  reader.finish();
  take();
  if (reader.failed()) {
    out.error = std::to_string(reader.error().offset) + ": " + reader.error().what;
  } else {
    EXPECT_TRUE(reader.done());
  }
  return out;
}

std::vector<size_t> RandomCuts(std::mt19937& random, size_t size, size_t pieces) {
  std::vector<size_t> cuts(pieces);
  for (size_t& cut : cuts) cut = random() % (size + 1);
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

template <typename E>
void CheckSplits(const Values& written, StreamUnit unit, std::mt19937& random) {
  const bool elements = unit == StreamUnit::Elements;
  const Values outer = elements ? Cat({{kBegin}, written, {kEnd}}) : written;
  const typename E::Input input = E::Encode(outer);
  typename E::Decoder whole(input.data(), input.data() + input.size());
  const std::vector<Values> expected = Split(Flat(whole), elements ? 1 : 0);
  std::vector<std::vector<size_t>> cut_sets;
  if (input.size() <= 300) {
    for (size_t cut = 0; cut <= input.size(); ++cut) cut_sets.push_back({cut});
  } else {
    for (size_t pieces : {3, 50, 1000})
      cut_sets.push_back(RandomCuts(random, input.size(), pieces));
  }
  std::vector<size_t> every(input.size());
  for (size_t i = 0; i < every.size(); ++i) every[i] = i;
  cut_sets.push_back(every);
  for (const auto& cuts : cut_sets) {
    for (bool all : {false, true}) {
      const Outcome got = Stream<E>(input, cuts, unit, qkxdr::kDefaultMaxValue, all);
      ASSERT_EQ(got.error, "");
      ASSERT_EQ(got.values, expected) << cuts.size() << " cuts, first at " << cuts[0] << all;
    }
  }
}

TEST(StreamReader, ValuesOfPiecesCutAnywhereAreTheWholeBuffersValues) {
  std::mt19937 random(17);
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    Generator generator(seed);
    const Values written = generator.Sequence(seed % 8 == 0 ? 1500 : 1 + seed % 12);
    for (StreamUnit unit : {StreamUnit::Values, StreamUnit::Elements}) {
      CheckSplits<Binary>(written, unit, random);
      CheckSplits<Text>(written, unit, random);
    }
  }
}

// Offsets count from the stream's start, also after the reader has dropped
// what it handed out: each case runs as it is and after 20,000 valid units.
struct MalformedCase {
  bool text;
  StreamUnit unit;
  std::string input;  // hex bytes, or ASCII text
  size_t max_value;
  uint64_t offset;
  std::string what;
};

// What comes before each case a second time: 20,000 valid units.
template <typename E>
typename E::Input Prefix(StreamUnit unit) {
  if constexpr (std::is_same_v<E, Text>) {
    std::u16string text = unit == StreamUnit::Elements ? u"[" : u"";
    for (int i = 0; i < 9999; ++i) text += u"1,";
    return text + (unit == StreamUnit::Elements ? u"1]" : u"1,");
  } else {
    const Bytes run = Hex("7D 80*42");  // 42 integers 0
    Bytes bytes = unit == StreamUnit::Elements ? Hex("00") : Bytes{};
    while (bytes.size() < 20000) bytes.insert(bytes.end(), run.begin(), run.end());
    if (unit == StreamUnit::Elements) bytes.push_back(0x2A);
    return bytes;
  }
}

template <typename E>
void CheckMalformed(const MalformedCase& c) {
  for (bool prefixed : {false, true}) {
    SCOPED_TRACE(c.input + (prefixed ? " after a prefix" : ""));
    typename E::Input input = prefixed ? Prefix<E>(c.unit) : typename E::Input{};
    const uint64_t shift = input.size();
    const typename E::Input tail = E::Of(c.input);
    input.insert(input.end(), tail.begin(), tail.end());
    std::vector<size_t> every(input.size());
    for (size_t i = 0; i < every.size(); ++i) every[i] = i;
    const Outcome whole = Stream<E>(input, {}, c.unit, c.max_value);
    EXPECT_EQ(whole.error, std::to_string(c.offset + shift) + ": " + c.what);
    // Unit by unit, and at once or unit by unit with next_all().
    for (const auto& [cuts, all] : {std::pair(every, false), std::pair(every, true),
                                    std::pair(std::vector<size_t>{}, true)}) {
      const Outcome got = Stream<E>(input, cuts, c.unit, c.max_value, all);
      EXPECT_EQ(got.error, whole.error) << all;
      EXPECT_EQ(got.values, whole.values) << all;
      EXPECT_LE(cuts.empty() ? 0 : got.most_buffered, c.max_value + 1);
    }
  }
}

TEST(StreamReader, MalformedStreamsStopAtTheirOffset) {
  const auto kValues = StreamUnit::Values;
  const auto kElements = StreamUnit::Elements;
  const size_t kMax = qkxdr::kDefaultMaxValue;
  const std::string kMisplaced = "no value here: a ',', ':' or closing bracket out of place";
  const MalformedCase kCases[] = {
      {false, kValues, "54 82 FC 80", kMax, 2, "a tag byte of no type (252-255)"},
      {false, kValues, "54 82 2A", kMax, 2, "an array end that closes no array"},
      {false, kValues, "00 2B", kMax, 1, "an array end that closes no array"},
      {false, kElements, "00 2A 54 82", kMax, 3, "a value outside the outer array"},
      {false, kValues, "A8 85 C1", kMax, 1, "the input ends inside a value"},
      {false, kValues, "D2 8A 01", kMax, 1, "the input ends inside a value"},
      // Zero bytes open arrays without end: the limit stops them.
      {false, kValues, "00*100000", 4096, 1, "a value longer than the limit of 4096"},
      {true, kValues, "1,,2", kMax, 2, kMisplaced},
      {true, kValues, "[1}", kMax, 2, kMisplaced},
      {true, kValues, "1 true", kMax, 2, "a word or literal, which has no value type"},
      {true, kValues, "[{}]", kMax, 1, "an object, which has no value type"},
      {true, kValues, "1]", kMax, 1, "a ']' that closes no array"},
      {true, kValues, "[1,'a'", kMax, 0, "the input ends inside a value"},
      {true, kElements, "[1],2", kMax, 4, "a value outside the outer array"},
      {true, kValues, std::string(100000, '['), 4096, 0, "a value longer than the limit of 4096"},
  };
  for (const MalformedCase& c : kCases) {
    if (c.text) {
      CheckMalformed<Text>(c);
    } else {
      CheckMalformed<Binary>(c);
    }
  }
}

struct Point {
  int32_t x = 0;
  std::string label;
  std::vector<double> samples;
  QKXDR_FIELDS(x, label, samples)
  bool operator==(const Point& o) const {
    return x == o.x && label == o.label && samples == o.samples;
  }
};

// Collects what a writer passes on, and how much at most at once.
template <typename Unit>
struct Collector {
  std::basic_string<Unit> all;
  size_t largest = 0;
  bool Take(const Unit* data, size_t n) {
    all.append(data, n);
    largest = std::max(largest, n);
    return true;
  }
};

template <typename E>
void CheckWriter(const Values& written) {
  using Unit = typename E::Input::value_type;
  const typename E::Input expected = E::Encode(written);
  for (size_t flush_size : {1, 7, 4096}) {
    Collector<Unit> sink;
    typename E::Writer writer([&sink](const Unit* d, size_t n) { return sink.Take(d, n); },
                              flush_size);
    for (const Value& v : written) Write(&writer, v);
    EXPECT_TRUE(writer.flush());
    EXPECT_EQ(typename E::Input(sink.all.begin(), sink.all.end()), expected) << flush_size;
    EXPECT_EQ(writer.written(), expected.size());
  }
}

TEST(StreamWriter, GivesTheInMemoryWritersOutput) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const Values written = Generator(seed).Sequence(seed % 4 == 0 ? 3000 : 40);
    CheckWriter<Binary>(written);
    CheckWriter<Text>(written);
  }
}

TEST(StreamWriter, FlushClosesTheOpenRunButKeepsTheValues) {
  Bytes bytes;
  qkxdr::BinaryStreamWriter writer([&bytes](const uint8_t* d, size_t n) {
    bytes.insert(bytes.end(), d, d + n);
    return true;
  });
  writer.WriteInt(1);
  writer.flush();
  writer.WriteInt(2);
  writer.WriteInt(3);
  writer.flush();
  EXPECT_EQ(bytes, Hex("54 82 55 84 86"));  // in memory: 56 82 84 86
  EXPECT_EQ(Stream<Binary>(bytes, {}, StreamUnit::Values).values,
            (std::vector<Values>{{I32(1)}, {I32(2)}, {I32(3)}}));

  std::u16string text;
  qkxdr::TextStreamWriter text_writer([&text](const char16_t* d, size_t n) {
    const bool ok = text.size() < 4;  // then it fails: nothing more is passed on
    text.append(d, n);
    return ok;
  });
  text_writer.WriteInt(1);
  text_writer.flush();
  text_writer.BeginArray();
  text_writer.WriteInt(2);
  EXPECT_TRUE(text_writer.flush());
  EXPECT_EQ(text, u"1,[2");  // the comma rule runs on across the flush
  text_writer.EndArray();
  EXPECT_FALSE(text_writer.flush());
  text_writer.WriteInt(3);
  text_writer.flush();
  EXPECT_EQ(text, u"1,[2]");
}

TEST(StreamWriter, TypedRecordsRoundTripAsElements) {
  std::vector<Point> points;
  for (int i = 0; i < 500; ++i) points.push_back({i - 250, std::string(i % 30, 'a'), {i * 0.5}});
  std::ostringstream out;
  qkxdr::BinaryStreamWriter writer(out, 64);
  writer.BeginArray();
  for (const Point& p : points) writer.write(p);
  writer.EndArray();
  writer.flush();
  const std::string bytes = out.str();
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), qkxdr::to_binary(points));

  // One value per next(), or all complete ones per next_all().
  for (bool all : {false, true}) {
    qkxdr::BinaryStreamReader reader(StreamUnit::Elements);
    std::vector<Point> back;
    for (size_t at = 0; at <= bytes.size(); at += 100) {
      reader.feed(bytes.data() + at, std::min<size_t>(100, bytes.size() - at));
      while (qkxdr::impl::BinaryDecoder* values = all ? reader.next_all() : reader.next()) {
        do {
          back.push_back(reader.read<Point>().value());
        } while (all && values->IsValid());
      }
    }
    reader.finish();
    EXPECT_EQ(reader.next(), nullptr);
    EXPECT_TRUE(reader.done());
    EXPECT_EQ(back, points);

    // A typed failure names its offset in the stream: the second point's
    // label follows 01, 54 73 83, A8 80, 00 7E and 8 bytes, 2B 00, 54 71 83, A8.
    reader = qkxdr::BinaryStreamReader(StreamUnit::Elements);
    reader.feed(bytes.data(), bytes.size());
    if (all) {
      ASSERT_NE(reader.next_all(), nullptr);
      EXPECT_TRUE(reader.read<Point>());
    } else {
      ASSERT_NE(reader.next(), nullptr);
      ASSERT_NE(reader.next(), nullptr);
    }
    const auto wrong = reader.read<std::vector<int>>();
    EXPECT_EQ(wrong.error().message(), "at [1] (offset 22): expected Int, found String");
  }
}

}  // namespace
}  // namespace test_values
