// RapidJSON on the typed values, UTF-16 in and out, written as its user
// would: a Writer into a reused GenericStringBuffer, walking the values with
// one overload per type, and a SAX handler for GenericReader that fills the
// kept vector. RapidJSON has no binding of C++ types of its own.
//
// UTF16<char16_t> rather than UTF16<>, as in rapidjson_cases.cpp: the default
// stores units in a wchar_t, which is 32 bits on Linux.

#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <limits>
#include <string_view>

#include "typed.h"

namespace bench {
namespace {

using Utf16 = rapidjson::UTF16<char16_t>;
using Buffer = rapidjson::GenericStringBuffer<Utf16>;
using JsonWriter = rapidjson::Writer<Buffer, Utf16, Utf16>;

void Write(JsonWriter& out, int32_t v) { out.Int(v); }
void Write(JsonWriter& out, int64_t v) { out.Int64(v); }
void Write(JsonWriter& out, double v) { out.Double(v); }
void Write(JsonWriter& out, const std::u16string& s) {
  out.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}
void Write(JsonWriter& out, const Record16& r);
template <typename Items>
void WriteArray(JsonWriter& out, const Items& items) {
  out.StartArray();
  for (const auto& item : items) Write(out, item);
  out.EndArray();
}
void Write(JsonWriter& out, const Record16& r) {
  out.StartArray();
  Write(out, r.id);
  Write(out, r.score);
  Write(out, r.name);
  Write(out, r.stamp);
  WriteArray(out, r.triple);
  out.EndArray();
}

// Stores a value the reader reported in a slot of the type the handler
// expects there; false when the slot takes no such value.
bool Store(int32_t& slot, int64_t v) {
  slot = static_cast<int32_t>(v);
  return slot == v;
}
bool Store(int64_t& slot, int64_t v) {
  slot = v;
  return true;
}
bool Store(double& slot, int64_t v) {
  slot = static_cast<double>(v);
  return true;
}
bool Store(double& slot, double v) {
  slot = v;
  return true;
}
bool Store(std::u16string& slot, std::u16string_view v) {
  slot.assign(v.data(), v.size());
  return true;
}
template <typename Slot, typename V>
bool Store(Slot&, V) {
  return false;
}

// Hands every number and string to Derived::Value as an int64_t, a double or
// a std::u16string_view; refuses every other event.
template <typename Derived>
class ValueEvents : public rapidjson::BaseReaderHandler<Utf16, Derived> {
 public:
  bool Default() { return false; }
  bool Int(int v) { return Self().Value(int64_t{v}); }
  bool Uint(unsigned v) { return Self().Value(int64_t{v}); }
  bool Int64(int64_t v) { return Self().Value(v); }
  bool Uint64(uint64_t v) {
    return v <= std::numeric_limits<int64_t>::max() && Self().Value(static_cast<int64_t>(v));
  }
  bool Double(double v) { return Self().Value(v); }
  bool String(const char16_t* s, rapidjson::SizeType n, bool) {
    return Self().Value(std::u16string_view(s, n));
  }

 private:
  Derived& Self() { return static_cast<Derived&>(*this); }
};

// Fills a vector of numbers or strings from one array of them.
template <typename T>
class ItemsHandler final : public ValueEvents<ItemsHandler<T>> {
 public:
  explicit ItemsHandler(std::vector<T>& out) : out_(out) {}
  template <typename V>
  bool Value(V v) {
    return open_ && Store(out_.emplace_back(), v);
  }
  bool StartArray() {
    if (open_ || done_) return false;
    out_.clear();
    open_ = true;
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    done_ = open_;
    open_ = false;
    return done_;
  }

 private:
  std::vector<T>& out_;
  bool open_ = false;
  bool done_ = false;
};

// Fills a vector of records from an array of [id, score, name, stamp,
// [t0, t1, t2]].
class RecordsHandler final : public ValueEvents<RecordsHandler> {
 public:
  explicit RecordsHandler(std::vector<Record16>& out) : out_(out) {}
  template <typename V>
  bool Value(V v) {
    if (depth_ == 3) return part_ < 3 && Store(out_.back().triple[part_++], v);
    if (depth_ != 2) return false;
    Record16& r = out_.back();
    switch (field_++) {
      case 0:
        return Store(r.id, v);
      case 1:
        return Store(r.score, v);
      case 2:
        return Store(r.name, v);
      case 3:
        return Store(r.stamp, v);
      default:
        return false;
    }
  }
  bool StartArray() {
    switch (depth_++) {
      case 0:
        out_.clear();
        return true;
      case 1:
        out_.emplace_back();
        field_ = 0;
        return true;
      case 2:
        part_ = 0;
        return field_++ == 4;
      default:
        return false;
    }
  }
  bool EndArray(rapidjson::SizeType) {
    switch (depth_--) {
      case 3:
        return part_ == 3;
      case 2:
        return field_ == 5;
      default:
        return depth_ == 0;
    }
  }

 private:
  std::vector<Record16>& out_;
  int depth_ = 0;
  int field_ = 0;  // of the record being read
  int part_ = 0;   // of its triple
};

template <typename T>
ItemsHandler<T> HandlerFor(std::vector<T>& out) {
  return ItemsHandler<T>(out);
}
RecordsHandler HandlerFor(std::vector<Record16>& out) { return RecordsHandler(out); }

struct RapidjsonCodec {
  using String = std::u16string;
  static constexpr bool kBlobs = false;
  static constexpr bool kRounded = true;
  using Encoded = Buffer;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    out.Clear();
    JsonWriter writer(out);
    WriteArray(writer, value);
  }
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    rapidjson::GenericStringStream<Utf16> stream(in.GetString());
    rapidjson::GenericReader<Utf16, Utf16> reader;
    auto handler = HandlerFor(out);
    return !reader.Parse(stream, handler).IsError();
  }
  static uint64_t Bytes(const Encoded& e) { return e.GetSize(); }
};

}  // namespace

void AddRapidjsonTypedCases(std::vector<Case>& cases) {
  AddTypedCases<RapidjsonCodec>(cases, "rapidjson", "write", "read");
}

}  // namespace bench
