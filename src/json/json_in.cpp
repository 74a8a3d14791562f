// JSON text to QkXDR values. RapidJSON parses each top-level value into a
// document (iteratively, so that deep nesting needs no deep call stack);
// numbers reach us as their text, to tell integers from doubles and to
// refuse those that no QkXDR type holds. The document is then written out
// with an explicit stack.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "json/json_text.h"
#include "json/tagged_forms.h"
#include "qkxdr/json.hpp"

namespace qkxdr::json {
namespace {

using JsonValue = rapidjson::Value;
using rapidjson::SizeType;

constexpr unsigned kParseFlags =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The power of ten of the first non-zero digit of a number's text that
// from_chars found out of range: negative when it is below 1.
long long Magnitude(std::string_view number) {
  const std::size_t point = number.find_first_of(".eE");
  const std::size_t mantissa_end = number.find_first_of("eE");
  long long exponent = 0;
  if (mantissa_end != std::string_view::npos) {
    const char* begin = number.data() + mantissa_end + 1;
    begin += *begin == '+';
    const char* end = number.data() + number.size();
    if (std::from_chars(begin, end, exponent).ec != std::errc()) {
      exponent = *begin == '-' ? -(1LL << 40) : (1LL << 40);
    }
  }
  const std::size_t first = number.find_first_of("123456789");
  const std::size_t integer_end = point == std::string_view::npos ? number.size() : point;
  if (first < integer_end) return static_cast<long long>(integer_end - first) - 1 + exponent;
  return static_cast<long long>(point) - static_cast<long long>(first) + exponent;
}

// The document of one top-level value, its numbers read by Number().
class DocumentBuilder {
 public:
  DocumentBuilder(rapidjson::Document& document, const rapidjson::MemoryStream& stream)
      : doc_(document), stream_(stream) {}

  bool Null() { return doc_.Null(); }
  bool Bool(bool b) { return doc_.Bool(b); }
  bool Int(int i) { return doc_.Int(i); }
  bool Uint(unsigned u) { return doc_.Uint(u); }
  bool Int64(std::int64_t i) { return doc_.Int64(i); }
  bool Uint64(std::uint64_t u) { return doc_.Uint64(u); }
  bool Double(double d) { return doc_.Double(d); }
  bool RawNumber(const char* text, SizeType length, bool /*copy*/) {
    return Number(std::string_view(text, length));
  }
  bool String(const char* s, SizeType length, bool copy) { return doc_.String(s, length, copy); }
  bool StartObject() { return doc_.StartObject(); }
  bool Key(const char* s, SizeType length, bool copy) { return doc_.Key(s, length, copy); }
  bool EndObject(SizeType members) { return doc_.EndObject(members); }
  bool StartArray() { return doc_.StartArray(); }
  bool EndArray(SizeType elements) { return doc_.EndArray(elements); }

  // Why Number() stopped the parse, and where the number starts; empty
  // when it did not.
  const std::string& problem() const { return problem_; }
  std::size_t problem_offset() const { return problem_offset_; }

 private:
  // An integer when the text has no fraction and no exponent, else a double.
  bool Number(std::string_view text) {
    const char* end = text.data() + text.size();
    if (text.find_first_of(".eE") == std::string_view::npos) {
      std::int64_t integer;
      if (std::from_chars(text.data(), end, integer).ec == std::errc()) return doc_.Int64(integer);
      return Refuse(text, "an integer beyond 64 bits");
    }
    double real;
    if (std::from_chars(text.data(), end, real).ec == std::errc()) return doc_.Double(real);
    if (Magnitude(text) < 0) return doc_.Double(text[0] == '-' ? -0.0 : 0.0);
    return Refuse(text, "a number beyond the range of a double");
  }

  bool Refuse(std::string_view text, const char* what) {
    problem_ = std::string(what) + ": " + std::string(text);
    problem_offset_ = stream_.Tell() - text.size();
    return false;
  }

