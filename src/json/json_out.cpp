// QkXDR values to JSON text.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "json/json_text.h"
#include "json/tagged_forms.h"
#include "qkxdr/json.hpp"

namespace qkxdr::json {
namespace {

// Appends the shortest text that reads back as `v`, with ".0" where it would
// otherwise read as an integer; NaN and infinities in their tagged form.
void AppendDouble(double v, std::string* out) {
  if (!std::isfinite(v)) {
    *out += "{\"";
    *out += detail::kDoubleKey;
    *out += "\":\"" + detail::DoubleName(v) + "\"}";
    return;
  }
  char text[32];
  const std::string_view shortest(
      text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, v).ptr - text));
  *out += shortest;
  if (shortest.find_first_of(".e") == std::string_view::npos) *out += ".0";
}

void AppendBlob(const Blob& blob, std::string* out) {
  *out += "{\"";
  *out += detail::kBlobKey;
  *out += "\":\"";
  detail::AppendBase64(blob.data(), blob.size(), out);
  *out += "\"}";
}

// Writes the values of one reader, keeping track of the open arrays.
class JsonWriter {
 public:
  JsonWriter(Reader& in, std::string* out, Layout layout) : in_(in), out_(*out), layout_(layout) {}

  // Writes every value; false with *error at the first that JSON cannot take.
  bool Run(Error* error) {
    if (layout_ == Layout::Array) out_ += '[';
    for (; in_.valid(); ++index_) {
      if (!Value()) return Fail(error, problem_);
    }
    if (depth_ != 0) {
      return Fail(error, "the stream ends with " + std::to_string(depth_) +
                             (depth_ == 1 ? " array" : " arrays") + " still open");
    }
    if (layout_ == Layout::Array) out_ += "]\n";
    return true;
  }

 private:
  // Writes the current value and moves past it; false with problem_ set.
  bool Value() {
    const Type type = in_.peek_type();
    if (type == Type::ArrayEnd) return EndArray();
    if (!first_ && (depth_ > 0 || layout_ == Layout::Array)) out_ += ',';
    if (type == Type::ArrayBegin) {
      in_.begin_array();
      out_ += '[';
      ++depth_;
      first_ = true;
      return true;
    }
    if (!Scalar(type)) {
      problem_ = "the reader cannot read this value";
      return false;
    }
    Ended();
    return true;
  }

  bool Scalar(Type type) {
    switch (type) {
      case Type::Int:
        return Put(in_.read_int64(), [&](std::int64_t v) { out_ += std::to_string(v); });
      case Type::Double:
        return Put(in_.read_double(), [&](double v) { AppendDouble(v, &out_); });
      case Type::String:
        return Put(in_.read_u16string(),
                   [&](const std::u16string& v) { detail::AppendJsonString(v, &out_); });
      case Type::Binary:
        return Put(in_.read_blob(), [&](const Blob& v) { AppendBlob(v, &out_); });
      default:
        return false;
    }
  }

  template <typename T, typename Append>
  static bool Put(const std::optional<T>& value, Append append) {
    if (value) append(*value);
    return value.has_value();
  }

  bool EndArray() {
    if (depth_ == 0) {
      problem_ = "an array end with no open array";
      return false;
    }
    in_.end_array();
    out_ += ']';
    --depth_;
    Ended();
    return true;
  }

  // After a value: a top-level one of JSON Lines ends its line.
  void Ended() {
    first_ = false;
    if (depth_ == 0 && layout_ == Layout::Lines) out_ += '\n';
  }

  bool Fail(Error* error, std::string message) const {
    error->offset = index_;
    error->message = std::move(message);
    return false;
  }

  Reader& in_;
  std::string& out_;
  Layout layout_;
  std::size_t index_ = 0;  // of the current value
  std::size_t depth_ = 0;  // arrays open
  bool first_ = true;      // no value yet in the innermost array
  std::string problem_;
};

}  // namespace

bool to_json(Reader& in, std::string* json, const Options& options, Error* error) {
  return JsonWriter(in, json, options.layout).Run(error);
}

}  // namespace qkxdr::json
