// qkxdr/typed.hpp: C++ values to and from both encodings, by their types.
//
//   struct Point {
//     int32_t x = 0, y = 0;
//     std::string label;
//     QKXDR_FIELDS(x, y, label)
//   };
//   std::vector<uint8_t> bytes = qkxdr::to_binary(points);
//   qkxdr::Result<std::vector<Point>> back = qkxdr::from_binary<std::vector<Point>>(bytes);
//   if (!back) std::cerr << back.error().message() << '\n';
//
// Every value becomes one value of the format; docs/api.md ("Typed values")
// gives the mapping of each type. Writing gives byte for byte what the same
// calls through the exported writers give. Reading checks every value's type
// and range and reports the first failure with its place (the path of the
// field, the offset in the input, what was expected and what was found);
// nothing throws but std::bad_alloc, unless Result::value() is asked for a
// value that failed.
//
// The encoding and decoding run inline in the caller's program, on the same
// encoder and decoder classes that the library's streams use; nothing here
// goes through the exported functions.

#ifndef QKXDR_TYPED_HPP_
#define QKXDR_TYPED_HPP_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <list>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/binary/binary_decoder.h"
#include "qkxdr/detail/binary/binary_encoder.h"
#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/base/vector_buffer.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/text_encoder.h"

// Inside a struct or class: makes it a record of the listed members, written
// as an array of them in this order.
#define QKXDR_FIELDS(...)                                     \
  auto qkxdr_fields() { return std::tie(__VA_ARGS__); }       \
  auto qkxdr_fields() const { return std::tie(__VA_ARGS__); } \
  static constexpr const char* qkxdr_field_names() { return #__VA_ARGS__; }

namespace qkxdr {

// Why a read failed.
struct ReadError {
  std::string path;        // where the value sits: "[3].name"; empty at the top
  std::string expected;    // what the type takes: "Int", "Int in [0, 255]", "Array"
  std::string found;       // what the data holds there: "String", "Int 300", "end of data"
  std::size_t offset = 0;  // of that value in the input: bytes, or UTF-16 units for text

  // "at [3].name (offset 120): expected String, found Int"
  std::string message() const {
    return "at " + (path.empty() ? std::string("the top") : path) + " (offset " +
           std::to_string(offset) + "): expected " + expected + ", found " + found;
  }
};

// Thrown by Result::value() for a read that failed, and only there.
class ReadFailure : public std::runtime_error {
 public:
  explicit ReadFailure(ReadError error)
      : std::runtime_error(error.message()), error_(std::move(error)) {}
  const ReadError& error() const noexcept { return error_; }

 private:
  ReadError error_;
};

// The outcome of a read into an existing object: true when it succeeded.
class ReadStatus {
 public:
  ReadStatus() = default;
  explicit ReadStatus(ReadError error) : failed_(true), error_(std::move(error)) {}
  explicit operator bool() const noexcept { return !failed_; }
  const ReadError& error() const noexcept { return error_; }

 private:
  bool failed_ = false;
  ReadError error_;
};

// A value read, or why none was.
template <typename T>
class Result {
 public:
  Result(T value, ReadStatus status) : value_(std::move(value)), status_(std::move(status)) {}
  explicit operator bool() const noexcept { return static_cast<bool>(status_); }
  const ReadError& error() const noexcept { return status_.error(); }
  // The value; throws ReadFailure when the read failed.
  T& value() & { return Checked(), value_; }
  const T& value() const& { return Checked(), value_; }
  T&& value() && { return Checked(), std::move(value_); }
  // The value, unchecked: after a failure, what was read up to it.
  T& operator*() noexcept { return value_; }
  const T& operator*() const noexcept { return value_; }
  T* operator->() noexcept { return &value_; }
  const T* operator->() const noexcept { return &value_; }

 private:
  void Checked() const {
    if (!status_) throw ReadFailure(status_.error());
  }
  T value_;
  ReadStatus status_;
};

namespace detail {

using impl::BinaryDecoder;
using impl::TextDecoder;

// Largest output of an encoder into Container: bytes, or UTF-16 units.
template <typename Container>
inline constexpr std::uint32_t kMaxUnits =
    std::is_same_v<typename Container::value_type, char16_t> ? impl::kMaxTextUnits : UINT32_MAX;

// Deepest nesting of arrays a read follows (recursive types only; every
// other type has a nesting of its own that the data cannot deepen).
constexpr int kMaxDepth = 512;

template <typename T>
using Plain = std::remove_cv_t<std::remove_reference_t<T>>;

template <typename T, template <typename...> class Template>
struct IsInstance : std::false_type {};
template <template <typename...> class Template, typename... Args>
struct IsInstance<Template<Args...>, Template> : std::true_type {};
template <typename T, template <typename...> class Template>
inline constexpr bool kIsInstance = IsInstance<Plain<T>, Template>::value;

// Elements that make a container a blob.
template <typename T>
inline constexpr bool kIsByteElement =
    std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::byte> ||
    std::is_same_v<T, unsigned char>;

// Types written as Ints: every integer type but bool, characters included.
template <typename T>
inline constexpr bool kWritesAsInt = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <typename T, typename = void>
struct HasMemberFields : std::false_type {};
template <typename T>
struct HasMemberFields<T, std::void_t<decltype(std::declval<T&>().qkxdr_fields())>>
    : std::true_type {};

template <typename T, typename = void>
struct HasFreeFields : std::false_type {};
template <typename T>
struct HasFreeFields<T, std::void_t<decltype(qkxdr_fields(std::declval<T&>()))>> : std::true_type {
};

template <typename T, typename = void>
struct HasFieldNames : std::false_type {};
template <typename T>
struct HasFieldNames<T, std::void_t<decltype(T::qkxdr_field_names())>> : std::true_type {};

template <typename T>
inline constexpr bool kIsRecord = HasMemberFields<T>::value || HasFreeFields<T>::value;

// The members of record v as a tuple of references.
template <typename T>
auto Fields(T& v) {
  if constexpr (HasMemberFields<T>::value) {
    return v.qkxdr_fields();
  } else {
    return qkxdr_fields(v);
  }
}

// The name of field i of record T from its QKXDR_FIELDS list, or "[i]".
template <typename T>
std::string FieldName(std::size_t i) {
  if constexpr (HasFieldNames<T>::value) {
    std::string_view names = T::qkxdr_field_names();
    for (; i > 0; --i) names.remove_prefix(std::min(names.size(), names.find(',') + 1));
    names = names.substr(0, names.find(','));
    while (!names.empty() && names.front() == ' ') names.remove_prefix(1);
    while (!names.empty() && names.back() == ' ') names.remove_suffix(1);
    return "." + std::string(names);
  } else {
    return "[" + std::to_string(i) + "]";
  }
}

inline const char* TypeName(QkXDRType2 t) {
  static const char* const kNames[] = {"ArrayBegin", "ArrayEnd", "None",  "Int",
                                       "String",     "Double",   "Binary"};
  return kNames[static_cast<int>(t)];
}

// Hands the decoder a buffer inside a string, sized from the length it had
// (only units beyond that are filled first); refuses lengths past `limit`,
// which only damaged data declares.
template <typename String>
class StringFiller final : public QkXDRAllocator {
 public:
  StringFiller(String& out, std::size_t limit) : out_(out), limit_(limit) {}
  void* Alloc(std::uint32_t count) override {
    if (count > limit_) {
      refused_ = true;
      return nullptr;
    }
    out_.resize(count);
    return out_.data();
  }
  bool refused() const { return refused_; }

 private:
  String& out_;
  std::size_t limit_;
  bool refused_ = false;
};

// A read in progress: the decoder, the first failure, the nesting depth.
template <typename Decoder>
class Reading {
 public:
  Reading(Decoder& decoder, std::size_t input_size) : in(decoder), limit(input_size) {}

  // The current value's type; None also at the end of the data. Every read
  // looks first, so a failure is reported where its value starts.
  QKXDR_INLINE QkXDRType2 Peek() {
    at_ = in.Position();
    return in.IsValid() ? in.PeekType() : QkXDRType2::None;
  }

  // Records that the current value is not `expected`; returns false.
  QKXDR_NOINLINE bool Fail(std::string expected, std::string found = {}) {
    error.expected = std::move(expected);
    error.found = !found.empty() ? std::move(found)
                  : in.IsValid() ? TypeName(in.PeekType())
                                 : "end of data";
    error.offset = at_;
    return false;
  }
  // Adds the place of a part that failed in front of the path; returns false.
  bool Within(const std::string& part) {
    error.path.insert(0, part);
    return false;
  }
  QKXDR_INLINE bool Expect(QkXDRType2 type, const char* name) {
    return Peek() == type || Fail(name);
  }

  Decoder& in;
  std::size_t limit;  // no string or blob is longer than the input
  int depth = 0;
  ReadError error;

 private:
  std::size_t at_ = 0;  // where the value looked at last starts
};

template <typename T, typename = void>
struct Codec;

// Writes v; reads into out. Read returns false after recording the failure.
template <typename Encoder, typename T>
void Write(Encoder& out, const T& v) {
  Codec<T>::Write(out, v);
}
template <typename Decoder, typename T>
bool Read(Reading<Decoder>& r, T& out) {
  return Codec<T>::Read(r, out);
}

template <>
struct Codec<bool> {
  template <typename E>
  static void Write(E& out, bool v) {
    out.WriteInt(v ? 1 : 0);
  }
  template <typename D>
  static bool Read(Reading<D>& r, bool& out) {
    std::int64_t v = 0;
    if (r.Peek() != QkXDRType2::Int || !r.in.ReadInt64(&v) || (v != 0 && v != 1)) {
      return r.Fail("Int 0 or 1");
    }
    out = v != 0;
    return true;
  }
};

// Integers of every width, range-checked on reading. std::uint64_t travels as
// its two's complement bits and reads back every Int.
template <typename T>
struct Codec<T, std::enable_if_t<kWritesAsInt<T>>> {
  template <typename E>
  static void Write(E& out, T v) {
    out.WriteNumber(v);
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    if (!r.Expect(QkXDRType2::Int, "Int")) return false;
    std::int64_t v = 0;
    if (!r.in.ReadInt64(&v)) return r.Fail("Int", "a damaged Int");
    if (!impl::HoldsInt<T>(v)) {
      return r.Fail("Int in [" + std::to_string(std::numeric_limits<T>::min()) + ", " +
                        std::to_string(std::numeric_limits<T>::max()) + "]",
                    "Int " + std::to_string(v));
    }
    out = static_cast<T>(v);
    return true;
  }
};

template <typename T>
struct Codec<T, std::enable_if_t<std::is_enum_v<T>>> {
  using Underlying = std::underlying_type_t<T>;
  template <typename E>
  static void Write(E& out, T v) {
    Codec<Underlying>::Write(out, static_cast<Underlying>(v));
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    Underlying v{};
    if (!Codec<Underlying>::Read(r, v)) return false;
    out = static_cast<T>(v);
    return true;
  }
};

// Doubles, and floats through doubles. A double also reads from an Int (the
// text form writes a double of ten integer digits without a point).
template <typename T>
struct Codec<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static_assert(!std::is_same_v<T, long double>, "long double has no form in the format");
  template <typename E>
  static void Write(E& out, T v) {
    out.WriteNumber(v);
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    const QkXDRType2 type = r.Peek();
    if (type != QkXDRType2::Double && type != QkXDRType2::Int) return r.Fail("Double");
    if constexpr (std::is_same_v<T, double>) {
      return r.in.ReadDouble(&out) || r.Fail("Double", "a damaged number");
    } else {
      double v = 0;
      if (!r.in.ReadDouble(&v)) return r.Fail("Double", "a damaged number");
      if (v > std::numeric_limits<float>::max() || v < -std::numeric_limits<float>::max()) {
        if (v == v && v - v != v - v) {  // an infinity
          out = static_cast<T>(v);
          return true;
        }
        return r.Fail("Double in the range of float", "Double " + std::to_string(v));
      }
      out = static_cast<T>(v);
      return true;
    }
  }
};

// Strings: std::string as an 8-bit string (a byte a unit), std::u16string and
// std::u16string_view (written only) as UTF-16. Zero units are written too.
template <typename Char>
struct StringCodec {
  static constexpr bool kWide = std::is_same_v<Char, char16_t>;
  template <typename E>
  static void Write(E& out, std::basic_string_view<Char> s) {
    if constexpr (kWide) {
      out.WriteString(s.data(), s.size());
    } else {
      out.WriteStringA(s.data(), s.size());
    }
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::basic_string<Char>& out) {
    // Text that starts "0x" is announced as a blob, but reads as a string too.
    const QkXDRType2 type = r.Peek();
    if (type != QkXDRType2::String && type != QkXDRType2::Binary) return r.Fail("String");
    StringFiller<std::basic_string<Char>> filler(out, r.limit);
    const bool read = kWide ? r.in.ReadString(&filler) : r.in.ReadStringA(&filler);
    if (!read || filler.refused()) return r.Fail("String", "a damaged string");
    return true;
  }
};
template <typename Char, typename Traits, typename Alloc>
struct Codec<std::basic_string<Char, Traits, Alloc>,
             std::enable_if_t<std::is_same_v<Char, char> || std::is_same_v<Char, char16_t>>>
    : StringCodec<Char> {};
template <typename Char>
struct Codec<std::basic_string_view<Char>,
             std::enable_if_t<std::is_same_v<Char, char> || std::is_same_v<Char, char16_t>>> {
  template <typename E>
  static void Write(E& out, std::basic_string_view<Char> s) {
    StringCodec<Char>::Write(out, s);
  }
};

// Consumes an array opening, one level deeper; false after recording why.
template <typename D>
bool OpenArray(Reading<D>& r) {
  if (!r.Expect(QkXDRType2::ArrayBegin, "Array")) return false;
  if (r.depth == kMaxDepth) return r.Fail("Array nested at most 512 deep", "a deeper Array");
  r.in.ReadBeginArray();
  ++r.depth;
  return true;
}

// Consumes the end of the array being read. Values left before it are
// skipped when `skip_rest` (a record read from a newer writer), a failure
// otherwise.
template <typename D>
bool CloseArray(Reading<D>& r, bool skip_rest) {
  if (r.Peek() == QkXDRType2::ArrayEnd) {
    r.in.ReadEndArray();
  } else if (skip_rest && r.in.IsValid()) {
    r.in.Skip();
  } else {
    return r.Fail("ArrayEnd");
  }
  --r.depth;
  return true;
}

// Blobs: vectors of bytes, and std::array of bytes (exactly its size).
template <typename Container>
struct BlobCodec {
  template <typename E>
  static void Write(E& out, const Container& bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    out.WriteBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                   static_cast<std::uint32_t>(bytes.size()));
  }
  template <typename D>
  static bool Read(Reading<D>& r, Container& out) {
    if (!r.Expect(QkXDRType2::Binary, "Binary")) return false;
    if constexpr (kIsInstance<Container, std::vector>) {
      if (!r.in.ReadBytes(&out)) return r.Fail("Binary", "a damaged blob");
    } else {
      std::vector<std::uint8_t> bytes;
      const std::string expected = "Binary of " + std::to_string(out.size()) + " bytes";
      if (!r.in.ReadBytes(&bytes)) return r.Fail(expected, "a damaged blob");
      if (bytes.size() != out.size()) {
        return r.Fail(expected, "Binary of " + std::to_string(bytes.size()) + " bytes");
      }
      std::memcpy(out.data(), bytes.data(), bytes.size());
    }
    return true;
  }
};
template <typename Byte, typename Alloc>
struct Codec<std::vector<Byte, Alloc>, std::enable_if_t<kIsByteElement<Byte>>>
    : BlobCodec<std::vector<Byte, Alloc>> {};
template <typename Byte, std::size_t N>
struct Codec<std::array<Byte, N>, std::enable_if_t<kIsByteElement<Byte>>>
    : BlobCodec<std::array<Byte, N>> {};

// Elements that the binary decoder reads a run at a time straight into an
// array of them (BinaryDecoder::ReadNumbers).
template <typename D, typename T>
inline constexpr bool kReadsRuns = std::is_same_v<D, BinaryDecoder> &&
                                   (std::is_same_v<T, double> || kWritesAsInt<T>);

template <typename T, typename = void>
struct HasData : std::false_type {};
template <typename T>
struct HasData<T, std::void_t<decltype(std::declval<const T&>().data())>> : std::true_type {};

// Writes the elements of a container as one array; numbers in contiguous
// storage (a vector or std::array) go to the encoder together.
template <typename E, typename Container>
void WriteElements(E& out, const Container& items) {
  using Item = typename Container::value_type;
  out.BeginArray();
  if constexpr (HasData<Container>::value && std::is_arithmetic_v<Item> &&
                !std::is_same_v<Item, bool>) {
    out.WriteNumbers(items.data(), items.size());
  } else {
    for (const auto& item : items) detail::Write(out, item);
  }
  out.EndArray();
}

// Arrays of elements: containers that grow as they are read.
template <typename Container>
struct SequenceCodec {
  using Item = typename Container::value_type;
  template <typename E>
  static void Write(E& out, const Container& items) {
    WriteElements(out, items);
  }
  template <typename D>
  static bool Read(Reading<D>& r, Container& out) {
    if (!OpenArray(r)) return false;
    if constexpr (!kReusesItems) out.clear();
    std::size_t n = 0;
    for (;; ++n) {
      if constexpr (kIsContiguous && kReadsRuns<D, Item>) n = ReadRuns(r, out, n);
      if (r.Peek() == QkXDRType2::ArrayEnd) break;
      if (!ReadItem(r, out, n)) return r.Within("[" + std::to_string(n) + "]");
    }
    if constexpr (kReusesItems) out.resize(n);
    return CloseArray(r, false);
  }

 private:
  static constexpr bool kIsContiguous =
      kIsInstance<Container, std::vector> && !std::is_same_v<Item, bool>;
  // Vectors and deques read over the elements they hold, reusing their
  // storage (strings, blobs, nested containers); each element read is
  // replaced whole, so nothing of its old value shows.
  static constexpr bool kReusesItems =
      kIsContiguous || (kIsInstance<Container, std::deque> && !std::is_same_v<Item, bool>);

  // Reads the runs of numbers that follow into out from element n on,
  // growing it while values follow; returns the number of elements read.
  template <typename D>
  static std::size_t ReadRuns(Reading<D>& r, Container& out, std::size_t n) {
    for (;;) {
      n += r.in.ReadNumbers(out.data() + n, out.size() - n);
      if (n < out.size()) return n;
      const QkXDRType2 next = r.Peek();
      if (next == QkXDRType2::ArrayEnd || next == QkXDRType2::None) return n;
      out.resize(n + n / 2 + 8);
    }
  }

  // Reads element n; after a failure the container ends with that element.
  template <typename D>
  static bool ReadItem(Reading<D>& r, Container& out, std::size_t n) {
    if constexpr (kReusesItems) {
      if (n == out.size()) out.emplace_back();
      if (detail::Read(r, out[n])) return true;
      out.resize(n + 1);
      return false;
    } else if constexpr (kIsInstance<Container, std::list>) {
      return detail::Read(r, out.emplace_back());
    } else {
      // Sets insert, and std::vector<bool> has no element to read into.
      Item item{};
      if (!detail::Read(r, item)) return false;
      if constexpr (std::is_same_v<Item, bool>) {
        out.push_back(item);
      } else {
        out.insert(std::move(item));
      }
      return true;
    }
  }
};
template <typename T, typename Alloc>
struct Codec<std::vector<T, Alloc>, std::enable_if_t<!kIsByteElement<T>>>
    : SequenceCodec<std::vector<T, Alloc>> {};
template <typename T, typename Alloc>
struct Codec<std::deque<T, Alloc>> : SequenceCodec<std::deque<T, Alloc>> {};
template <typename T, typename Alloc>
struct Codec<std::list<T, Alloc>> : SequenceCodec<std::list<T, Alloc>> {};
template <typename T, typename Compare, typename Alloc>
struct Codec<std::set<T, Compare, Alloc>> : SequenceCodec<std::set<T, Compare, Alloc>> {};
template <typename T, typename Hash, typename Equal, typename Alloc>
struct Codec<std::unordered_set<T, Hash, Equal, Alloc>>
    : SequenceCodec<std::unordered_set<T, Hash, Equal, Alloc>> {};

// std::array: an array of exactly N elements.
template <typename T, std::size_t N>
struct Codec<std::array<T, N>, std::enable_if_t<!kIsByteElement<T>>> {
  template <typename E>
  static void Write(E& out, const std::array<T, N>& items) {
    WriteElements(out, items);
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::array<T, N>& out) {
    if (!OpenArray(r)) return false;
    std::size_t i = 0;
    if constexpr (kReadsRuns<D, T>) i = r.in.ReadNumbers(out.data(), N);
    for (; i < N; ++i) {
      if (r.Peek() == QkXDRType2::ArrayEnd) return r.Fail("Array of " + std::to_string(N));
      if (!detail::Read(r, out[i])) return r.Within("[" + std::to_string(i) + "]");
    }
    return CloseArray(r, false);
  }
};

// Records: structs with QKXDR_FIELDS or qkxdr_fields(), pairs and tuples; an
// array of their members in order. Data with fewer members sets the last
// ones to their defaults (those of a value-initialised T); data with more
// has them skipped.
template <typename T>
auto Members(T& v) {
  if constexpr (kIsInstance<T, std::pair>) {
    return std::tie(v.first, v.second);
  } else if constexpr (kIsInstance<T, std::tuple>) {
    return std::apply([](auto&... m) { return std::tie(m...); }, v);
  } else {
    return Fields(v);
  }
}

template <typename T>
struct RecordCodec {
  template <typename E>
  static void Write(E& out, const T& v) {
    out.BeginArray();
    // The members are only read: a qkxdr_fields() taking T& serves here too.
    std::apply([&out](const auto&... m) { (detail::Write(out, m), ...); },
               Members(const_cast<T&>(v)));
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    if (!OpenArray(r)) return false;
    auto members = Members(out);
    std::size_t present = 0;  // members the data holds
    if (!ReadMembers(r, members, present, Indices{})) return false;
    if (present < kCount) ResetFrom(present, members, Indices{});
    return CloseArray(r, true);
  }

 private:
  static constexpr std::size_t kCount = std::tuple_size_v<decltype(Members(std::declval<T&>()))>;
  using Indices = std::make_index_sequence<kCount>;

  template <typename D, typename Tuple, std::size_t... I>
  static bool ReadMembers(Reading<D>& r, Tuple& members, std::size_t& present,
                          std::index_sequence<I...>) {
    bool ok = true;
    static_cast<void>(((ok = ReadMember<I>(r, std::get<I>(members), present)) && ...));
    return ok;
  }
  template <std::size_t I, typename D, typename Member>
  static bool ReadMember(Reading<D>& r, Member& member, std::size_t& present) {
    if (present < I || r.Peek() == QkXDRType2::ArrayEnd) return true;
    present = I + 1;
    if (detail::Read(r, member)) return true;
    if constexpr (kIsInstance<T, std::pair> || kIsInstance<T, std::tuple>) {
      return r.Within("[" + std::to_string(I) + "]");
    } else {
      return r.Within(FieldName<T>(I));
    }
  }

  // Gives the members from `first` on the values of a value-initialised T.
  template <typename Tuple, std::size_t... I>
  static void ResetFrom(std::size_t first, Tuple& members, std::index_sequence<I...>) {
    T defaults{};
    auto from = Members(defaults);
    static_cast<void>(
        ((I >= first ? (std::get<I>(members) = std::move(std::get<I>(from)), 0) : 0), ...));
  }
};
template <typename T>
struct Codec<T, std::enable_if_t<kIsRecord<T>>> : RecordCodec<T> {};
template <typename A, typename B>
struct Codec<std::pair<A, B>> : RecordCodec<std::pair<A, B>> {};
template <typename... Ts>
struct Codec<std::tuple<Ts...>> : RecordCodec<std::tuple<Ts...>> {};

// Maps: an array of [key, value] pairs.
template <typename Map>
struct MapCodec {
  using Entry = std::pair<typename Map::key_type, typename Map::mapped_type>;
  template <typename E>
  static void Write(E& out, const Map& map) {
    out.BeginArray();
    for (const auto& [key, value] : map) {
      out.BeginArray();
      detail::Write(out, key);
      detail::Write(out, value);
      out.EndArray();
    }
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, Map& out) {
    if (!OpenArray(r)) return false;
    out.clear();
    for (std::size_t i = 0; r.Peek() != QkXDRType2::ArrayEnd; ++i) {
      Entry entry{};
      if (!detail::Read(r, entry)) return r.Within("[" + std::to_string(i) + "]");
      out.insert_or_assign(std::move(entry.first), std::move(entry.second));
    }
    return CloseArray(r, false);
  }
};
template <typename K, typename V, typename Compare, typename Alloc>
struct Codec<std::map<K, V, Compare, Alloc>> : MapCodec<std::map<K, V, Compare, Alloc>> {};
template <typename K, typename V, typename Hash, typename Equal, typename Alloc>
struct Codec<std::unordered_map<K, V, Hash, Equal, Alloc>>
    : MapCodec<std::unordered_map<K, V, Hash, Equal, Alloc>> {};

// std::optional: [] when empty, [value] otherwise.
template <typename T>
struct Codec<std::optional<T>> {
  template <typename E>
  static void Write(E& out, const std::optional<T>& v) {
    out.BeginArray();
    if (v) detail::Write(out, *v);
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::optional<T>& out) {
    if (!OpenArray(r)) return false;
    if (r.Peek() == QkXDRType2::ArrayEnd) {
      out.reset();
    } else if (!detail::Read(r, out.emplace())) {
      return r.Within("[0]");
    }
    return CloseArray(r, false);
  }
};

// std::variant: [index, value].
template <typename... Ts>
struct Codec<std::variant<Ts...>> {
  using Variant = std::variant<Ts...>;
  template <typename E>
  static void Write(E& out, const Variant& v) {
    out.BeginArray();
    out.WriteInt64(static_cast<std::int64_t>(v.index()));
    std::visit([&out](const auto& alternative) { detail::Write(out, alternative); }, v);
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, Variant& out) {
    if (!OpenArray(r)) return false;
    std::size_t index = 0;
    if (!detail::Read(r, index)) return r.Within("[0]");
    if (index >= sizeof...(Ts)) {
      r.Fail("Int below " + std::to_string(sizeof...(Ts)), "Int " + std::to_string(index));
      return r.Within("[0]");
    }
    if (!ReadAlternative(r, out, index, std::index_sequence_for<Ts...>{})) return r.Within("[1]");
    return CloseArray(r, false);
  }

 private:
  template <typename D, std::size_t... I>
  static bool ReadAlternative(Reading<D>& r, Variant& out, std::size_t index,
                              std::index_sequence<I...>) {
    bool ok = false;
    static_cast<void>(
        ((index == I && (ok = detail::Read(r, out.template emplace<I>()), true)) || ...));
    return ok;
  }
};

// Writes v into `out`, whose contents it replaces, reusing its storage.
template <template <typename> class Encoder, typename T, typename Container>
void EncodeInto(const T& v, Container& out) {
  Encoder<impl::VectorBuffer<Container, kMaxUnits<Container>>> encoder(&out);
  detail::Write(encoder, v);
  encoder.data();  // the output complete: a run of blobs leaves its tag byte behind
}

// Reads one value of type T over a decoder holding exactly one value.
template <typename Decoder, typename T>
ReadStatus DecodeOne(Decoder& in, std::size_t input_size, T& out) {
  Reading<Decoder> r(in, input_size);
  if (!detail::Read(r, out)) return ReadStatus(std::move(r.error));
  if (r.Peek() != QkXDRType2::None || in.IsValid()) {
    r.Fail("end of data");
    return ReadStatus(std::move(r.error));
  }
  return ReadStatus();
}

template <typename C>
using IfBytes =
    std::enable_if_t<kIsByteElement<Plain<decltype(*std::data(std::declval<const C&>()))>>>;

}  // namespace detail