  rapidjson::Document& doc_;
  const rapidjson::MemoryStream& stream_;
  std::string problem_;
  std::size_t problem_offset_ = 0;
};

// A JSON Pointer (RFC 6901) to the value being written, for messages.
struct PathStep {
  const JsonValue* node;
  SizeType next;  // the index of the next element or member
  enum Kind { Array, Object, Pair } kind;
};

// Writes documents to a Writer.
class DocumentWriter {
 public:
  DocumentWriter(Writer& out, Others others) : out_(out), others_(others) {}

  // Writes `root` and all it holds; false with problem() set at the first
  // value that no QkXDR type holds.
  bool Write(const JsonValue& root) {
    stack_.clear();
    if (!Value(root)) return false;
    while (!stack_.empty()) {
      if (!Step()) return false;
    }
    return true;
  }

  // "/2/name: what" for the value that Write() stopped at.
  std::string problem() const {
    std::string path;
    for (const PathStep& step : stack_) {
      if (step.kind == PathStep::Array) path += "/" + std::to_string(step.next - 1);
      if (step.kind == PathStep::Object) {
        const auto member = step.node->MemberBegin() + (step.next - 1);
        path += "/" + std::string(member->name.GetString(), member->name.GetStringLength());
      }
    }
    return path.empty() ? problem_ : path + ": " + problem_;
  }

 private:
  // Writes the next thing inside the innermost open array or object.
  bool Step() {
    PathStep& top = stack_.back();
    const JsonValue& node = *top.node;
    const SizeType size = top.kind == PathStep::Array    ? node.Size()
                          : top.kind == PathStep::Object ? node.MemberCount()
                                                         : 1;
    if (top.next == size) {
      stack_.pop_back();
      out_.end_array();
      return true;
    }
    const SizeType at = top.next++;
    if (top.kind == PathStep::Array) return Value(node[at]);
    if (top.kind == PathStep::Pair) return Value(node);
    const auto member = node.MemberBegin() + at;
    out_.begin_array();
    stack_.push_back({&member->value, 0, PathStep::Pair});
    return String(member->name);
  }

  bool Value(const JsonValue& v) {
    if (v.IsArray()) return Open(v, PathStep::Array);
    if (v.IsObject()) return Object(v);
    if (v.IsString()) return String(v);
    if (v.IsDouble()) return out_.write(v.GetDouble());
    if (v.IsNumber()) return out_.write(v.GetInt64());
    if (others_ == Others::Refuse) {
      return Refuse(std::string(v.IsNull()   ? "null"
                                : v.IsTrue() ? "true"
                                             : "false") +
                    ", which QkXDR has no type for");
    }
    if (v.IsBool()) return out_.write(v.IsTrue() ? 1 : 0);
    return out_.begin_array() && out_.end_array();
  }

  bool Open(const JsonValue& v, PathStep::Kind kind) {
    out_.begin_array();
    stack_.push_back({&v, 0, kind});
    return true;
  }

  bool Object(const JsonValue& v) {
    if (v.MemberCount() == 1 && v.MemberBegin()->value.IsString()) {
      const std::string_view key(v.MemberBegin()->name.GetString(),
                                 v.MemberBegin()->name.GetStringLength());
      const JsonValue& form = v.MemberBegin()->value;
      const std::string_view text(form.GetString(), form.GetStringLength());
      if (key == detail::kBlobKey) return Blob(text);
      if (key == detail::kDoubleKey) return Double(text);
    }
    if (others_ == Others::Refuse) return Refuse("an object, which QkXDR has no type for");
    return Open(v, PathStep::Object);
  }

  bool Blob(std::string_view base64) {
    if (!detail::ParseBase64(base64, &bytes_)) return Refuse("a \"$blob\" that is not base64");
    return out_.write(bytes_);
  }

  bool Double(std::string_view name) {
    double v;
    if (!detail::ParseDoubleName(name, &v)) {
      return Refuse("a \"$double\" that names no double: \"" + std::string(name) + "\"");
    }
    return out_.write(v);
  }

  bool String(const JsonValue& v) {
    const std::u16string units =
        detail::ToUtf16(std::string_view(v.GetString(), v.GetStringLength()));
    if (units.find(u'\0') != std::u16string::npos) {
      return Refuse("a string holding U+0000, which the writers cannot take");
    }
    return out_.write(std::u16string_view(units));
  }

