// QkXDR.hpp: a header-only C++17 layer over QkXDR.h.
//
// Owners that release streams and blob slots when they go out of scope,
// writes from UTF-8 and UTF-16 strings, Latin1 strings, integers and byte
// containers, and reads that return a qkxdr::Result (qkxdr/error.hpp) of
// standard containers.
//
// Data errors never throw: writes return false, reads return a Result that
// holds an Error, and an owner whose stream could not be created tests
// false. Two exceptions reach the caller. std::bad_alloc: the library
// catches no allocation failure, so one raised inside it unwinds through it
// (on 32-bit Windows it ends the process instead), and one from the
// containers that reads fill is held until the library has returned, then
// rethrown. And what parse_text callbacks throw, held and rethrown the same
// way. What each object is left with: docs/robustness.md, "When memory runs
// out".

#ifndef QKXDR_HPP_
#define QKXDR_HPP_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/base/utf8.h"
#include "qkxdr/error.hpp"
#include "qkxdr/latin1.hpp"

namespace qkxdr {

// Type codes of the current value of a Reader.
using Type = QkXDRType2;

namespace detail {

// Whether a length or size fits the C interface's 32-bit counts (always,
// where std::size_t has 32 bits).
template <typename Size>
constexpr bool FitsCount(Size n) {
  if constexpr (sizeof(Size) > sizeof(std::uint32_t)) {
    return n <= (std::numeric_limits<std::uint32_t>::max)();
  } else {
    static_cast<void>(n);
    return true;
  }
}

template <typename T>
inline constexpr bool kIsCharacter =
    std::is_same_v<T, char> || std::is_same_v<T, wchar_t> || std::is_same_v<T, char16_t> ||
#if defined(__cpp_char8_t)
    std::is_same_v<T, char8_t> ||
#endif
    std::is_same_v<T, char32_t>;

// Integer types that are written as numbers: bool and characters are not.
template <typename T>
inline constexpr bool kIsInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !kIsCharacter<T>;

// Arithmetic types that would otherwise convert silently to a double write.
template <typename T>
inline constexpr bool kIsRefusedNumber = std::is_arithmetic_v<T> && !kIsInteger<T> &&
                                         !std::is_same_v<T, double> && !std::is_same_v<T, float>;

template <typename T>
inline constexpr bool kIsByte = std::is_same_v<T, unsigned char> || std::is_same_v<T, std::byte>;

// Contiguous containers of bytes: anything with std::data() pointing to
// unsigned char (std::uint8_t) or std::byte, and std::size().
template <typename C, typename = void>
struct IsByteContainer : std::false_type {};
template <typename C>
struct IsByteContainer<C, std::void_t<decltype(std::data(std::declval<const C&>())),
                                      decltype(std::size(std::declval<const C&>()))>>
    : std::bool_constant<kIsByte<
          std::remove_cv_t<std::remove_pointer_t<decltype(std::data(std::declval<const C&>()))>>>> {
};
template <typename C>
inline constexpr bool kIsByteContainer =
    IsByteContainer<std::remove_cv_t<std::remove_reference_t<C>>>::value;

// A temporary that owns the input a reader would keep pointing into.
template <typename C, typename Owned>
inline constexpr bool kIsTemporary =
    !std::is_lvalue_reference_v<C> && std::is_same_v<std::remove_cv_t<C>, Owned>;

// Whether (data, size) can become a blob view: the size fits the 32-bit count
// and a non-empty view has bytes to point at.
inline bool CanView(const void* data, std::size_t size) {
  return FitsCount(size) && (data != nullptr || size == 0);
}

// Runs `f`. An exception it throws is stored in `error` instead of unwinding
// through the library's frames; returns whether `f` completed.
template <typename F>
bool Contain(std::exception_ptr& error, F&& f) {
#if defined(__cpp_exceptions) || defined(_CPPUNWIND)
  try {
    f();
  } catch (...) {
    error = std::current_exception();
    return false;
  }
#else
  static_cast<void>(error);
  f();
#endif
  return true;
}

inline void Rethrow(const std::exception_ptr& error) {
  if (error) std::rethrow_exception(error);
}

// Hands the library a buffer inside a standard container. Refuses counts
// above `limit` (only damaged data asks for more units than its input holds)
// so that a bad length cannot allocate gigabytes.
template <typename Container>
class Filler final : public QkXDRAllocator {
 public:
  Filler(Container& out, std::size_t limit) : out_(out), limit_(limit) {}

