// Stream readers and writers against the whole-buffer decoders and the
// in-memory writers; malformed streams; typed records.

#include "qkxdr/stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "stream_feed.h"
#include "test_values.h"

namespace test_values {
// Any value, as a stream view's values read (ReadNext), but read by the
// typed layer: a codec of its own in the typed layer's terms.
struct Any {
  Values flat;
};
}  // namespace test_values

template <>
struct qkxdr::detail::Codec<test_values::Any> {
  template <typename D>
  static bool Read(Reading<D>& r, test_values::Any& out) {
    using test_values::Value;
    switch (r.Peek()) {
      case QkXDRType2::Int:
        return Take<int64_t>(r, out, [](int64_t v) { return Value{test_values::Kind::Int, v}; });
      case QkXDRType2::Double:
        return Take<double>(r, out, test_values::Dbl);
      case QkXDRType2::String:
        return Take<std::u16string>(r, out, test_values::Str);
      case QkXDRType2::Binary:
        return Take<test_values::Bytes>(r, out, test_values::Blob);
      case QkXDRType2::ArrayBegin:
        return Elements(r, out);
      case QkXDRType2::ArrayEnd:
        return r.Fail(ErrorCode::malformed, "an array end that closes no array");
      default:
        return r.Mismatch("a value");
    }
  }

 private:
  template <typename T, typename D, typename Make>
  static bool Take(Reading<D>& r, test_values::Any& out, Make make) {
    T v{};
    if (!detail::Read(r, v)) return false;
    out.flat.push_back(make(std::move(v)));
    return true;
  }
  template <typename D>
  static bool Elements(Reading<D>& r, test_values::Any& out) {
    if (!OpenArray(r)) return false;
    out.flat.push_back(test_values::kBegin);
    for (size_t i = 0; r.Peek() != QkXDRType2::ArrayEnd; ++i) {
      if (!Read(r, out)) return r.Within(Index(i));
    }
    out.flat.push_back(test_values::kEnd);
    return CloseArray(r, false);
  }
};