  bool Refuse(std::string problem) {
    problem_ = std::move(problem);
    return false;
  }

  Writer& out_;
  Others others_;
  std::vector<PathStep> stack_;
  std::vector<std::uint8_t> bytes_;
  std::string problem_;
};

// Parses the JSON text value by value and writes each.
class Converter {
 public:
  Converter(std::string_view text, const detail::PreparedText& prepared, Writer& out,
            const Options& options)
      : prepared_(prepared),
        stream_(text.data(), text.size()),
        text_(text),
        writer_(out, options.others),
        layout_(options.layout) {}

  bool Run(Error* error) {
    if (layout_ == Layout::Array) return Array(error);
    for (SkipWhitespace(); stream_.Tell() < text_.size(); SkipWhitespace()) {
      const std::size_t start = stream_.Tell();
      if (!Parse<rapidjson::kParseStopWhenDoneFlag>(error) || !Write(start, doc_, error)) {
        return false;
      }
      if (!LineEnds()) {
        return Fail(error, stream_.Tell(),
                    "a second value on the line: each top-level value of JSON Lines stands on a "
                    "line of its own");
      }
    }
    return true;
  }

 private:
  bool Array(Error* error) {
    if (!Parse<0>(error)) return false;
    if (!doc_.IsArray()) return Fail(error, 0, "the text is not one array");
    for (const JsonValue& v : doc_.GetArray()) {
      if (!Write(0, v, error)) return false;
    }
    return true;
  }

  template <unsigned kFlags>
  bool Parse(Error* error) {
    doc_.SetNull();
    doc_.GetAllocator().Clear();  // memory for one top-level value at a time
    DocumentBuilder builder(doc_, stream_);
    rapidjson::Reader reader;
    auto generate = [&](rapidjson::Document&) {
      return !reader.Parse<kParseFlags | kFlags>(stream_, builder).IsError();
    };
    doc_.Populate(generate);
    if (!builder.problem().empty()) return Fail(error, builder.problem_offset(), builder.problem());
    if (reader.HasParseError()) {
      // RapidJSON says "empty" also where a top-level value starts with a
      // character no value starts with.
      const bool empty = reader.GetParseErrorCode() == rapidjson::kParseErrorDocumentEmpty &&
                         reader.GetErrorOffset() < text_.size();
      std::string message = rapidjson::GetParseError_En(empty ? rapidjson::kParseErrorValueInvalid
                                                              : reader.GetParseErrorCode());
      if (!message.empty() && message.back() == '.') message.pop_back();
      return Fail(error, reader.GetErrorOffset(), message);
    }
    return true;
  }

  bool Write(std::size_t start, const JsonValue& v, Error* error) {
    return writer_.Write(v) || Fail(error, start, writer_.problem());
  }

  void SkipWhitespace() {
    while (IsWhitespace(stream_.Peek())) stream_.Take();
  }

  // Skips the blanks after a top-level value; whether its line ends there.
  bool LineEnds() {
    while (stream_.Tell() < text_.size() && IsWhitespace(stream_.Peek())) {
      if (stream_.Take() == '\n') return true;
    }
    return stream_.Tell() == text_.size();
  }

  bool Fail(Error* error, std::size_t offset, std::string message) const {
    error->offset = prepared_.InputOffset(offset);
    error->message = std::move(message);
    return false;
  }

  const detail::PreparedText& prepared_;
  rapidjson::MemoryStream stream_;
  std::string_view text_;
  rapidjson::Document doc_;
  DocumentWriter writer_;
  Layout layout_;
};

}  // namespace

bool from_json(std::string_view json, Writer& out, const Options& options, Error* error) {
  const detail::PreparedText prepared(json);
  if (prepared.bad_byte() != std::string_view::npos) {
    error->offset = prepared.bad_byte();
    error->message = "not UTF-8";
    return false;
  }
  return Converter(prepared.text(), prepared, out, options).Run(error);
}

}  // namespace qkxdr::json