  void* Alloc(std::uint32_t count) override {
    if (count > limit_ || !Contain(error_, [&] { out_.resize(count); })) {
      refused_ = true;
      return nullptr;
    }
    return out_.data();
  }

  // Whether a buffer was refused; rethrows what the container threw.
  bool Refused() const {
    Rethrow(error_);
    return refused_;
  }

 private:
  Container& out_;
  std::size_t limit_;
  bool refused_ = false;
  std::exception_ptr error_;
};

// Owns a stream from a factory: releases it once; a move leaves null behind.
template <typename Stream>
class StreamOwner {
 public:
  StreamOwner() noexcept = default;
  explicit StreamOwner(Stream* stream) noexcept : stream_(stream) {}
  StreamOwner(StreamOwner&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}
  StreamOwner& operator=(StreamOwner&& other) noexcept {
    if (this != &other) {
      Release();
      stream_ = std::exchange(other.stream_, nullptr);
    }
    return *this;
  }
  ~StreamOwner() { Release(); }

  Stream* get() const noexcept { return stream_; }
  Stream* operator->() const noexcept { return stream_; }
  explicit operator bool() const noexcept { return stream_ != nullptr; }

 private:
  void Release() noexcept {
    if (stream_) stream_->Release();
  }

  Stream* stream_ = nullptr;
};

// Calls `create`(data, size) when size fits the 32-bit count; null otherwise.
template <typename Stream, typename Unit>
Stream* OpenCounted(Stream* (*create)(const Unit*, std::uint32_t), const Unit* data,
                    std::size_t size) {
  return FitsCount(size) ? create(data, static_cast<std::uint32_t>(size)) : nullptr;
}

}  // namespace detail

// Owns one QkXDRBinary slot: empty, a view on bytes that live elsewhere, or a
// reference-counted block shared with other Blobs. Copies share (a view stays
// a view); a move leaves the source empty. The slot holds an object built in
// place, so copies and moves go through QkXDRBinaryCopy and QkXDRBinaryFree.
class Blob {
 public:
  Blob() noexcept = default;
  Blob(const Blob& other) noexcept { QkXDRBinaryCopy(&slot_, &other.slot_); }
  // NOLINTNEXTLINE(cert-oop11-cpp,performance-move-constructor-init): the copy shares the block
  Blob(Blob&& other) noexcept : Blob(other) { other.reset(); }
  // NOLINTNEXTLINE(cert-oop54-cpp): QkXDRBinaryCopy onto itself is a no-op
  Blob& operator=(const Blob& other) noexcept {
    QkXDRBinaryCopy(&slot_, &other.slot_);  // a no-op onto itself
    return *this;
  }
  Blob& operator=(Blob&& other) noexcept {
    if (this != &other) {
      *this = other;
      other.reset();
    }
    return *this;
  }
  ~Blob() { reset(); }

  // A view on [data, data + size): nothing is copied, the bytes must outlive
  // every Blob that shares the view. Empty when size passes 32 bits or data
  // is null with a non-zero size.
  static Blob view(const void* data, std::size_t size) noexcept {
    Blob blob;
    if (detail::CanView(data, size)) {
      QkXDRBinaryAttach(&blob.slot_, data, static_cast<std::uint32_t>(size));
    }
    return blob;
  }

  // The bytes; null for an empty Blob. A view of 0 bytes keeps its pointer.
  const std::uint8_t* data() const noexcept {
    return static_cast<const std::uint8_t*>(QkXDRBinaryData(&slot_));
  }
  std::size_t size() const noexcept { return QkXDRBinarySize(&slot_); }
  bool empty() const noexcept { return size() == 0; }

  // A copy of the bytes.
  std::vector<std::uint8_t> to_vector() const {
    const std::uint8_t* begin = data();
    if (begin == nullptr) return {};
    return std::vector<std::uint8_t>(begin, begin + size());
  }

  // Releases what the Blob holds; it is empty afterwards.
  void reset() noexcept { QkXDRBinaryFree(&slot_); }

  // The slot, for the C interface.
  QkXDRBinary* slot() noexcept { return &slot_; }
  const QkXDRBinary* slot() const noexcept { return &slot_; }

 private:
  QkXDRBinary slot_{};
};

class ArrayScope;

// Owns a second-generation writer. BinaryWriter and TextWriter create one;
// a default-constructed or moved-from Writer is empty and tests false.
//
// Every write returns true when the value went to the stream, and false,
// with nothing written, when the Writer is empty or the value has no form in
// the format (see each overload).
class Writer {
 public:
  Writer() noexcept = default;
  Writer(Writer&&) noexcept = default;
  Writer& operator=(Writer&&) noexcept = default;

