// QkXDR values to JSON text.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

void AppendInteger(std::int64_t v, std::string* out) {
  char text[24];
  out->append(text,
              static_cast<std::size_t>(std::to_chars(text, text + sizeof text, v).ptr - text));
}

void AppendBlob(const Blob& blob, std::string* out) {
  *out += "{\"";
  *out += detail::kBlobKey;
  *out += "\":\"";
  detail::AppendBase64(blob.data(), blob.size(), out);
  *out += "\"}";
}

Error StreamError(ErrorCode code, std::string detail) {
  return Error(code, Error::kNoOffset, std::move(detail));
}

// Writes the values of one reader, keeping track of the open arrays.
class JsonWriter {
 public:
  JsonWriter(Reader& in, Layout layout) : in_(in), layout_(layout) {}

  // Writes every value; the Error of the first that JSON cannot take, with
  // its path.
  Result<std::string> Run() {
    if (layout_ == Layout::array) out_ += '[';
    while (in_.valid()) {
      Result<void> value = Value();
      if (!value) return Placed(value.error());
    }
    // A text reader stands on no value also at text it cannot read; one
    // step on tells it from the end where more values follow.
    in_.read_type();
    if (in_.valid())
      return Placed(StreamError(ErrorCode::malformed, "text the reader cannot read"));
    if (next_.size() > 1) {
      const std::size_t open = next_.size() - 1;
      return Placed(StreamError(ErrorCode::truncated,
                                "the stream ends with " + std::to_string(open) +
                                    (open == 1 ? " array" : " arrays") + " still open"));
    }
    if (layout_ == Layout::array) out_ += "]\n";
    return std::move(out_);
  }

 private:
  // Writes the current value and moves past it.
  Result<void> Value() {
    const Type type = in_.peek_type();
    if (type == Type::ArrayEnd) return EndArray();
    if (next_.back() != 0 && (next_.size() > 1 || layout_ == Layout::array)) out_ += ',';
    if (type == Type::ArrayBegin) return BeginArray();
    Result<void> scalar = Scalar(type);
    if (scalar) Ended();
    return scalar;
  }

  Result<void> Scalar(Type type) {
    switch (type) {
      case Type::Int:
        return Put(in_.read_int64(), [&](std::int64_t v) { AppendInteger(v, &out_); });
      case Type::Double:
        return Put(in_.read_double(), [&](double v) { AppendDouble(v, &out_); });
      case Type::String:
        return Put(in_.read_u16string(),
                   [&](const std::u16string& v) { detail::AppendJsonString(v, &out_); });
      default:
        return Put(in_.read_blob(), [&](const Blob& v) { AppendBlob(v, &out_); });
    }
  }

  template <typename T, typename Append>
  static Result<void> Put(const Result<T>& value, Append append) {
    if (!value) return value.error();
    append(*value);
    return {};
  }

  Result<void> BeginArray() {
    Result<void> begin = in_.begin_array();
    if (!begin) return begin;
    out_ += '[';
    next_.push_back(0);
    return {};
  }

  Result<void> EndArray() {
    if (next_.size() == 1) {
      return StreamError(ErrorCode::malformed, "an array end with no open array");
    }
    Result<void> end = in_.end_array();
    if (!end) return end;
    out_ += ']';
    next_.pop_back();
    Ended();
    return {};
  }

  // After a value: the next one is the one at hand; a top-level value of
  // JSON Lines ends its line.
  void Ended() {
    ++next_.back();
    if (next_.size() == 1 && layout_ == Layout::lines) out_ += '\n';
  }

  // `error` with the path of the current value: "[2][0]".
  Error Placed(Error error) const {
    std::string path;
    for (const std::uint64_t index : next_) path += "[" + std::to_string(index) + "]";
    error.nest(path);
    return error;
  }

  Reader& in_;
  Layout layout_;
  std::string out_;
  // For the stream and each open array, the index of the value at hand.
  std::vector<std::uint64_t> next_{0};
};

}  // namespace

Result<std::string> to_json(Reader& in, const Options& options) {
  return JsonWriter(in, options.layout).Run();
}

}  // namespace qkxdr::json