namespace test_values {
namespace {

using qkxdr::StreamUnit;

// The stream writers' calls, as Write makes them.
template <typename Writer>
struct WriterCalls {
  Writer& w;
  void BeginArray() { w.begin_array(); }
  void EndArray() { w.end_array(); }
  void WriteInt(int32_t v) { w.write(v); }
  void WriteInt64(int64_t v) { w.write(v); }
  void WriteDouble(double v) { w.write(v); }
  void WriteString(const char16_t* s) { w.write(std::u16string_view(s)); }
  void WriteStringA(const char* s) { w.write(qkxdr::Latin1{s}); }
  void WriteBinary(const QkXDRBinary* slot) {
    const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(slot));
    w.write(Bytes(data, data + QkXDRBinarySize(slot)));
  }
};

// The outcome of `input` fed at once; the same fed unit by unit, cut once
// anywhere or at random, by next() or next_all(), must be the same.
template <typename E>
Outcome Fed(const typename E::Input& input, StreamUnit unit, size_t max_value) {
  static std::mt19937 random(17);
  const auto stream = [&](const std::vector<size_t>& cuts, bool all) {
    return Stream<E>(input.data(), input.size(), cuts, unit, all, max_value);
  };
  const Outcome whole = stream({}, false);
  std::vector<std::vector<size_t>> cut_sets = {{}, std::vector<size_t>(input.size())};
  for (size_t i = 0; i < input.size(); ++i) cut_sets[1][i] = i;
  for (size_t cut = 0; input.size() <= 300 && cut <= input.size(); ++cut) cut_sets.push_back({cut});
  for (size_t pieces = 3; input.size() > 300 && pieces <= 1000; pieces *= 18) {
    std::vector<size_t> cuts(pieces);
    for (size_t& cut : cuts) cut = random() % (input.size() + 1);
    std::sort(cuts.begin(), cuts.end());
    cut_sets.push_back(cuts);
  }
  for (const auto& cuts : cut_sets) {
    for (bool all : {false, true}) {
      SCOPED_TRACE(std::to_string(cuts.size()) + " cuts" + (all ? ", next_all()" : ""));
      EXPECT_EQ(stream(cuts, all), whole);
    }
  }
  return whole;
}

// The values written by a stream writer that passes on every flush_size
// units; `ok` is whether it says so.
template <typename E>
typename E::Input Streamed(const Values& values, size_t flush_size, bool* ok) {
  typename E::Input streamed;
  const auto sink = [&streamed](const auto* d, size_t n) {
    return streamed.insert(streamed.end(), d, d + n), true;
  };
  typename E::Writer writer(sink, flush_size);
  WriterCalls<typename E::Writer> calls{writer};
  for (const Value& v : values) Write(&calls, v);
  *ok = writer.flush() && writer.written() == streamed.size();
  return streamed;
}

// Writers with every flush size give the in-memory writer's output (for
// text, the typed layer's, whose doubles are exact: that of a writer that
// never flushes); readers give the whole-buffer decoder's values.
template <typename E>
void CheckStreams(const Values& written, StreamUnit unit) {
  const bool elements = unit == StreamUnit::elements;
  const Values values = elements ? Cat({{kBegin}, written, {kEnd}}) : written;
  const typename E::Input input = E::Encode(values);
  bool ok = false;
  const typename E::Input expected =
      std::is_same_v<E, Text> ? Streamed<E>(values, SIZE_MAX, &ok) : input;
  for (size_t flush_size : {1, 7, 4096}) {
    EXPECT_EQ(Streamed<E>(values, flush_size, &ok), expected) << flush_size;
    EXPECT_TRUE(ok);
  }
  typename E::Decoder whole(input.data(), input.data() + input.size());
  const Outcome fed = Fed<E>(input, unit, qkxdr::kDefaultMaxValue);
  EXPECT_EQ(fed.values, Split(Flat(whole), elements ? 1 : 0));
  EXPECT_EQ(fed.error, "");
}

TEST(Stream, ReadersAndWritersMatchTheWholeBufferOnes) {
  for (uint32_t seed = 1; seed <= 40 && !HasFailure(); ++seed) {
    const Values written = Generator(seed).Sequence(seed % 8 == 0 ? 1500 : 1 + seed % 12);
    for (StreamUnit unit : {StreamUnit::values, StreamUnit::elements}) {
      CheckStreams<Binary>(written, unit);
      CheckStreams<Text>(written, unit);
    }
  }
}

// A valid stream damaged: 1 cut short, 2 a unit changed, 3 a unit added,
// 4 (text) a run of blanks and now and then a comma added.
template <typename E>
typename E::Input Damaged(typename E::Input input, int damage, std::mt19937& random) {
  using Unit = typename E::Input::value_type;
  static const char16_t kTextUnits[] = u" ,:[]{}'\"\\0123456789.eE+-atx";
  const bool text = std::is_same_v<E, Text>;
  const auto any_unit = [&] {
    const uint32_t r = random();
    return static_cast<Unit>(text && r % 4 != 0 ? kTextUnits[r / 4 % (std::size(kTextUnits) - 1)]
                                                : r >> 8);
  };
  const size_t at = random() % (input.size() + 1);
  if (damage == 1) input.resize(at);
  if (damage == 2 && at < input.size()) input[at] = any_unit();
  if (damage == 3) input.insert(input.begin() + static_cast<ptrdiff_t>(at), any_unit());
  for (uint32_t n = damage == 4 ? 1 + random() % 200 : 0; n > 0; --n) {
    const uint32_t r = random();
    input.insert(input.begin() + static_cast<ptrdiff_t>(at),
                 static_cast<Unit>(r % 16 == 0 ? u',' : u" \t\r\n"[r / 16 % 4]));
  }
  return input;
}

// The typed read of the units as one value of any type agrees with the
// stream: the one value it handed out, or a failure where the stream
// stopped for the same reason, or, when something follows the first value,
// a failure where that starts: at the second value, or where the first
// fault after the first value is found.
template <typename E>
void ExpectTypedAgrees(const typename E::Input& input, const Outcome& streamed) {
  Any any;
  qkxdr::Result<void> typed;
  if constexpr (std::is_same_v<E, Binary>) {
    typed = qkxdr::from_binary(input, any);
  } else {
    typed = qkxdr::from_text(input, any);
  }
  if (streamed.error.empty() && streamed.values.size() <= 1) {
    if (streamed.values.empty()) return;  // no value
    ASSERT_TRUE(typed) << typed.error().message();
    EXPECT_EQ(any.flat, streamed.values[0]);
    return;
  }
  ASSERT_FALSE(typed) << streamed;
  if (streamed.error == kUnread) return;  // at a string holding U+0000
  const std::string both = typed.error().message() + " / " + streamed.error;
  if (streamed.values.empty()) {
    EXPECT_EQ(typed.error().offset(), streamed.at) << both;
    if (streamed.code != qkxdr::ErrorCode::unsupported) {
      EXPECT_EQ(typed.error().code(), streamed.code) << both;
    }
  } else if (streamed.values.size() > 1) {
    EXPECT_EQ(typed.error().offset(), streamed.offsets[1]) << both;
  } else {
    EXPECT_TRUE(typed.error().offset() > streamed.offsets[0] &&
                typed.error().offset() <= streamed.at)
        << both;
  }
}

// However a stream is cut and taken, valid or damaged, with a small limit
// and the default one, it gives the same values at the same offsets and
// stops at the same offset for the same reason. The values are those the
// whole-buffer decoder reads; a stream of one value reads as the typed
// read of its units does.
template <typename E>
void CheckDamaged(const Values& written, StreamUnit unit, std::mt19937& random) {
  const bool elements = unit == StreamUnit::elements;
  const typename E::Input valid = E::Encode(elements ? Cat({{kBegin}, written, {kEnd}}) : written);
  for (int damage = 0; damage <= (std::is_same_v<E, Text> ? 4 : 3); ++damage) {
    const typename E::Input input = Damaged<E>(valid, damage, random);
    for (size_t max_value : {size_t{1} + random() % 40, qkxdr::kDefaultMaxValue}) {
      SCOPED_TRACE("damage " + std::to_string(damage) + ", limit " + std::to_string(max_value));
      const Outcome fed = Fed<E>(input, unit, max_value);
      EXPECT_TRUE(ReadAsWhole<E>(fed, input.data(), input.size(), unit)) << fed;
      if (!elements && max_value == qkxdr::kDefaultMaxValue) ExpectTypedAgrees<E>(input, fed);
    }
  }
}

TEST(StreamReader, DamagedStreamsReadAlikeHoweverCut) {
  std::mt19937 random(29);
  for (uint32_t seed = 1; seed <= 200 && !HasFailure(); ++seed) {
    const Values written = Generator(seed).Sequence(1 + seed % 5);
    for (StreamUnit unit : {StreamUnit::values, StreamUnit::elements}) {
      CheckDamaged<Binary>(written, unit, random);
      CheckDamaged<Text>(written, unit, random);
    }
  }
}

// 20,000 valid units, which come before each malformed stream a second time.
template <typename E>
typename E::Input Prefix(StreamUnit unit) {
  const bool text = std::is_same_v<E, Text>;
  const bool elements = unit == StreamUnit::elements;
  std::string units = elements ? (text ? "[" : "00 ") : "";
  for (int i = 0; i < (text ? 9999 : 465); ++i) units += text ? "1," : "7D 80*42 ";  // 42 zeros
  return E::Of(units + (text ? (elements ? "1]" : "1,") : (elements ? "7D 80*42 2A" : "")));
}

// Where a stream stops and why ("": at its end), also after a prefix the
// reader has dropped, with values of up to max_value units.
template <typename E>
void ExpectStop(const std::string& input, uint64_t offset, const std::string& what,
                StreamUnit unit = StreamUnit::values, size_t max_value = 4096) {
  for (bool prefixed : {false, true}) {
    SCOPED_TRACE(input.substr(0, 20) + (prefixed ? " after a prefix" : ""));
    typename E::Input units = prefixed ? Prefix<E>(unit) : typename E::Input{};
    const uint64_t shift = units.size();
    const typename E::Input tail = E::Of(input);
    units.insert(units.end(), tail.begin(), tail.end());
    EXPECT_EQ(Fed<E>(units, unit, max_value).error,
              what.empty() ? what : "at offset " + std::to_string(offset + shift) + ": " + what);
  }
}

// Binary faults stand where the decoder places their value: after its
// run's tag byte for a run's first value, after the run for array markers.
// The input ends inside a value at the item it cuts, or at its end. A value
// may be as long as the limit, from that place to its last unit; a longer
// one is refused at its start, also when a fault follows past the limit.
TEST(StreamReader, MalformedStreamsStopAtTheirOffset) {
  const std::string kMisplaced = "no value here: a ',', ':' or closing bracket out of place";
  const std::string kEnds = "the input ends inside a value";
  const std::string kTag = "a tag byte of no type (252-255)";
  const std::string kCloses = "an array end that closes no array";
  const auto too_long = [](size_t max) {
    return "a value longer than the limit of " + std::to_string(max);
  };
  const std::string blanks(10000, ' ');
  const StreamUnit elements = StreamUnit::elements;
  ExpectStop<Binary>("54 82 FC 80", 3, kTag);
  ExpectStop<Binary>("54 82 2A", 3, kCloses);
  ExpectStop<Binary>("00 2B", 2, kCloses);
  ExpectStop<Binary>("00 2C 54 82", 2, kCloses);
  ExpectStop<Binary>("00 2A 54 82", 3, "a value outside the outer array", elements);
  ExpectStop<Binary>("A8 85 C1", 1, kEnds);
  ExpectStop<Binary>("D2 8A 01", 1, kEnds);
  ExpectStop<Binary>("00 A8 85 C1", 2, kEnds);
  ExpectStop<Binary>("00 55 82", 3, kEnds);
  ExpectStop<Binary>("00 54 82", 3, kEnds, elements);
  ExpectStop<Binary>("00*100000", 1, too_long(4096));  // arrays without end
  ExpectStop<Binary>("00 5D 82*10 2A", 1, too_long(10), StreamUnit::values, 10);
  ExpectStop<Binary>("00 5D 82*10 2A", 0, "", StreamUnit::values, 12);
  ExpectStop<Binary>("00 5D 82*10 FC", 1, too_long(10), StreamUnit::values, 10);
  ExpectStop<Binary>("00 5D 82*10 FC", 13, kTag, StreamUnit::values, 11);
  ExpectStop<Text>("1,,2", 2, kMisplaced);
  ExpectStop<Text>("1, \n ,2", 5, kMisplaced);
  ExpectStop<Text>("[1}", 2, kMisplaced);
  ExpectStop<Text>("1 true", 2, "a word or literal, which has no value type");
  ExpectStop<Text>("[{}]", 1, "an object, which has no value type");
  ExpectStop<Text>("1]", 1, "a ']' that closes no array");
  ExpectStop<Text>("[1,'a'", 6, kEnds);
  ExpectStop<Text>("[1", 2, kEnds, elements);
  ExpectStop<Text>("[1],2", 4, "a value outside the outer array", elements);
  ExpectStop<Text>(std::string(100000, '['), 0, too_long(4096));
  ExpectStop<Text>("12345 6", 0, "", StreamUnit::values, 5);
  ExpectStop<Text>("123456 7", 0, too_long(5), StreamUnit::values, 5);
  ExpectStop<Text>("1" + blanks + ", " + blanks + "2", 0, "", StreamUnit::values, 1);
  ExpectStop<Text>("[1, 2, 3]", 0, "", StreamUnit::values, 9);
  ExpectStop<Text>("[1, 2, 3]", 0, too_long(8), StreamUnit::values, 8);
  ExpectStop<Text>("[1        }", 10, kMisplaced, StreamUnit::values, 10);
  ExpectStop<Text>("[1         }", 0, too_long(10), StreamUnit::values, 10);
}

struct Point {
  int32_t x = 0;
  std::string label;
  std::vector<double> samples;
  QKXDR_FIELDS(x, label, samples)
  bool operator==(const Point& o) const { return qkxdr_fields() == o.qkxdr_fields(); }
};

// Typed records through a std::ostream (one that fails: flush() says so) and
// back, by next() or next_all(); a typed failure names its stream offset.
// A writer destroyed unflushed passes on what it holds.
TEST(StreamWriter, TypedRecordsRoundTripAsElements) {
  std::vector<Point> points;
  for (int i = 0; i < 90; ++i)
    points.push_back({i - 250, std::string(i % 30, 'a'), std::vector<double>(1 + i % 50, i * 0.5)});
  std::ostringstream out;
  {
    qkxdr::BinaryStreamWriter writer(out, 64);
    EXPECT_TRUE(writer.begin_array());
    for (const Point& p : points) EXPECT_TRUE(writer.write(p));
    EXPECT_TRUE(writer.end_array());
  }
  const std::string bytes = out.str();
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), qkxdr::to_binary(points).value());
  std::ostream failed(nullptr);  // bad from the start
  qkxdr::BinaryStreamWriter refused(failed);
  EXPECT_TRUE(refused.write(points));  // held, not yet passed on
  EXPECT_EQ(refused.flush().error().code(), qkxdr::ErrorCode::io);
  EXPECT_FALSE(refused.ok() || refused.write(1));
  qkxdr::TextStreamWriter zero([](const char16_t*, size_t) { return true; });
  EXPECT_FALSE(zero.write(std::string("a\0b", 3)));
  EXPECT_EQ(zero.error().message(), "a string holding U+0000");
  for (bool all : {false, true}) {
    qkxdr::BinaryStreamReader reader(StreamUnit::elements);
    std::vector<Point> back;
    for (size_t at = 0; at <= bytes.size(); at += 100) {
      reader.feed(bytes.data() + at, std::min<size_t>(100, bytes.size() - at));
      while (qkxdr::BinaryValues* values = all ? reader.next_all() : reader.next()) {
        do {
          back.push_back(values->read<Point>().value());
        } while (all && values->valid());
        EXPECT_EQ(values->read<Point>().error().code(), qkxdr::ErrorCode::no_value);
      }
    }
    reader.finish();
    EXPECT_FALSE(reader.done());  // until next() has found nothing left
    EXPECT_TRUE(reader.next() == nullptr && reader.done());
    EXPECT_EQ(back, points);
    // The second point's label follows 01, 54 73 83, A8 80, 00 7E and 8
    // bytes, 2B 00, 54 71 83, A8.
    reader = qkxdr::BinaryStreamReader(StreamUnit::elements);
    reader.feed(bytes.data(), bytes.size());
    qkxdr::BinaryValues* values = all ? reader.next_all() : reader.next();
    ASSERT_NE(values, nullptr);
    if (all) {
      EXPECT_TRUE(values->read<Point>());
    } else {
      values = reader.next();
    }
    EXPECT_EQ(values->read<std::vector<int>>().error().message(),
              "at [1] (offset 22): expected Int, found String");
  }
}

}  // namespace
}  // namespace test_values
