// The JSON converter (qkxdr/json.hpp) against the JSON parsers it is
// measured by. Every case works on the same UTF-8 text: the workload as one
// JSON array, as json::to_json writes it (blobs as {"$blob": "..."}).
//
//   qkxdr/json-read        json::from_json of the text into a binary writer
//   qkxdr/json-read-lines  the same with each value on a line of its own
//   qkxdr/json-write       json::to_json from a binary reader of the values
//   rapidjson/json-pass    RapidJSON's SAX Reader feeding its Writer: the
//                          text parsed and written again, UTF-8 both ways
//   simdjson/dom-parse     simdjson's DOM parse of the text alone, into a
//                          reused parser (every value taken apart, nothing
//                          written)

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <simdjson.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "QkXDR.hpp"
#include "cases.h"
#include "qkxdr/json.hpp"

namespace bench {
namespace {

using qkxdr::json::Layout;

// The workload as JSON in `layout`.
std::string JsonText(const Workload& w, Layout layout) {
  const std::vector<uint8_t> bytes = QkxdrBinary(w);
  qkxdr::BinaryReader reader(bytes);
  qkxdr::Result<std::string> json = qkxdr::json::to_json(reader, {layout});
  if (!json) throw std::runtime_error("to_json: " + json.error().message());
  return std::move(*json);
}

template <Layout kLayout>
class FromJsonRunner final : public Runner {
 public:
  explicit FromJsonRunner(const Workload& w) : text_(JsonText(w, kLayout)) {
    bytes_ = text_.size();
    qkxdr::BinaryWriter out;
    const qkxdr::Result<void> written = qkxdr::json::from_json(text_, out, {kLayout});
    if (!written || out.bytes() != QkxdrBinary(w)) {
      throw std::runtime_error("from_json did not give the " + w.name + " back");
    }
  }
  uint64_t Run() override {
    qkxdr::BinaryWriter out;
    const bool ok = static_cast<bool>(qkxdr::json::from_json(text_, out, {kLayout}));
    return out.size() + ok;
  }

 private:
  std::string text_;
};

class ToJsonRunner final : public Runner {
 public:
  explicit ToJsonRunner(const Workload& w) : binary_(QkxdrBinary(w)) {
    bytes_ = JsonText(w, Layout::array).size();
  }
  uint64_t Run() override {
    qkxdr::BinaryReader reader(binary_);
    const qkxdr::Result<std::string> json = qkxdr::json::to_json(reader, {Layout::array});
    return json ? json->size() : 0;
  }

 private:
  std::vector<uint8_t> binary_;
};

class RapidjsonPassRunner final : public Runner {
 public:
  explicit RapidjsonPassRunner(const Workload& w) : text_(JsonText(w, Layout::array)) {
    bytes_ = text_.size();
    if (Run() == 0) throw std::runtime_error("RapidJSON refused the " + w.name);
  }
  uint64_t Run() override {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    rapidjson::MemoryStream stream(text_.data(), text_.size());
    rapidjson::Reader reader;
    if (reader.Parse(stream, writer).IsError()) return 0;
    return buffer.GetSize();
  }

 private:
  std::string text_;
};

class SimdjsonParseRunner final : public Runner {
 public:
  explicit SimdjsonParseRunner(const Workload& w) : text_(JsonText(w, Layout::array)) {
    bytes_ = text_.size();
    if (Run() != w.count()) throw std::runtime_error("simdjson refused the " + w.name);
  }
  uint64_t Run() override {
    simdjson::dom::array values;
    if (parser_.parse(text_).get_array().get(values) != simdjson::SUCCESS) return 0;
    return values.size();
  }

 private:
  simdjson::padded_string text_;
  simdjson::dom::parser parser_;
};

}  // namespace

void AddJsonCases(std::vector<Case>& cases) {
  for (Kind kind : kAllKinds) {
    cases.push_back({kind, "qkxdr", "json-read", MakeRunner<FromJsonRunner<Layout::array>>});
    cases.push_back({kind, "qkxdr", "json-read-lines", MakeRunner<FromJsonRunner<Layout::lines>>});
    cases.push_back({kind, "qkxdr", "json-write", MakeRunner<ToJsonRunner>});
    cases.push_back({kind, "rapidjson", "json-pass", MakeRunner<RapidjsonPassRunner>});
    cases.push_back({kind, "simdjson", "dom-parse", MakeRunner<SimdjsonParseRunner>});
  }
}

}  // namespace bench
