// JSON text to QkXDR values. RapidJSON's SAX reader parses each top-level
// value into a flat list of nodes: recursively while arrays and objects nest
// no deeper than kRecursiveDepth; a value nested deeper, and any value that
// parse fails on, again iteratively, so that deep nesting needs no deep call
// stack and every error is the iterative parser's. It reads integers; a
// double, and an integer it cannot hold, is read again from its text,
// exactly, or refused with its text. The nodes are then written out with an
// explicit stack. A value is parsed whole before any of it is written: a
// syntax error anywhere in it comes first.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "json/json_text.h"
#include "json/tagged_forms.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/base/utf8.h"
#include "qkxdr/json.hpp"

namespace qkxdr::json {
namespace {

using rapidjson::SizeType;

// The deepest nesting parsed with the recursive parser, which is faster.
constexpr std::size_t kRecursiveDepth = 64;

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
using detail::IsDigit;
using detail::IsNumberPart;

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
  number.is_integer =
      std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '-'; });
  if (number.is_integer) {
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

// One value of the parsed text. The nodes of what it holds follow it: an
// array's elements, an object's members as name then value.
struct Node {
  enum Kind : std::uint8_t { Array, Object, String, Integer, Real, Null, True, False };

  explicit Node(Kind k, SizeType n = 0, std::size_t first = 0) : kind(k), count(n), at(first) {}

  Kind kind;
  SizeType count;    // elements, members, or bytes of a string
  union {            // as `kind` tells
    std::size_t at;  // the node after an array or object; a string's first byte
    std::int64_t integer;
    double real;
  };
};

// The nodes of one top-level value (or of the whole array), with their
// strings' bytes in one buffer, as the parser gives them.
class NodeBuilder {
 public:
  NodeBuilder(std::string_view text, const rapidjson::MemoryStream& stream)
      : text_(text), stream_(stream) {}

  // Drops the nodes of the last value; the parse stops at arrays and
  // objects nested deeper than `max_depth`.
  void Clear(std::size_t max_depth) {
    max_depth_ = max_depth;
    nodes_.clear();
    bytes_.clear();
    open_.clear();
    problem_.clear();
  }

  bool Int(int i) { return Integer(i); }
  bool Uint(unsigned u) { return Integer(u); }
  bool Int64(std::int64_t i) { return Integer(i); }
  bool Uint64(std::uint64_t u) {
    return u <= static_cast<std::uint64_t>(INT64_MAX) ? Integer(static_cast<std::int64_t>(u))
                                                      : Number(NumberText());
  }
  // The parser's double may be off in its last bit, and it takes integers
  // beyond 64 bits for doubles: both are read again from the text.
  bool Double(double /*inexact*/) { return Number(NumberText()); }

  bool Null() { return Add(Node(Node::Null)); }
  bool Bool(bool b) { return Add(Node(b ? Node::True : Node::False)); }
  bool RawNumber(const char*, SizeType, bool) { return false; }  // never called
  bool String(const char* s, SizeType length, bool /*copy*/) {
    nodes_.emplace_back(Node::String, length, bytes_.size());
    bytes_.append(s, length + 1);  // with the parser's zero byte, for WriteStringA
    return true;
  }
  bool Key(const char* s, SizeType length, bool copy) { return String(s, length, copy); }
  bool StartObject() { return Open(Node::Object); }
  bool EndObject(SizeType members) { return Close(members); }
  bool StartArray() { return Open(Node::Array); }
  bool EndArray(SizeType elements) { return Close(elements); }

  const std::vector<Node>& nodes() const { return nodes_; }
  // The node after node i and all it holds.
  std::size_t End(std::size_t i) const {
    return nodes_[i].kind == Node::Array || nodes_[i].kind == Node::Object ? nodes_[i].at : i + 1;
  }
  // The bytes of string node i, a zero byte after them.
  std::string_view Text(std::size_t i) const {
    return std::string_view(bytes_).substr(nodes_[i].at, nodes_[i].count);
  }

  // Why Number() stopped the parse, and where the number starts; empty
  // when it did not.
  const std::string& problem() const { return problem_; }
  std::size_t problem_offset() const { return problem_offset_; }

 private:
  bool Add(const Node& node) {
    nodes_.push_back(node);
    return true;
  }

  bool Open(Node::Kind kind) {
    if (open_.size() == max_depth_) return false;
    open_.push_back(nodes_.size());
    return Add(Node(kind));
  }

  bool Close(SizeType count) {
    Node& node = nodes_[open_.back()];
    open_.pop_back();
    node.count = count;
    node.at = nodes_.size();
    return true;
  }

  bool Integer(std::int64_t i) {
    Node node(Node::Integer);
    node.integer = i;
    return Add(node);
  }

  // The number that ends where the parser stands: no character that can
  // stand before a number is part of one.
  std::string_view NumberText() const {
    const std::size_t end = stream_.Tell();
    std::size_t start = end;
    while (start > 0 && IsNumberPart(text_[start - 1])) --start;
    return text_.substr(start, end - start);
  }

  bool Number(std::string_view text) {
    const JsonNumber number = ReadNumber(text);
    if (number.beyond != nullptr) {
      problem_ = Beyond(number, text);
      problem_offset_ = stream_.Tell() - text.size();
      return false;
    }
    if (number.is_integer) return Integer(number.integer);
    Node node(Node::Real);
    node.real = number.real;
    return Add(node);
  }

  std::string_view text_;
  const rapidjson::MemoryStream& stream_;
  std::vector<Node> nodes_;
  std::string bytes_;
  std::vector<std::size_t> open_;  // the arrays and objects not yet closed
  std::size_t max_depth_ = 0;
  std::string problem_;
  std::size_t problem_offset_ = 0;
};

// The converter's words for each error of the parser that is not at the
// end of the text. The others do not come here: the text is checked for
// UTF-8 and its surrogate escapes are rewritten before the parser sees it,
// numbers too big for the parser are read again, and a string without its closing quote
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

// An array or object being written, or a member as its [name, value] pair.
struct PathStep {
  enum Kind { Array, Object, Pair } kind;
  std::size_t node;  // the array or object; a pair's name
  std::size_t next;  // the node of the next element, member or pair value
  SizeType begun;    // elements or members begun
  std::size_t name;  // an object's member begun last: its name node
};

// Writes parsed values to a Writer.
class NodeWriter {
 public:
  NodeWriter(Writer& out, Others others, const NodeBuilder& parsed)
      : out_(out), others_(others), parsed_(parsed) {}

  // Writes node `root` and all it holds; false at the first value that no
  // QkXDR type holds, or that `out` does not take: Problem() tells which.
  bool Write(std::size_t root) {
    stack_.clear();
    if (!Value(root)) return false;
    while (!stack_.empty()) {
      if (!Step()) return false;
    }
    return true;
  }

  // The Error of the value that Write() stopped at, at `offset`, with the
  // JSON Pointer (RFC 6901) to it as its path.
  Error Problem(std::uint64_t offset) const {
    std::string path;
    for (const PathStep& step : stack_) {
      if (step.begun == 0 || step.kind == PathStep::Pair) continue;
      path += '/';
      path += step.kind == PathStep::Array ? std::to_string(step.begun - 1)
                                           : std::string(parsed_.Text(step.name));
    }
    return Error(code_, offset, problem_, path);
  }

 private:
  const Node& At(std::size_t i) const { return parsed_.nodes()[i]; }

  // Writes the next thing inside the innermost open array or object.
  bool Step() {
    PathStep& top = stack_.back();
    const SizeType size = top.kind == PathStep::Pair ? 1 : At(top.node).count;
    if (top.begun == size) {
      stack_.pop_back();
      return Wrote(out_.end_array());
    }
    ++top.begun;
    const std::size_t at = top.next;
    if (top.kind == PathStep::Pair) return Value(at);
    top.next = parsed_.End(top.kind == PathStep::Array ? at : at + 1);
    if (top.kind == PathStep::Array) return Value(at);
    top.name = at;
    stack_.push_back({PathStep::Pair, at, at + 1, 0, 0});
    return Wrote(out_.begin_array()) && String(at);
  }

  bool Value(std::size_t i) {
    const Node& v = At(i);
    switch (v.kind) {
      case Node::Array:
        return Open(i, PathStep::Array);
      case Node::Object:
        return Object(i);
      case Node::String:
        return String(i);
      case Node::Real:
        return Wrote(out_.write(v.real));
      case Node::Integer:
        return Wrote(out_.write(v.integer));
      default:
        return Other(v.kind);
    }
  }

  // null, true and false.
  bool Other(Node::Kind kind) {
    if (others_ == Others::refuse) {
      return Refuse(ErrorCode::unsupported, std::string(kind == Node::Null   ? "null"
                                                        : kind == Node::True ? "true"
                                                                             : "false") +
                                                ", which QkXDR has no type for");
    }
    if (kind != Node::Null) return Wrote(out_.write(kind == Node::True ? 1 : 0));
    return Wrote(out_.begin_array() && out_.end_array());
  }

  bool Open(std::size_t i, PathStep::Kind kind) {
    stack_.push_back({kind, i, i + 1, 0, 0});
    return Wrote(out_.begin_array());
  }

  bool Object(std::size_t i) {
    if (At(i).count == 1 && At(i + 2).kind == Node::String) {
      const std::string_view key = parsed_.Text(i + 1);
      if (key == detail::kBlobKey) return Blob(parsed_.Text(i + 2));
      if (key == detail::kDoubleKey) return Double(parsed_.Text(i + 2));
    }
    if (others_ == Others::refuse) {
      return Refuse(ErrorCode::unsupported, "an object, which QkXDR has no type for");
    }
    return Open(i, PathStep::Object);
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

  // A zero unit comes only from a zero byte: the text is UTF-8 without
  // overlong forms.
  // ASCII goes to the stream as it is: its UTF-16 units are its bytes.
  bool String(std::size_t i) {
    const std::string_view utf8 = parsed_.Text(i);
    if (impl::IsAsciiWithoutZero(utf8)) {
      QkXDROStream2* stream = out_.get();
      if (stream != nullptr) stream->WriteStringA(utf8.data());
      return Wrote(stream != nullptr);
    }
    if (utf8.find('\0') != std::string_view::npos) {
      return Refuse(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
    }
    detail::ToUtf16(utf8, &units_);
    return Wrote(out_.write(units_.c_str()));
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
  const NodeBuilder& parsed_;
  std::vector<PathStep> stack_;
  std::vector<std::uint8_t> bytes_;
  std::u16string units_;
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
        parsed_(text_, stream_),
        writer_(out, options.others, parsed_),
        layout_(options.layout) {}

  Result<void> Run() {
    if (layout_ == Layout::array) return Array();
    for (SkipWhitespace(); stream_.Tell() < text_.size(); SkipWhitespace()) {
      const std::size_t start = stream_.Tell();
      Result<void> value = Parse<rapidjson::kParseStopWhenDoneFlag>();
      if (!value) return value;
      if (!writer_.Write(0)) return writer_.Problem(prepared_.InputOffset(start));
      if (!LineEnds()) {
        return Fail(stream_.Tell(), ErrorCode::malformed,
                    AtZeroByte() ? kZeroByte
                                 : "a second value on the line: each top-level value of JSON Lines "
                                   "stands on a line of its own");
      }
    }
    return {};
  }

  // Where the conversion must start again with zeros rewritten: the input
  // offset of the value it stopped at, or npos.
  std::size_t redo_at() const { return redo_at_; }

 private:
  Result<void> Array() {
    Result<void> parsed = Parse<0>();
    if (!parsed) return parsed;
    if (AtZeroByte()) return Fail(stream_.Tell(), ErrorCode::malformed, kZeroByte);
    const Node& root = parsed_.nodes()[0];
    if (root.kind != Node::Array) return Fail(0, ErrorCode::malformed, "the text is not one array");
    for (std::size_t i = 1; i < root.at; i = parsed_.End(i)) {
      if (!writer_.Write(i)) return writer_.Problem(0);
    }
    return {};
  }

  template <unsigned kFlags>
  Result<void> Parse() {
    const std::size_t start = stream_.Tell();
    parsed_.Clear(kRecursiveDepth);
    reader_.Parse<kFlags>(stream_, parsed_);
    if (!reader_.HasParseError()) return {};
    stream_.src_ = stream_.begin_ + start;
    parsed_.Clear(SIZE_MAX);
    reader_.Parse<rapidjson::kParseIterativeFlag | kFlags>(stream_, parsed_);
    if (!parsed_.problem().empty()) {
      return Fail(parsed_.problem_offset(), ErrorCode::out_of_range, parsed_.problem());
    }
    if (!reader_.HasParseError()) return {};
    return ParseError(reader_.GetParseErrorCode(), reader_.GetErrorOffset(), start);
  }

  // RapidJSON refuses numbers its own reading would overflow before handing
  // their text over; at the end of the text, every error is a value cut
  // short, or no array at all. A zero it refuses, such as 0e400, calls for
  // the value that starts at `start` to be converted again, with the zeros
  // rewritten.
  Error ParseError(rapidjson::ParseErrorCode code, std::size_t offset, std::size_t start) {
    if (code == rapidjson::kParseErrorNumberTooBig) {
      const std::string_view text = NumberAt(text_, offset);
      if (detail::IsZeroWithExponent(text)) redo_at_ = prepared_.InputOffset(start);
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
  NodeBuilder parsed_;
  NodeWriter writer_;
  rapidjson::Reader reader_;
  Layout layout_;
  std::size_t redo_at_ = std::string_view::npos;
};

// Converts `json`, made ready as `prepared` without rewriting zeros. Only
// once the parser has refused a zero does the conversion start again with
// them rewritten, at the top-level value that holds it: nothing of that value
// has been written yet.
Result<void> Convert(std::string_view json, const detail::PreparedText& prepared, Writer& out,
                     const Options& options) {
  Converter converter(prepared, out, options);
  Result<void> converted = converter.Run();
  const std::size_t redo = converter.redo_at();
  if (redo == std::string_view::npos) return converted;
  const detail::PreparedText rest(json.substr(redo), /*rewrite_zeros=*/true, redo);
  return Converter(rest, out, options).Run();
}

}  // namespace

Result<void> from_json(std::string_view json, Writer& out, const Options& options) {
  if (json.substr(0, detail::kByteOrderMark.size()) == detail::kByteOrderMark) {
    Result<void> rest = from_json(json.substr(detail::kByteOrderMark.size()), out, options);
    if (rest) return rest;
    Error error = rest.error();
    error.shift(detail::kByteOrderMark.size());
    return error;
  }
  const detail::PreparedText prepared(json, /*rewrite_zeros=*/false);
  const std::size_t bad = prepared.bad_byte();
  if (bad == std::string_view::npos) return Convert(json, prepared, out, options);
  // The text before the first byte that is not UTF-8 is converted first: a
  // problem there comes first. One that the cut makes is not reported.
  const std::string_view valid = json.substr(0, bad);
  const detail::PreparedText before(valid, /*rewrite_zeros=*/false);
  Result<void> converted = Convert(valid, before, out, options);
  if (!converted && converted.error().offset() < bad &&
      converted.error().code() != ErrorCode::truncated) {
    return converted;
  }
  return Error(ErrorCode::malformed, bad, "not UTF-8");
}

}  // namespace qkxdr::json