  explicit operator bool() const noexcept { return static_cast<bool>(stream_); }
  QkXDROStream2* get() const noexcept { return stream_.get(); }

  // Integers of any width, by value: WriteInt when the value fits 32 bits,
  // else WriteInt64. An unsigned value above INT64_MAX has no signed 64-bit
  // form: it is refused (false, nothing written) rather than wrapped.
  template <typename T, typename = std::enable_if_t<detail::kIsInteger<T>>>
  bool write(T v) {
    if constexpr (std::is_signed_v<T>) {
      const auto wide = static_cast<std::int64_t>(v);
      if (wide < INT32_MIN || wide > INT32_MAX) return Put(&QkXDROStream2::WriteInt64, wide);
    } else {
      const auto wide = static_cast<std::uint64_t>(v);
      if (wide > static_cast<std::uint64_t>(INT64_MAX)) return false;
      if (wide > static_cast<std::uint64_t>(INT32_MAX)) {
        return Put(&QkXDROStream2::WriteInt64, static_cast<std::int64_t>(wide));
      }
    }
    return Put(&QkXDROStream2::WriteInt, static_cast<std::int32_t>(v));
  }
  // bool, characters and long double are not numbers of the format.
  template <typename T, typename = std::enable_if_t<detail::kIsRefusedNumber<T>>, typename = void>
  bool write(T v) = delete;

  bool write(double v) { return Put(&QkXDROStream2::WriteDouble, v); }

  // Strings. std::string, std::string_view and const char* hold UTF-8 and
  // are written as its UTF-16 units (WriteString); the char16_t forms are
  // written unit for unit. A Latin1 is written a unit for each byte, of the
  // byte's value: through WriteString, since WriteStringA widens a signed
  // char's bytes above 0x7F to units from U+FF80 up. The format's strings end
  // at their first zero unit, so a string holding U+0000 is refused rather
  // than cut, as is a null pointer.
  bool write(std::string_view s) {
    impl::Utf8ToUtf16(s, &units_);
    return PutUnits(units_);
  }
  bool write(const std::string& s) { return write(std::string_view(s)); }
  bool write(const char* s) { return s != nullptr && write(std::string_view(s)); }
  bool write(std::u16string_view s) {
    units_.assign(s);
    return PutUnits(units_);
  }
  bool write(const std::u16string& s) { return PutUnits(s); }
  bool write(const char16_t* s) { return s != nullptr && Put(&QkXDROStream2::WriteString, s); }
  bool write(const Latin1& s) {
    units_.clear();
    for (const char byte : s.bytes) units_.push_back(static_cast<unsigned char>(byte));
    return PutUnits(units_);
  }

  // Blobs. Bytes are copied into the output. Refused when the size passes
  // 32 bits or data is null with a non-zero size.
  bool write(const Blob& blob) { return Put(&QkXDROStream2::WriteBinary, blob.slot()); }
  bool write(const void* data, std::size_t size) {
    return detail::CanView(data, size) && write(Blob::view(data, size));
  }
  template <typename C, typename = std::enable_if_t<detail::kIsByteContainer<C>>>
  bool write(const C& bytes) {
    return write(static_cast<const void*>(std::data(bytes)), std::size(bytes));
  }

  bool begin_array() { return Put(&QkXDROStream2::BeginArray); }
  bool end_array() { return Put(&QkXDROStream2::EndArray); }
  // Begins an array that ends when the returned guard goes out of scope.
  ArrayScope array();

  // The output so far, owned by the stream: valid until the next write, move
  // or destruction. Null and 0 while nothing has been written.
  const void* data() const noexcept { return stream_ ? stream_->GetData() : nullptr; }
  std::size_t size() const noexcept { return stream_ ? stream_->GetSize() : 0; }

  // A copy of the output so far.
  std::vector<std::uint8_t> bytes() const {
    const auto* begin = static_cast<const std::uint8_t*>(data());
    return std::vector<std::uint8_t>(begin, begin + size());
  }

 protected:
  explicit Writer(QkXDROStream2* stream) noexcept : stream_(stream) {}

 private:
  // Calls one write of the stream; false when there is none.
  template <typename... Params, typename... Args>
  bool Put(void (QkXDROStream2::*op)(Params...), Args... args) {
    if (!stream_) return false;
    (stream_.get()->*op)(args...);
    return true;
  }

