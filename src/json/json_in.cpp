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
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "json/json_text.h"
#include "json/tagged_forms.h"
#include "qkxdr/detail/base/string_rules.h"
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

// A JSON number as QkXDR holds it: an integer when the text has no fraction
// and no exponent, else a double; or why none holds it.
struct JsonNumber {
  bool is_integer = false;
  std::int64_t integer = 0;
  double real = 0;
  const char* beyond = nullptr;
};

JsonNumber ReadNumber(std::string_view text) {
  JsonNumber number;
  const char* end = text.data() + text.size();
  if (text.find_first_of(".eE") == std::string_view::npos) {
    number.is_integer = true;
    if (std::from_chars(text.data(), end, number.integer).ec != std::errc()) {
      number.beyond = "an integer beyond 64 bits";
    }
  } else if (std::from_chars(text.data(), end, number.real).ec != std::errc()) {
    number.real = text[0] == '-' ? -0.0 : 0.0;
    if (Magnitude(text) >= 0) number.beyond = "a number beyond the range of a double";
  }
  return number;
}

// "what: 1e400", the number cut after 40 characters.
std::string Beyond(const JsonNumber& number, std::string_view text) {
  constexpr std::size_t kShown = 40;
  const char* what = number.beyond != nullptr ? number.beyond : "a number the parser refuses";
  return std::string(what) + ": " + std::string(text.substr(0, kShown)) +
         (text.size() > kShown ? "..." : "");
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
  bool Number(std::string_view text) {
    const JsonNumber number = ReadNumber(text);
    if (number.beyond != nullptr) {
      problem_ = Beyond(number, text);
      problem_offset_ = stream_.Tell() - text.size();
      return false;
    }
    return number.is_integer ? doc_.Int64(number.integer) : doc_.Double(number.real);
  }

  rapidjson::Document& doc_;
  const rapidjson::MemoryStream& stream_;
  std::string problem_;
  std::size_t problem_offset_ = 0;
};

// The converter's words for each error of the parser that is not at the
// end of the text. The others do not come here: the text is checked for
// UTF-8 and its surrogate escapes are rewritten before the parser sees it,
// numbers reach us as their text, and a string without its closing quote
// runs to the end of the text.
const char* ParseProblem(rapidjson::ParseErrorCode code) {
  switch (code) {
    case rapidjson::kParseErrorDocumentEmpty:
      return "a separator or closing bracket where a value should start";
    case rapidjson::kParseErrorDocumentRootNotSingular:
      return "a value after the array";
    case rapidjson::kParseErrorValueInvalid:
      return "not a JSON value";
    case rapidjson::kParseErrorObjectMissName:
      return "an object member without a name in quotes";
    case rapidjson::kParseErrorObjectMissColon:
      return "no colon after an object member's name";
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
      return "no comma or \"}\" after an object member";
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
      return "no comma or \"]\" after an array element";
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
      return "a \\u escape without four hex digits";
    case rapidjson::kParseErrorStringEscapeInvalid:
      return "an escape that JSON does not have";
    case rapidjson::kParseErrorNumberMissFraction:
      return "no digit after the decimal point";
    case rapidjson::kParseErrorNumberMissExponent:
      return "no digit in the exponent";
    default:
      return "not JSON";
  }
}

// The parser takes a zero byte for the end of the text, and reports a
// control character in a string as an escape.
constexpr const char* kZeroByte = "a zero byte, which JSON text never holds";
constexpr const char* kControl = "a control character in a string, which JSON writes as an escape";

