// Stream readers fed in pieces, for the stream tests and the stream fuzz
// target: what a reader hands out, each value with its offset, and where and
// why it stops; and what the whole-buffer decoder reads of the same units.

#ifndef QKXDR_TESTS_STREAM_FEED_H_
#define QKXDR_TESTS_STREAM_FEED_H_

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "qkxdr/stream.hpp"
#include "test_values.h"

namespace test_values {

// Every value the decoder holds, markers included, until a read fails. A
// string holding U+0000 counts as a failed read, as the typed reads of the
// stream views refuse it.
template <typename Decoder>
Values Flat(Decoder& d) {
  Values values;
  while (d.IsValid() && (values.empty() || !(values.back() == kFailed))) {
    values.push_back(ReadOne(&d));
    if (values.back().units.find(u'\0') != std::u16string::npos &&
        values.back().kind == Kind::String) {
      values.back() = kFailed;
    }
  }
  return values;
}

// The value a stream reader's view holds next, as ReadOne reads it.
template <typename View>
Value ReadNext(View& view) {
  switch (view.peek_type()) {
    case QkXDRType2::ArrayBegin:
      return view.begin_array() ? kBegin : kFailed;
    case QkXDRType2::ArrayEnd:
      return view.end_array() ? kEnd : kFailed;
    case QkXDRType2::Int: {
      const qkxdr::Result<int64_t> v = view.template read<int64_t>();
      return v ? Value{Kind::Int, *v} : kFailed;
    }
    case QkXDRType2::Double: {
      const qkxdr::Result<double> v = view.template read<double>();
      return v ? Dbl(*v) : kFailed;
    }
    case QkXDRType2::String: {
      const qkxdr::Result<std::u16string> v = view.template read<std::u16string>();
      return v ? Str(*v) : kFailed;
    }
    default: {
      const qkxdr::Result<Bytes> v = view.template read<Bytes>();
      return v ? Blob(*v) : kFailed;
    }
  }
}

// The values that stand at `depth` (0: the top level), each as its flat list.
inline std::vector<Values> Split(const Values& flat, int depth) {
  std::vector<Values> parts;
  int level = 0;
  for (const Value& v : flat) {
    if (v.kind == Kind::End) --level;
    if (level == depth && v.kind != Kind::End) parts.emplace_back();
    if (level >= depth) parts.back().push_back(v);
    if (v.kind == Kind::Begin) ++level;
  }
  return parts;
}

// An encoding: its input, whole-buffer decoder and stream reader and writer.
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
  using Decoder = qkxdr::impl::ExactTextDecoder;  // doubles as typed reads read them
  using Reader = qkxdr::TextStreamReader;
  using Writer = qkxdr::TextStreamWriter;
  static Input Encode(const Values& values) {
    return TextOf(test_values::Encode(QkXDRCreateTextOStream2(), values));
  }
  static Input Of(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
};

// What a reader handed out, each value at the offset its view gave, and
// how it stopped: its error's code, offset and message ("" at the end).
struct Outcome {
  std::vector<Values> values;
  std::vector<uint64_t> offsets;
  qkxdr::ErrorCode code = qkxdr::ErrorCode::no_value;
  uint64_t at = 0;
  std::string error;

  bool operator==(const Outcome& o) const {
    return std::tie(values, offsets, code, at, error) ==
           std::tie(o.values, o.offsets, o.code, o.at, o.error);
  }
};

// What the test makes of a value handed out that does not read (a string
// holding U+0000): it stops there, for the rest of that view is lost.
constexpr const char* kUnread = "a value handed out did not read";

inline std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << o.values.size() << " values";
  for (uint64_t offset : o.offsets) out << ' ' << offset;
  return out << ", then \"" << o.error << '"';
}

// Adds the top-level values of a view, each with its offset, to *out;
// false when one does not read.
template <typename View>
bool TakeValues(View& view, Outcome* out) {
  int level = 0;
  while (view.valid()) {
    if (level == 0) {
      out->offsets.push_back(view.offset());
      out->values.emplace_back();
    }
    const Value v = ReadNext(view);
    out->values.back().push_back(v);
    if (v == kFailed) return false;
    level += v.kind == Kind::Begin ? 1 : v.kind == Kind::End ? -1 : 0;
  }
  return true;
}

// Feeds data[0, size) cut before each of `cuts` (ascending), taking the
// values as they come (with `all`, by next_all()), then finishes. Between
// chunks the reader holds at most max_value + 1 units (the unit after a
// token that decides it).
template <typename E, typename Unit>
Outcome Stream(const Unit* data, size_t size, const std::vector<size_t>& cuts,
               qkxdr::StreamUnit unit, bool all, size_t max_value) {
  typename E::Reader reader(unit, max_value);
  Outcome out;
  bool unread = false;
  auto take = [&] {
    while (auto* value = unread ? nullptr : all ? reader.next_all() : reader.next()) {
      const size_t before = out.values.size();
      unread = !TakeValues(*value, &out);
      VALUES_CHECK_EQ(all || out.values.size() == before + 1, true, "next() gives one value");
    }
    VALUES_CHECK_EQ(unread || reader.failed() || reader.buffered() <= max_value + 1, true,
                    "held " << reader.buffered());
  };
  size_t from = 0;
  for (size_t cut : cuts) {
    reader.feed(data + from, cut - from);
    from = cut;
    take();
  }
  reader.feed(data + from, size - from);
  take();
  reader.finish();
  take();
  if (unread) {
    out.error = kUnread;
    return out;
  }
  VALUES_CHECK_EQ(reader.done(), !reader.failed(), "done() at the end, unless failed()");
  if (reader.failed()) {
    out.code = reader.error().code();
    out.at = reader.error().offset();
    out.error = reader.error().message();
  }
  return out;
}

// Whether the reader handed out values that the whole-buffer decoder reads
// from the same units, in the same order.
template <typename E, typename Unit>
bool ReadAsWhole(const Outcome& streamed, const Unit* data, size_t size, qkxdr::StreamUnit unit) {
  typename E::Decoder whole(data, data + size);
  const std::vector<Values> read = Split(Flat(whole), unit == qkxdr::StreamUnit::elements ? 1 : 0);
  return streamed.values.size() <= read.size() &&
         std::equal(streamed.values.begin(), streamed.values.end(), read.begin());
}

}  // namespace test_values

#endif  // QKXDR_TESTS_STREAM_FEED_H_