  // Writes `s` with WriteString unless it holds U+0000.
  bool PutUnits(const std::u16string& s) {
    return !impl::HoldsZeroUnit(std::u16string_view(s)) &&
           Put(&QkXDROStream2::WriteString, s.c_str());
  }

  detail::StreamOwner<QkXDROStream2> stream_;
  std::u16string units_;  // the units of the last string written from a view or UTF-8
};

// Ends the array begun by Writer::array() when it goes out of scope.
class [[nodiscard]] ArrayScope {
 public:
  explicit ArrayScope(Writer& writer) : writer_(writer) { writer_.begin_array(); }
  ArrayScope(const ArrayScope&) = delete;
  ArrayScope& operator=(const ArrayScope&) = delete;
  ~ArrayScope() { writer_.end_array(); }

 private:
  Writer& writer_;
};

inline ArrayScope Writer::array() { return ArrayScope(*this); }

// A writer of the binary encoding.
class BinaryWriter : public Writer {
 public:
  BinaryWriter() : Writer(QkXDRCreateOStream2()) {}
};

// A writer of UTF-16 text.
class TextWriter : public Writer {
 public:
  TextWriter() : Writer(QkXDRCreateTextOStream2()) {}

  // A copy of the text so far.
  std::u16string text() const {
    std::u16string out(size() / sizeof(char16_t), u'\0');
    if (!out.empty()) std::memcpy(out.data(), data(), out.size() * sizeof(char16_t));
    return out;
  }
};

namespace detail::reads {

// The name of a type code, for messages.
inline const char* TypeName(Type type) {
  switch (type) {
    case Type::ArrayBegin:
      return "ArrayBegin";
    case Type::ArrayEnd:
      return "ArrayEnd";
    case Type::Int:
      return "Int";
    case Type::String:
      return "String";
    case Type::Double:
      return "Double";
    case Type::Binary:
      return "Binary";
    default:
      return "None";
  }
}

// Whether a read of `expected` takes a value of type `found`: numbers
// convert between integers and doubles.
inline bool Takes(Type expected, Type found) {
  const auto number = [](Type t) { return t == Type::Int || t == Type::Double; };
  return found == expected || (number(expected) && number(found));
}

inline Error Fail(ErrorCode code, std::string detail) {
  return Error(code, Error::kNoOffset, std::move(detail));
}

}  // namespace detail::reads

// Owns a second-generation reader. BinaryReader and TextReader create one;
// a default-constructed or moved-from Reader is empty and tests false.
//
// Each read returns its value, or an Error (offset Error::kNoOffset: the
// exported readers report no position) with the code:
//   no_value       the Reader is empty, or has no current value (past the
//                  end of the input; a text reader also at text it cannot
//                  read)
//   type_mismatch  the current value has another type: "expected Int,
//                  found String"; numbers convert between integers and
//                  doubles as the readers do
//   malformed      a binary value of no known type (tag bytes 252-255)
//   truncated      a value cut short by the end of the input
//   unsupported    a string holding U+0000
//   out_of_range   read_latin1: a unit above U+00FF
// A read that fails leaves the reader on the same value, except that a
// string refused for what it holds has been passed over.
//
// A binary string cut short by the end of its input reads as padded with
// U+0000 units, and the exported reader does not tell it apart from a string
// that holds them: such a string, ending in U+0000 and ending the input, is
// truncated; one holding U+0000 elsewhere is unsupported. A string declaring
// more units than the whole input holds is truncated without allocating.
class Reader {
 public:
  Reader() noexcept = default;
  Reader(Reader&&) noexcept = default;
  Reader& operator=(Reader&&) noexcept = default;

  explicit operator bool() const noexcept { return static_cast<bool>(stream_); }
  QkXDRIStream2* get() const noexcept { return stream_.get(); }

  // Whether there is a current value to read.
  bool valid() const { return stream_ && stream_->IsValid(); }
  // The current value's type; Type::None for an empty Reader.
  Type peek_type() const { return stream_ ? stream_->PeekType() : Type::None; }
  // The current value's type, moving past the value (or into an array).
  Type read_type() { return stream_ ? stream_->ReadType() : Type::None; }
  // Consume an array's bracket.
  Result<void> begin_array() { return Step(&QkXDRIStream2::ReadBeginArray, Type::ArrayBegin); }
  Result<void> end_array() { return Step(&QkXDRIStream2::ReadEndArray, Type::ArrayEnd); }
  // Skips the rest of the innermost open array, its end included.
  void skip() {
    if (stream_) stream_->Skip();
  }

