// RapidJSON with UTF-16 in and out on the text paths: its Writer into a
// UTF-16 string buffer, and its GenericReader's SAX parse with a handler that
// consumes every value.
//
// The UTF-16 encoding is UTF16<char16_t>: UTF16<> would store its units in a
// wchar_t, which is 32 bits on this platform. A JSON text has one root, so the
// values go into one top-level array.

#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "cases.h"

namespace bench {
namespace {

using Utf16 = rapidjson::UTF16<char16_t>;
using Buffer = rapidjson::GenericStringBuffer<Utf16>;
using JsonWriter = rapidjson::Writer<Buffer, Utf16, Utf16>;

class RapidjsonSink {
 public:
  explicit RapidjsonSink(JsonWriter& writer) : writer_(writer) {}
  void BeginTop(size_t) { writer_.StartArray(); }
  void EndTop() { writer_.EndArray(); }
  void Int(int32_t v) { writer_.Int(v); }
  void Int64(int64_t v) { writer_.Int64(v); }
  void Double(double v) { writer_.Double(v); }
  void String(const Text& s) {
    writer_.String(s.wide.data(), static_cast<rapidjson::SizeType>(s.wide.size()));
  }
  void BeginArray(size_t) { writer_.StartArray(); }
  void EndArray() { writer_.EndArray(); }
  void Binary(const Blob&) {}  // blobs have no JSON form; never asked for

 private:
  JsonWriter& writer_;
};

// Tallies every value, as QkXDR's handler does; strings are copied out.
class TallyHandler {
 public:
  bool Null() { return false; }
  bool Bool(bool) { return false; }
  bool Int(int v) { return Integer(v); }
  bool Uint(unsigned v) { return Integer(v); }
  bool Int64(int64_t v) { return Integer(v); }
  bool Uint64(uint64_t v) { return Integer(static_cast<int64_t>(v)); }
  bool Double(double v) {
    tally.Double(v);
    return true;
  }
  bool RawNumber(const char16_t*, rapidjson::SizeType, bool) { return false; }
  bool String(const char16_t* s, rapidjson::SizeType n, bool) {
    copy_.assign(s, n);
    tally.Units(copy_.data(), copy_.size());
    return true;
  }
  bool StartObject() { return false; }
  bool Key(const char16_t*, rapidjson::SizeType, bool) { return false; }
  bool EndObject(rapidjson::SizeType) { return false; }
  bool StartArray() {
    tally.Marker();
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    tally.Marker();
    return true;
  }

  Tally tally;

 private:
  bool Integer(int64_t v) {
    tally.Int(v);
    return true;
  }

  std::u16string copy_;
};

uint64_t WriteJson(const Workload& w, Buffer& buffer) {
  JsonWriter writer(buffer);
  RapidjsonSink sink(writer);
  Emit(w, sink);
  return buffer.GetSize();
}

class WriteRunner final : public Runner {
 public:
  explicit WriteRunner(const Workload& w) : w_(w) { bytes_ = Run(); }
  uint64_t Run() override {
    Buffer buffer;
    return WriteJson(w_, buffer);
  }

 private:
  const Workload& w_;
};

class ReadRunner final : public Runner {
 public:
  explicit ReadRunner(const Workload& w) : w_(w) {
    Buffer buffer;
    bytes_ = WriteJson(w, buffer);
    text_.assign(buffer.GetString(), bytes_ / sizeof(char16_t));  // c_str() adds the terminator
    bool ok = false;
    const Tally tally = Read(&ok);
    CheckDelivered(w, tally, ok, "RapidJSON reader");
  }
  uint64_t Run() override {
    bool ok;
    return Digest(Read(&ok));
  }

 private:
  Tally Read(bool* ok) {
    rapidjson::GenericStringStream<Utf16> stream(text_.c_str());
    rapidjson::GenericReader<Utf16, Utf16> reader;
    TallyHandler handler;
    *ok = !reader.Parse(stream, handler).IsError();
    return handler.tally;
  }

  const Workload& w_;
  std::u16string text_;
};

}  // namespace

void AddRapidjsonCases(std::vector<Case>& cases) {
  for (Kind kind : kAllKinds) {
    if (kind == Kind::Blobs) continue;
    cases.push_back({kind, "rapidjson", "write", MakeRunner<WriteRunner>});
    cases.push_back({kind, "rapidjson", "read", MakeRunner<ReadRunner>});
  }
}

}  // namespace bench