// The text of the number that starts at `at`.
std::string_view NumberAt(std::string_view text, std::size_t at) {
  return text.substr(at, detail::JsonNumberLength(text.substr(at)));
}

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

  // Writes `root` and all it holds; false at the first value that no QkXDR
  // type holds, or that `out` does not take: Problem() tells which.
  bool Write(const JsonValue& root) {
    stack_.clear();
    if (!Value(root)) return false;
    while (!stack_.empty()) {
      if (!Step()) return false;
    }
    return true;
  }

  // The Error of the value that Write() stopped at, at `offset`, with the
  // JSON Pointer to it as its path.
  Error Problem(std::uint64_t offset) const {
    std::string path;
    for (const PathStep& step : stack_) {
      if (step.kind == PathStep::Array) path += "/" + std::to_string(step.next - 1);
      if (step.kind == PathStep::Object) {
        const auto member = step.node->MemberBegin() + (step.next - 1);
        path += "/" + std::string(member->name.GetString(), member->name.GetStringLength());
      }
    }
    return Error(code_, offset, problem_, path);
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
      return Wrote(out_.end_array());
    }
    const SizeType at = top.next++;
    if (top.kind == PathStep::Array) return Value(node[at]);
    if (top.kind == PathStep::Pair) return Value(node);
    const auto member = node.MemberBegin() + at;
    stack_.push_back({&member->value, 0, PathStep::Pair});
    return Wrote(out_.begin_array()) && String(member->name);
  }

  bool Value(const JsonValue& v) {
    if (v.IsArray()) return Open(v, PathStep::Array);
    if (v.IsObject()) return Object(v);
    if (v.IsString()) return String(v);
    if (v.IsDouble()) return Wrote(out_.write(v.GetDouble()));
    if (v.IsNumber()) return Wrote(out_.write(v.GetInt64()));
    if (others_ == Others::refuse) {
      return Refuse(ErrorCode::unsupported, std::string(v.IsNull()   ? "null"
                                                        : v.IsTrue() ? "true"
                                                                     : "false") +
                                                ", which QkXDR has no type for");
    }
    if (v.IsBool()) return Wrote(out_.write(v.IsTrue() ? 1 : 0));
    return Wrote(out_.begin_array() && out_.end_array());
  }

  bool Open(const JsonValue& v, PathStep::Kind kind) {
    stack_.push_back({&v, 0, kind});
    return Wrote(out_.begin_array());
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
    if (others_ == Others::refuse) {
      return Refuse(ErrorCode::unsupported, "an object, which QkXDR has no type for");
    }
    return Open(v, PathStep::Object);
  }

  bool Blob(std::string_view base64) {
    if (!detail::ParseBase64(base64, &bytes_)) {
      return Refuse(ErrorCode::malformed, "a \"$blob\" that is not base64");
    }
    return Wrote(out_.write(bytes_));
  }

  bool Double(std::string_view name) {
    double v;
    if (!detail::ParseDoubleName(name, &v)) {
      return Refuse(ErrorCode::malformed,
                    "a \"$double\" that names no double: \"" + std::string(name) + "\"");
    }
    return Wrote(out_.write(v));
  }

  bool String(const JsonValue& v) {
    const std::u16string units =
        detail::ToUtf16(std::string_view(v.GetString(), v.GetStringLength()));
    if (impl::HoldsZeroUnit(std::u16string_view(units))) {
      return Refuse(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
    }
    return Wrote(out_.write(std::u16string_view(units)));
  }

  // A write's outcome: false only where `out` is empty.
  bool Wrote(bool written) { return written || Refuse(ErrorCode::io, "the writer took no value"); }

  bool Refuse(ErrorCode code, std::string problem) {
    code_ = code;
    problem_ = std::move(problem);
    return false;
  }

  Writer& out_;
  Others others_;
  std::vector<PathStep> stack_;
  std::vector<std::uint8_t> bytes_;
  ErrorCode code_ = ErrorCode::malformed;
  std::string problem_;
};

// Parses the JSON text value by value and writes each.
class Converter {
 public:
  Converter(const detail::PreparedText& prepared, Writer& out, const Options& options)
      : prepared_(prepared),
        text_(prepared.text()),
        stream_(text_.data(), text_.size()),
        writer_(out, options.others),
        layout_(options.layout) {}