// The binary encoding of v, into `out` (its contents replaced).
template <typename T>
void to_binary(const T& v, std::vector<std::uint8_t>& out) {
  detail::EncodeInto<impl::BinaryEncoderInto>(v, out);
}
template <typename T>
std::vector<std::uint8_t> to_binary(const T& v) {
  std::vector<std::uint8_t> out;
  to_binary(v, out);
  return out;
}

// The text form of v, into `out` (its contents replaced).
template <typename T>
void to_text(const T& v, std::u16string& out) {
  detail::EncodeInto<impl::TextEncoderInto>(v, out);
}
template <typename T>
std::u16string to_text(const T& v) {
  std::u16string out;
  to_text(v, out);
  return out;
}

// Reads the binary encoding of one value of type T into `out`, which keeps
// what it held where the data has nothing for it (fields a shorter record
// lacks). [data, data + size) must hold exactly that one value.
template <typename T>
ReadStatus from_binary(const void* data, std::size_t size, T& out) {
  const auto* begin = static_cast<const std::uint8_t*>(data);
  detail::BinaryDecoder in(begin, begin + (begin == nullptr ? 0 : size));
  return detail::DecodeOne(in, size, out);
}
template <typename C, typename T, typename = detail::IfBytes<C>>
ReadStatus from_binary(const C& bytes, T& out) {
  return from_binary(std::data(bytes), std::size(bytes), out);
}
template <typename T>
Result<T> from_binary(const void* data, std::size_t size) {
  T value{};
  ReadStatus status = from_binary(data, size, value);
  return Result<T>(std::move(value), std::move(status));
}
template <typename T, typename C, typename = detail::IfBytes<C>>
Result<T> from_binary(const C& bytes) {
  return from_binary<T>(std::data(bytes), std::size(bytes));
}

// The same for the text form.
template <typename T>
ReadStatus from_text(std::u16string_view text, T& out) {
  detail::TextDecoder in(text.data(), text.data() + text.size());
  return detail::DecodeOne(in, text.size(), out);
}
template <typename T>
Result<T> from_text(std::u16string_view text) {
  T value{};
  ReadStatus status = from_text(text, value);
  return Result<T>(std::move(value), std::move(status));
}

}  // namespace qkxdr

#endif  // QKXDR_TYPED_HPP_