  Result<std::int32_t> read_int() { return ReadNumber(&QkXDRIStream2::ReadInt, Type::Int); }
  Result<std::int64_t> read_int64() { return ReadNumber(&QkXDRIStream2::ReadInt64, Type::Int); }
  Result<double> read_double() { return ReadNumber(&QkXDRIStream2::ReadDouble, Type::Double); }

  // A string as its UTF-16 units.
  Result<std::u16string> read_u16string() {
    std::u16string units;
    Result<void> read = ReadUnits(units);
    if (!read) return read.error();
    return units;
  }
  // A string as UTF-8.
  Result<std::string> read_string() {
    Result<std::u16string> units = read_u16string();
    if (!units) return units.error();
    std::string utf8;
    impl::Utf16ToUtf8(*units, &utf8);
    return utf8;
  }
  // A string whose units are all U+0001 to U+00FF, a byte for each.
  Result<Latin1> read_latin1() {
    Result<std::u16string> units = read_u16string();
    if (!units) return units.error();
    Latin1 latin1;
    for (const char16_t unit : *units) {
      if (unit > 0xFF) return detail::reads::Fail(ErrorCode::out_of_range, "a unit above U+00FF");
      latin1.bytes.push_back(static_cast<char>(unit));
    }
    return latin1;
  }

  // A blob. From a BinaryReader it is a view into the reader's input (valid
  // as long as the input, also after the reader is gone); from a TextReader
  // it owns a decoded copy.
  Result<Blob> read_blob() {
    Blob blob;
    if (stream_ && stream_->ReadBinary(blob.slot())) return blob;
    return Failure(Type::Binary);
  }
  // A blob's bytes, copied.
  Result<std::vector<std::uint8_t>> read_bytes() {
    Result<Blob> blob = read_blob();
    if (!blob) return blob.error();
    return blob->to_vector();
  }

 protected:
  // `limit`: the input's length in bytes or units; no string can be longer.
  // `binary`: a string cut short reads as padded with zero units.
  Reader(QkXDRIStream2* stream, std::size_t limit, bool binary) noexcept
      : stream_(stream), limit_(limit), binary_(binary) {}

 private:
  // Why a read of `expected` failed on the current value.
  Error Failure(Type expected) const {
    if (!valid()) {
      return detail::reads::Fail(ErrorCode::no_value,
                                 stream_ ? "no current value" : "an empty reader");
    }
    const Type found = stream_->PeekType();
    if (found == Type::None)
      return detail::reads::Fail(ErrorCode::malformed, "a value of no known type");
    if (detail::reads::Takes(expected, found)) {
      return detail::reads::Fail(ErrorCode::truncated, std::string(detail::reads::TypeName(found)) +
                                                           " cut short by the end of the input");
    }
    return detail::reads::Fail(ErrorCode::type_mismatch,
                               std::string("expected ") + detail::reads::TypeName(expected) +
                                   ", found " + detail::reads::TypeName(found));
  }

  Result<void> Step(bool (QkXDRIStream2::*read)(), Type expected) {
    if (stream_ && (stream_.get()->*read)()) return {};
    return Failure(expected);
  }

  template <typename T>
  Result<T> ReadNumber(bool (QkXDRIStream2::*read)(T*), Type expected) {
    T v{};
    if (stream_ && (stream_.get()->*read)(&v)) return v;
    return Failure(expected);
  }