  Result<void> Run() {
    if (layout_ == Layout::array) return Array();
    for (SkipWhitespace(); stream_.Tell() < text_.size(); SkipWhitespace()) {
      const std::size_t start = stream_.Tell();
      Result<void> value = Parse<rapidjson::kParseStopWhenDoneFlag>();
      if (!value) return value;
      if (!writer_.Write(doc_)) return writer_.Problem(prepared_.InputOffset(start));
      if (!LineEnds()) {
        return Fail(stream_.Tell(), ErrorCode::malformed,
                    AtZeroByte() ? kZeroByte
                                 : "a second value on the line: each top-level value of JSON Lines "
                                   "stands on a line of its own");
      }
    }
    return {};
  }

 private:
  Result<void> Array() {
    Result<void> parsed = Parse<0>();
    if (!parsed) return parsed;
    if (AtZeroByte()) return Fail(stream_.Tell(), ErrorCode::malformed, kZeroByte);
    if (!doc_.IsArray()) return Fail(0, ErrorCode::malformed, "the text is not one array");
    for (const JsonValue& v : doc_.GetArray()) {
      if (!writer_.Write(v)) return writer_.Problem(0);
    }
    return {};
  }

  template <unsigned kFlags>
  Result<void> Parse() {
    doc_.SetNull();
    doc_.GetAllocator().Clear();  // memory for one top-level value at a time
    DocumentBuilder builder(doc_, stream_);
    rapidjson::Reader reader;
    auto generate = [&](rapidjson::Document&) {
      return !reader.Parse<kParseFlags | kFlags>(stream_, builder).IsError();
    };
    doc_.Populate(generate);
    if (!builder.problem().empty()) {
      return Fail(builder.problem_offset(), ErrorCode::out_of_range, builder.problem());
    }
    if (!reader.HasParseError()) return {};
    return ParseError(reader.GetParseErrorCode(), reader.GetErrorOffset());
  }

  // RapidJSON refuses numbers its own reading would overflow before handing
  // their text over; at the end of the text, every error is a value cut
  // short, or no array at all.
  Error ParseError(rapidjson::ParseErrorCode code, std::size_t offset) const {
    if (code == rapidjson::kParseErrorNumberTooBig) {
      const std::string_view text = NumberAt(text_, offset);
      return Fail(offset, ErrorCode::out_of_range, Beyond(ReadNumber(text), text));
    }
    if (offset < text_.size()) {
      const char at = text_[offset];
      const bool control = code == rapidjson::kParseErrorStringEscapeInvalid && at != '\\';
      return Fail(offset, ErrorCode::malformed,
                  at == '\0' ? kZeroByte
                  : control  ? kControl
                             : ParseProblem(code));
    }
    if (code == rapidjson::kParseErrorDocumentEmpty) {
      return Fail(offset, ErrorCode::malformed, "the text is not one array");
    }
    return Fail(offset, ErrorCode::truncated, "the text ends inside a value");
  }

  // Whether the parser stopped at a zero byte, which it takes for the end.
  bool AtZeroByte() const { return stream_.Tell() < text_.size() && text_[stream_.Tell()] == '\0'; }

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

  Error Fail(std::size_t offset, ErrorCode code, std::string detail) const {
    return Error(code, prepared_.InputOffset(offset), std::move(detail));
  }

  const detail::PreparedText& prepared_;
  std::string_view text_;
  rapidjson::MemoryStream stream_;
  rapidjson::Document doc_;
  DocumentWriter writer_;
  Layout layout_;
};

}  // namespace

Result<void> from_json(std::string_view json, Writer& out, const Options& options) {
  const detail::PreparedText prepared(json);
  const std::size_t bad = prepared.bad_byte();
  if (bad == std::string_view::npos) return Converter(prepared, out, options).Run();
  // The text before the first byte that is not UTF-8 is converted first: a
  // problem there comes first. One that the cut makes is not reported.
  const detail::PreparedText before(json.substr(0, bad));
  Result<void> converted = Converter(before, out, options).Run();
  if (!converted && converted.error().offset() < bad &&
      converted.error().code() != ErrorCode::truncated) {
    return converted;
  }
  return Error(ErrorCode::malformed, bad, "not UTF-8");
}

}  // namespace qkxdr::json
