// nlohmann/json on the typed values, the way its documentation shows:
// json(value).dump() and json::parse(text).get<T>(), with to_json and
// from_json for the record. Its text is UTF-8 in a std::string, so it takes
// the values with 8-bit strings; blobs have no JSON form.

#include <nlohmann/json.hpp>

#include "typed.h"

namespace bench {

// A record as an array of its fields, the shape the other libraries give it.
void to_json(nlohmann::json& j, const Record8& r) {
  j = nlohmann::json::array({r.id, r.score, r.name, r.stamp, r.triple});
}
void from_json(const nlohmann::json& j, Record8& r) {
  j.at(0).get_to(r.id);
  j.at(1).get_to(r.score);
  j.at(2).get_to(r.name);
  j.at(3).get_to(r.stamp);
  j.at(4).get_to(r.triple);
}

namespace {

struct NlohmannCodec {
  using String = std::string;
  static constexpr bool kBlobs = false;
  static constexpr bool kRounded = false;
  using Encoded = std::string;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    out = nlohmann::json(value).dump();
  }
  // Throws nlohmann::json::exception on malformed text or a value of another
  // type.
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    out = nlohmann::json::parse(in).get<T>();
    return true;
  }
  static uint64_t Bytes(const Encoded& e) { return e.size(); }
};

}  // namespace

void AddNlohmannCases(std::vector<Case>& cases) {
  AddTypedCases<NlohmannCodec>(cases, "nlohmann", "dump", "parse-get");
}

}  // namespace bench