  Result<void> ReadUnits(std::u16string& units) {
    if (!stream_) return Failure(Type::String);
    detail::Filler<std::u16string> filler(units, limit_);
    const bool read = stream_->ReadString(&filler);
    if (filler.Refused()) {
      return detail::reads::Fail(ErrorCode::truncated,
                                 "String declaring more units than the whole input holds");
    }
    if (!read) return Failure(Type::String);
    if (!impl::HoldsZeroUnit(std::u16string_view(units))) return {};
    if (binary_ && units.back() == u'\0' && !stream_->IsValid()) {
      return detail::reads::Fail(ErrorCode::truncated, "String cut short by the end of the input");
    }
    return detail::reads::Fail(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
  }

  detail::StreamOwner<QkXDRIStream2> stream_;
  std::size_t limit_ = 0;
  bool binary_ = false;
};

// A reader of the binary encoding over bytes that must outlive it (and, for
// blob views it hands out, as long as those are used). Empty for no bytes
// (null data or size 0) and for more than 4 GiB - 1 bytes. Temporary
// containers are refused at compile time.
class BinaryReader : public Reader {
 public:
  BinaryReader(const void* data, std::size_t size)
      : Reader(detail::OpenCounted(QkXDRCreateIStream2, data, size), size, true) {}
  template <typename C, typename = std::enable_if_t<detail::kIsByteContainer<C>>>
  explicit BinaryReader(const C& bytes)
      : BinaryReader(static_cast<const void*>(std::data(bytes)), std::size(bytes)) {}
  template <typename C, typename = std::enable_if_t<detail::kIsByteContainer<C> &&
                                                    !std::is_lvalue_reference_v<C>>>
  explicit BinaryReader(C&& bytes) = delete;
};

// A reader of UTF-16 text that must outlive it. Empty for text longer than
// 4 Gi - 1 units. A temporary std::u16string is refused at compile time.
class TextReader : public Reader {
 public:
  explicit TextReader(std::u16string_view text)
      : Reader(detail::OpenCounted(QkXDRCreateTextIStream2, text.data(), text.size()), text.size(),
               false) {}
  template <typename S, typename = std::enable_if_t<detail::kIsTemporary<S, std::u16string>>>
  explicit TextReader(S&& text) = delete;
};

// Five callables for parse_text, in the order of QkXDRTextHandler:
//   qkxdr::TextEvents{[](double) {...}, [](std::int32_t) {...},
//                     [](std::u16string_view) {...}, [] {...}, [] {...}}
template <typename OnDouble, typename OnInt, typename OnString, typename OnBegin, typename OnEnd>
struct TextEvents {
  OnDouble on_double;
  OnInt on_int;
  OnString on_string;
  OnBegin on_begin_array;
  OnEnd on_end_array;
};
template <typename... F>
TextEvents(F...) -> TextEvents<F...>;

namespace detail {

// Forwards the library's events to members of a handler object.
template <typename Handler>
class HandlerAdapter final : public QkXDRTextHandler {
 public:
  explicit HandlerAdapter(Handler& handler) : handler_(handler) {}

  bool OnDouble(double v) override {
    return Go([&] { return handler_.on_double(v); });
  }
  bool OnInt(std::int32_t v) override {
    return Go([&] { return handler_.on_int(v); });
  }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    const std::u16string_view s(begin, static_cast<std::size_t>(end - begin));
    zero_unit_ = impl::HoldsZeroUnit(s);
    return !zero_unit_ && Go([&] { return handler_.on_string(s); });
  }
  bool OnBeginArray() override {
    return Go([&] { return handler_.on_begin_array(); });
  }
  bool OnEndArray() override {
    return Go([&] { return handler_.on_end_array(); });
  }

  // After the parse: rethrows what the handler threw; the Error of a string
  // holding U+0000, which stopped the parse.
  Result<void> Outcome() const {
    Rethrow(error_);
    if (zero_unit_) return reads::Fail(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
    return {};
  }

 private:
  // The handler's answer: a member returning void always goes on; one that
  // throws stops the parse, and the exception waits for RethrowError.
  template <typename Event>
  bool Go(Event&& event) {
    bool go = false;
    Contain(error_, [&] {
      if constexpr (std::is_void_v<decltype(event())>) {
        event();
        go = true;
      } else {
        go = static_cast<bool>(event());
      }
    });
    return go;
  }

  Handler& handler_;
  std::exception_ptr error_;
  bool zero_unit_ = false;
};

}  // namespace detail

// Reports each array bracket and readable value of `text` to `handler`: any
// object with the members on_double(double), on_int(std::int32_t),
// on_string(std::u16string_view), on_begin_array() and on_end_array() (member
// functions or callables, such as a TextEvents). Each returns bool (false
// stops the parse) or void (go on). The string view is valid only during
// its call. An exception from the handler stops the parse and is rethrown
// here. Errors: too_large, with no event, for text longer than 4 Gi - 1
// units; unsupported for a string holding U+0000, which stops the parse
// before it reaches the handler. A handler's false is no error.
template <typename Handler>
Result<void> parse_text(std::u16string_view text, Handler&& handler) {
  if (!detail::FitsCount(text.size())) {
    return detail::reads::Fail(ErrorCode::too_large, "a text longer than 4 Gi - 1 units");
  }
  detail::HandlerAdapter<std::remove_reference_t<Handler>> adapter(handler);
  QkXDRTextParse(&adapter, text.data(), static_cast<std::uint32_t>(text.size()));
  return adapter.Outcome();
}

}  // namespace qkxdr

#endif  // QKXDR_HPP_
