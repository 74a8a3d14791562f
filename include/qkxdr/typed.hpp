// qkxdr/typed.hpp: C++ values to and from both encodings, by their types.
//
//   struct Point {
//     int32_t x = 0, y = 0;
//     std::string label;
//     QKXDR_FIELDS(x, y, label)
//   };
//   qkxdr::Result<std::vector<uint8_t>> bytes = qkxdr::to_binary(points);
//   qkxdr::Result<std::vector<Point>> back = qkxdr::from_binary<std::vector<Point>>(*bytes);
//   if (!back) std::cerr << back.error().message() << '\n';
//
// Every value becomes one value of the format; docs/api.md ("Typed values")
// gives the mapping of each type. std::string holds UTF-8 and travels as the
// format's UTF-16 strings, losslessly both ways (qkxdr/detail/base/utf8.h
// says what invalid UTF-8 and unpaired surrogates become); qkxdr::Latin1 is
// the 8-bit string of the exported interface. A string holding U+0000 has
// no form: writing one fails, and so does reading one.
//
// Reading checks every value's type and range and fails, with the first
// failure's code, offset and path (qkxdr/error.hpp), unless the input holds
// exactly one whole value of the type. Nothing throws but std::bad_alloc,
// unless Result::value() is asked for the value of a failure.
//
// Containers are recognised by their members, so this header includes only
// what it needs: a program that serializes std::map includes <map> itself.
//
// The encoding and decoding run inline in the caller's program, on the same
// encoder and decoder classes that the library's streams use; nothing here
// goes through the exported functions.

#ifndef QKXDR_TYPED_HPP_
#define QKXDR_TYPED_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "QkXDR.h"
#include "qkxdr/detail/base/compiler.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/base/string_rules.h"
#include "qkxdr/detail/base/utf8.h"
#include "qkxdr/detail/base/vector_buffer.h"
#include "qkxdr/detail/binary/binary_decoder.h"
#include "qkxdr/detail/binary/binary_encoder.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/text_encoder.h"
#include "qkxdr/error.hpp"
#include "qkxdr/latin1.hpp"

// Inside a struct or class: makes it a record of the listed members, written
// as an array of them in this order.
#define QKXDR_FIELDS(...)                                     \
  auto qkxdr_fields() { return std::tie(__VA_ARGS__); }       \
  auto qkxdr_fields() const { return std::tie(__VA_ARGS__); } \
  static constexpr const char* qkxdr_field_names() { return #__VA_ARGS__; }

namespace qkxdr {

// How much memory a typed read may give the values it reads, so that a small
// input cannot make a type fill memory (2-byte empty records read into
// 4 KiB structs). Each element a container gets counts at its size, with
// four pointers more in a container of nodes (std::list, std::set,
// std::map) and the blocks a std::deque holds while empty, and each string
// and blob at its bytes. A read of n bytes (or text units) whose values
// would take more than memory_per_unit * n + memory_base fails with
// ErrorCode::too_large. A read holds at most three times what counts (a
// vector moving to a larger block); docs/robustness.md has the figures. The
// defaults pass every value whose encoding takes at least 1/64 of its
// memory, which every type of the standard library does.
struct ReadLimits {
  std::size_t memory_per_unit = 64;
  std::size_t memory_base = std::size_t{16} << 20;

  // The budget of a read of n units, at most SIZE_MAX.
  std::size_t budget(std::size_t n) const {
    constexpr std::size_t kMax = (std::numeric_limits<std::size_t>::max)();
    if (memory_per_unit != 0 && n > (kMax - memory_base) / memory_per_unit) return kMax;
    return memory_per_unit * n + memory_base;
  }
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

template <typename T>
inline constexpr bool kAlwaysFalse = false;

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

// Members a type is recognised by.
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

template <typename T, typename = void>
struct IsIterable : std::false_type {};
template <typename T>
struct IsIterable<
    T, std::void_t<typename T::value_type, decltype(std::declval<T&>().begin()),
                   decltype(std::declval<T&>().end()), decltype(std::declval<T&>().clear())>>
    : std::true_type {};

template <typename T, typename = void>
struct HasMappedType : std::false_type {};
template <typename T>
struct HasMappedType<T, std::void_t<typename T::key_type, typename T::mapped_type>>
    : std::true_type {};

template <typename T, typename = void>
struct HasPushBack : std::false_type {};
template <typename T>
struct HasPushBack<
    T, std::void_t<decltype(std::declval<T&>().push_back(std::declval<typename T::value_type>()))>>
    : std::true_type {};

template <typename T, typename = void>
struct HasInsert : std::false_type {};
template <typename T>
struct HasInsert<
    T, std::void_t<decltype(std::declval<T&>().insert(std::declval<typename T::value_type>()))>>
    : std::true_type {};

// Containers whose elements are reached by index and that resize: a read
// reuses the elements they hold (std::vector, std::deque).
template <typename T, typename = void>
struct IsIndexed : std::false_type {};
template <typename T>
struct IsIndexed<T, std::void_t<decltype(std::declval<T&>()[std::size_t{}]),
                                decltype(std::declval<T&>().resize(std::size_t{}))>>
    : std::true_type {};

template <typename T, typename = void>
struct HasPushFront : std::false_type {};
template <typename T>
struct HasPushFront<
    T, std::void_t<decltype(std::declval<T&>().push_front(std::declval<typename T::value_type>()))>>
    : std::true_type {};

template <typename T, typename = void>
struct HasData : std::false_type {};
template <typename T>
struct HasData<T, std::void_t<decltype(std::declval<const T&>().data())>> : std::true_type {};

// Sum types that hold one of their alternatives: std::variant, recognised
// without its header by index() and valueless_by_exception().
template <typename T, typename = void>
struct IsVariant : std::false_type {};
template <typename T>
struct IsVariant<T, std::void_t<decltype(std::declval<const T&>().index()),
                                decltype(std::declval<const T&>().valueless_by_exception())>>
    : std::true_type {};

template <typename T>
inline constexpr bool kIsString = kIsInstance<T, std::basic_string>;

template <typename T>
struct IsByteVector : std::false_type {};
template <typename Byte, typename Alloc>
struct IsByteVector<std::vector<Byte, Alloc>> : std::bool_constant<kIsByteElement<Byte>> {};

// Arrays of elements: every iterable container that is not a string, a
// blob or a map, and that grows by push_back or insert.
template <typename T>
inline constexpr bool kIsSequence =
    IsIterable<T>::value && !kIsString<T> && !HasMappedType<T>::value && !IsByteVector<T>::value &&
    (HasPushBack<T>::value || HasInsert<T>::value);

template <typename T>
inline constexpr bool kIsMap = IsIterable<T>::value&& HasMappedType<T>::value;

// What each element of a container of nodes (std::list, std::set, std::map)
// takes beyond itself, as a read's memory budget counts it: four pointers.
template <typename Container>
constexpr std::size_t NodeBytes() {
  return IsIndexed<Container>::value ? 0 : 4 * sizeof(void*);
}

// The members of record v as a tuple of references.
template <typename T>
auto Fields(T& v) {
  if constexpr (HasMemberFields<T>::value) {
    return v.qkxdr_fields();
  } else {
    return qkxdr_fields(v);
  }
}

// The members of a record (a struct with fields, a pair, a tuple) as a
// tuple of references.
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

// What a value-initialised T holds on the heap, as a read's budget counts
// it: a double-ended queue allocates its first block and its map of blocks
// while empty (512 bytes and eight pointers), and so does each one that a
// record, a tuple, a std::array or a variant's first alternative holds.
template <typename T, typename = void>
struct HeldEmpty : std::integral_constant<std::size_t, 0> {};
template <typename T>
struct HeldEmpty<T, std::enable_if_t<IsIndexed<T>::value && HasPushFront<T>::value>>
    : std::integral_constant<std::size_t, 512 + 8 * sizeof(void*)> {};
template <typename T, std::size_t N>
struct HeldEmpty<std::array<T, N>> : std::integral_constant<std::size_t, N * HeldEmpty<T>::value> {
};
template <typename T>
inline constexpr std::size_t kHeldEmpty = HeldEmpty<Plain<T>>::value;

template <typename Tuple>
struct HeldEmptyInAll;
template <typename... Ts>
struct HeldEmptyInAll<std::tuple<Ts...>>
    : std::integral_constant<std::size_t, (std::size_t{0} + ... + kHeldEmpty<Ts>)> {};
template <typename T>
struct HeldEmpty<
    T, std::enable_if_t<kIsRecord<T> || kIsInstance<T, std::pair> || kIsInstance<T, std::tuple>>>
    : HeldEmptyInAll<decltype(Members(std::declval<T&>()))> {};
template <template <typename...> class Variant, typename First, typename... Ts>
struct HeldEmpty<Variant<First, Ts...>, std::enable_if_t<IsVariant<Variant<First, Ts...>>::value>>
    : HeldEmpty<First> {};

// The name of field i of record T from its QKXDR_FIELDS list, or "[i]".
template <typename T>
std::string FieldName(std::size_t i) {
  if constexpr (HasFieldNames<T>::value) {
    std::string_view names = T::qkxdr_field_names();
    for (; i > 0; --i) names.remove_prefix((std::min)(names.size(), names.find(',') + 1));
    names = names.substr(0, names.find(','));
    while (!names.empty() && names.front() == ' ') names.remove_prefix(1);
    while (!names.empty() && names.back() == ' ') names.remove_suffix(1);
    return "." + std::string(names);
  } else {
    return "[" + std::to_string(i) + "]";
  }
}

inline std::string Index(std::size_t i) { return "[" + std::to_string(i) + "]"; }

inline const char* TypeName(QkXDRType2 t) {
  static const char* const kNames[] = {"ArrayBegin", "ArrayEnd", "None",  "Int",
                                       "String",     "Double",   "Binary"};
  return kNames[static_cast<int>(t)];
}

// Which encoders and decoders are those of the text form: they write and
// read doubles in the form that gives every double back.
template <typename T>
struct IsTextForm : std::false_type {};
template <typename Buffer>
struct IsTextForm<impl::TextEncoderInto<Buffer>> : std::true_type {};
template <>
struct IsTextForm<TextDecoder> : std::true_type {};

// A write in progress: the encoder (or stream writer) and whether a value
// had no form in the format. Has the calls of the encoders that the codecs
// use.
template <typename Encoder>
class Writing {
 public:
  explicit Writing(Encoder& out) : out_(out) {}

  void WriteInt(std::int32_t v) { out_.WriteInt(v); }
  void WriteInt64(std::int64_t v) { out_.WriteInt64(v); }
  void WriteDouble(double v) {
    if constexpr (IsTextForm<Encoder>::value) {
      out_.WriteDoubleExact(v);
    } else {
      out_.WriteDouble(v);
    }
  }
  template <typename T>
  void WriteNumber(T v) {
    if constexpr (std::is_floating_point_v<T>) {
      WriteDouble(static_cast<double>(v));
    } else {
      out_.WriteNumber(v);
    }
  }
  template <typename T>
  void WriteNumbers(const T* v, std::size_t n) {
    if constexpr (std::is_floating_point_v<T> && IsTextForm<Encoder>::value) {
      for (std::size_t i = 0; i < n; ++i) WriteDouble(static_cast<double>(v[i]));
    } else {
      out_.WriteNumbers(v, n);
    }
  }
  // UTF-16 units; refused, with nothing written, when one is U+0000.
  void WriteUnits(std::u16string_view units) {
    if (impl::HoldsZeroUnit(units)) return Refuse(impl::kZeroUnitDetail);
    out_.WriteString(units.data(), units.size());
  }
  // UTF-8, through the lossless mapping to UTF-16; ASCII, its own UTF-16,
  // is written as 8-bit units.
  void WriteUtf8(std::string_view text) {
    if (!out_.WriteAsciiString(text.data(), text.size())) WriteConverted(text);
  }
  QKXDR_NOINLINE void WriteConverted(std::string_view text) {
    impl::Utf8ToUtf16(text, &units_);
    WriteUnits(units_);
  }
  // Each byte as the unit of its value (the exported text writer's
  // WriteStringA would sign-extend bytes from 0x80 on).
  void WriteLatin1(std::string_view bytes) {
    units_.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      units_[i] = static_cast<unsigned char>(bytes[i]);
    }
    WriteUnits(units_);
  }
  void WriteBytes(const std::uint8_t* data, std::size_t n) {
    if (n > (std::numeric_limits<std::uint32_t>::max)()) {
      return Refuse("a blob of 4 GiB or more");
    }
    out_.WriteBytes(data, static_cast<std::uint32_t>(n));
  }
  void BeginArray() { out_.BeginArray(); }
  void EndArray() { out_.EndArray(); }

  // The first value that had no form, if any.
  const std::optional<Error>& refused() const { return refused_; }

 private:
  void Refuse(std::string_view why) {
    if (!refused_) refused_.emplace(ErrorCode::unsupported, Error::kNoOffset, std::string(why));
  }

  Encoder& out_;
  std::u16string units_;  // UTF-8 strings as UTF-16
  std::optional<Error> refused_;
};

// A read in progress: the decoder, the first failure, the nesting depth.
template <typename Decoder>
class Reading {
 public:
  Reading(Decoder& decoder, std::size_t input_size, const ReadLimits& limits)
      : in(decoder), limit(input_size), limits_(limits), left_(limits.memory_base) {}

  // The current value's type; None also at the end of the data. Every read
  // looks first, so a failure is reported where its value starts.
  QKXDR_INLINE QkXDRType2 Peek() {
    at_ = in.Position();
    return in.IsValid() ? in.PeekType() : QkXDRType2::None;
  }

  // Records a failure of the current value; returns false.
  QKXDR_NOINLINE bool Fail(ErrorCode code, std::string detail) {
    error.emplace(code, at_, std::move(detail));
    return false;
  }
  // Records that the current value is not `expected`; returns false.
  QKXDR_NOINLINE bool Mismatch(const std::string& expected) {
    const std::string wanted = "expected " + expected + ", found ";
    if (!in.IsValid() && at_ >= limit) return Fail(ErrorCode::truncated, wanted + "the end");
    if (!in.IsValid() || in.PeekType() == QkXDRType2::None) {
      return Fail(ErrorCode::malformed, wanted + "no value");
    }
    return Fail(ErrorCode::type_mismatch, wanted + TypeName(in.PeekType()));
  }
  // Counts `bytes` more of memory that the values read take; false, after
  // recording why, once they pass the read's budget.
  QKXDR_INLINE bool Take(std::size_t bytes) {
    if (bytes <= left_) {
      left_ -= bytes;
      return true;
    }
    return TakeBeyondBase(bytes);
  }
  template <typename Unit>
  bool TakeString(const std::basic_string<Unit>& s) {
    return Take(s.size() * sizeof(Unit));
  }
  // Adds the place of a part that failed in front of the path; returns false.
  bool Within(const std::string& part) {
    error->nest(part);
    return false;
  }
  QKXDR_INLINE bool Expect(QkXDRType2 type, const char* name) {
    return Peek() == type || Mismatch(name);
  }

  bool ReadDouble(double* out) {
    if constexpr (IsTextForm<Decoder>::value) {
      return in.ReadDoubleExact(out);
    } else {
      return in.ReadDouble(out);
    }
  }

  // The current string's units into `into` (`units`, or a std::u16string
  // read into), all of them, and none U+0000; false after recording why.
  bool ReadUnits(std::u16string& into) {
    if (!ReadAllUnits(into)) return false;
    if (impl::HoldsZeroUnit<char16_t>(into)) {
      return Fail(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
    }
    return true;
  }

  // The current value consumed whole, whatever it is, read as a read of its
  // type would read it: a number, string or blob cut off by the end of the
  // input is refused. False after recording why.
  bool SkipScalar() {
    switch (Peek()) {
      case QkXDRType2::Int: {
        std::int64_t v = 0;
        return in.ReadInt64(&v) || Fail(ErrorCode::truncated, "a cut Int");
      }
      case QkXDRType2::Double: {
        double v = 0;
        return ReadDouble(&v) || Fail(ErrorCode::truncated, "a cut number");
      }
      case QkXDRType2::Binary:
        if constexpr (std::is_same_v<Decoder, BinaryDecoder>) {
          const std::uint8_t* bytes = nullptr;
          std::uint32_t n = 0;
          return in.ReadBytes(&bytes, &n) || Fail(ErrorCode::truncated, "a cut Binary");
        }
        [[fallthrough]];  // blob text is a string
      default:
        return ReadAllUnits(units);
    }
  }

  Decoder& in;
  std::size_t limit;  // no string or blob is longer than the input
  int depth = 0;
  std::optional<Error> error;
  std::u16string units;  // room for strings read as other types

 private:
  // Take once the values pass the budget's base: the part that grows with
  // the input is added the first time (most reads never get here, and the
  // budget's overflow check divides).
  QKXDR_NOINLINE bool TakeBeyondBase(std::size_t bytes) {
    const std::size_t budget = limits_.budget(limit);
    if (!grown_) {
      grown_ = true;
      left_ += budget - limits_.memory_base;
      if (bytes <= left_) return Take(bytes);
    }
    return Fail(ErrorCode::too_large, "values taking more than the read's memory budget of " +
                                          std::to_string(budget) + " bytes (ReadLimits)");
  }

  // ReadUnits without the check for U+0000.
  bool ReadAllUnits(std::u16string& into) {
    // Text that starts "0x" is announced as a blob, but reads as a string.
    const QkXDRType2 type = Peek();
    if (type != QkXDRType2::String && type != QkXDRType2::Binary) return Mismatch("String");
    if constexpr (std::is_same_v<Decoder, BinaryDecoder>) {
      if (!in.ReadWholeString(&into)) return Fail(ErrorCode::truncated, "a cut String");
    } else {
      into.clear();  // an empty string asks for no buffer
      UnitFiller filler(into, limit);
      if (!in.ReadString(&filler) || filler.refused) {
        return Fail(ErrorCode::truncated, "a cut String");
      }
    }
    return true;
  }

  // Hands the text decoder a buffer inside `units`; refuses lengths past
  // `limit`, which only damaged data declares.
  struct UnitFiller final : QkXDRAllocator {
    UnitFiller(std::u16string& out, std::size_t limit) : out(out), limit(limit) {}
    void* Alloc(std::uint32_t count) override {
      if (count > limit) {
        refused = true;
        return nullptr;
      }
      out.resize(count);
      return out.data();
    }
    std::u16string& out;
    std::size_t limit;
    bool refused = false;
  };

  std::size_t at_ = 0;  // where the value looked at last starts
  ReadLimits limits_;
  std::size_t left_;  // of the budget: of its base until grown_
  bool grown_ = false;
};

// How each type is written and read. A type with none gets here.
template <typename T, typename = void>
struct Codec {
  static_assert(kAlwaysFalse<T>,
                "qkxdr: this type has no mapping to the format; give it QKXDR_FIELDS(...) "
                "or a free function qkxdr_fields(T&) returning std::tie of its members");
};

// Writes v; reads into out. Read returns false after recording the failure.
template <typename E, typename T>
void Write(Writing<E>& out, const T& v) {
  Codec<T>::Write(out, v);
}
template <typename D, typename T>
bool Read(Reading<D>& r, T& out) {
  return Codec<T>::Read(r, out);
}

template <>
struct Codec<bool> {
  template <typename E>
  static void Write(Writing<E>& out, bool v) {
    out.WriteInt(v ? 1 : 0);
  }
  template <typename D>
  static bool Read(Reading<D>& r, bool& out) {
    if (!r.Expect(QkXDRType2::Int, "Int 0 or 1")) return false;
    std::int64_t v = 0;
    if (!r.in.ReadInt64(&v)) return r.Fail(ErrorCode::truncated, "a cut Int");
    if (v != 0 && v != 1) {
      return r.Fail(ErrorCode::out_of_range, "expected Int 0 or 1, found Int " + std::to_string(v));
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
  static void Write(Writing<E>& out, T v) {
    out.WriteNumber(v);
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    if (!r.Expect(QkXDRType2::Int, "Int")) return false;
    std::int64_t v = 0;
    if (!r.in.ReadInt64(&v)) return r.Fail(ErrorCode::truncated, "a cut Int");
    if (!impl::HoldsInt<T>(v)) {
      return r.Fail(ErrorCode::out_of_range,
                    "expected Int in [" + std::to_string((std::numeric_limits<T>::min)()) + ", " +
                        std::to_string((std::numeric_limits<T>::max)()) + "], found Int " +
                        std::to_string(v));
    }
    out = static_cast<T>(v);
    return true;
  }
};

template <typename T>
struct Codec<T, std::enable_if_t<std::is_enum_v<T>>> {
  using Underlying = std::underlying_type_t<T>;
  template <typename E>
  static void Write(Writing<E>& out, T v) {
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
// exported text writer writes a double of ten integer digits without a
// point). The text form holds every double exactly.
template <typename T>
struct Codec<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static_assert(!std::is_same_v<T, long double>, "long double has no form in the format");
  template <typename E>
  static void Write(Writing<E>& out, T v) {
    out.WriteNumber(v);
  }
  template <typename D>
  static bool Read(Reading<D>& r, T& out) {
    const QkXDRType2 type = r.Peek();
    if (type != QkXDRType2::Double && type != QkXDRType2::Int) return r.Mismatch("Double");
    double v = 0;
    if (!r.ReadDouble(&v)) return r.Fail(ErrorCode::truncated, "a cut number");
    if constexpr (std::is_same_v<T, float>) {
      constexpr double kMax = (std::numeric_limits<float>::max)();
      if ((v > kMax || v < -kMax) && v - v == v - v) {  // finite, beyond float
        return r.Fail(ErrorCode::out_of_range,
                      "expected Double in the range of float, found Double " + std::to_string(v));
      }
    }
    out = static_cast<T>(v);
    return true;
  }
};

// Strings: std::string as UTF-8, std::u16string as UTF-16 units, Latin1 as
// 8-bit units; their views are written only.
template <typename Traits, typename Alloc>
struct Codec<std::basic_string<char, Traits, Alloc>> {
  using String = std::basic_string<char, Traits, Alloc>;
  template <typename E>
  static void Write(Writing<E>& out, std::string_view s) {
    out.WriteUtf8(s);
  }
  template <typename D>
  static bool Read(Reading<D>& r, String& out) {
    if constexpr (std::is_same_v<D, BinaryDecoder> && std::is_same_v<String, std::string>) {
      if (r.Peek() == QkXDRType2::String && r.in.ReadAsciiString(&out)) {
        if (!impl::HoldsZeroUnit<char>(out)) return r.TakeString(out);
        out.clear();
        return r.Fail(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
      }
    }
    if (!r.ReadUnits(r.units)) {
      out.clear();
      return false;
    }
    if constexpr (std::is_same_v<String, std::string>) {
      impl::Utf16ToUtf8(r.units, &out);
    } else {
      std::string utf8;
      impl::Utf16ToUtf8(r.units, &utf8);
      out.assign(utf8.data(), utf8.size());
    }
    return r.TakeString(out);
  }
};
template <typename Traits, typename Alloc>
struct Codec<std::basic_string<char16_t, Traits, Alloc>> {
  template <typename E>
  static void Write(Writing<E>& out, std::u16string_view s) {
    out.WriteUnits(s);
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::basic_string<char16_t, Traits, Alloc>& out) {
    bool read = false;
    if constexpr (std::is_same_v<std::remove_reference_t<decltype(out)>, std::u16string>) {
      read = r.ReadUnits(out);  // straight into the string's storage
    } else if ((read = r.ReadUnits(r.units))) {
      out.assign(r.units.data(), r.units.size());
    }
    if (!read) out.clear();
    return read && r.TakeString(out);
  }
};
template <>
struct Codec<std::string_view> {
  template <typename E>
  static void Write(Writing<E>& out, std::string_view s) {
    out.WriteUtf8(s);
  }
};
template <>
struct Codec<std::u16string_view> {
  template <typename E>
  static void Write(Writing<E>& out, std::u16string_view s) {
    out.WriteUnits(s);
  }
};
template <>
struct Codec<Latin1> {
  template <typename E>
  static void Write(Writing<E>& out, const Latin1& s) {
    out.WriteLatin1(s.bytes);
  }
  template <typename D>
  static bool Read(Reading<D>& r, Latin1& out) {
    out.bytes.clear();
    if (!r.ReadUnits(r.units)) return false;
    for (const char16_t unit : r.units) {
      if (unit > 0xFF) {
        return r.Fail(ErrorCode::out_of_range,
                      "expected String of units up to U+00FF, found U+" + Hex(unit));
      }
    }
    out.bytes.assign(r.units.begin(), r.units.end());
    return r.TakeString(out.bytes);
  }

 private:
  static std::string Hex(char16_t unit) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (int shift = 12; shift >= 0; shift -= 4) hex += kDigits[(unit >> shift) & 0xF];
    return hex;
  }
};

// Consumes an array opening, one level deeper; false after recording why.
template <typename D>
bool OpenArray(Reading<D>& r) {
  if (!r.Expect(QkXDRType2::ArrayBegin, "Array")) return false;
  if (r.depth == kMaxDepth) {
    return r.Fail(ErrorCode::too_deep, "an Array nested deeper than 512");
  }
  r.in.ReadBeginArray();
  ++r.depth;
  return true;
}

// Consumes the values left in the array being read, each whole, and its
// end; false, after recording why, when one is cut off or the end is
// missing. Nested arrays cost a count, not a stack.
template <typename D>
bool SkipRest(Reading<D>& r) {
  for (std::uint64_t open = 1; open != 0;) {
    const QkXDRType2 type = r.Peek();
    if (type == QkXDRType2::None) return r.Mismatch("ArrayEnd");
    if (type == QkXDRType2::ArrayBegin) {
      r.in.ReadBeginArray();
      ++open;
    } else if (type == QkXDRType2::ArrayEnd) {
      r.in.ReadEndArray();
      --open;
    } else if (!r.SkipScalar()) {
      return false;
    }
  }
  return true;
}

// Consumes the end of the array being read. Values left before it are
// skipped when `skip_rest` (a record read from a newer writer), a failure
// otherwise.
template <typename D>
bool CloseArray(Reading<D>& r, bool skip_rest) {
  if (r.Peek() == QkXDRType2::ArrayEnd) {
    r.in.ReadEndArray();
  } else if (!skip_rest) {
    return r.Mismatch("ArrayEnd");
  } else if (!SkipRest(r)) {
    return false;
  }
  --r.depth;
  return true;
}

// Blobs: vectors of bytes, and std::array of bytes (exactly its size).
template <typename Container>
struct BlobCodec {
  template <typename E>
  static void Write(Writing<E>& out, const Container& bytes) {
    out.WriteBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  template <typename D>
  static bool Read(Reading<D>& r, Container& out) {
    if (!r.Expect(QkXDRType2::Binary, "Binary")) return false;
    if constexpr (kIsInstance<Container, std::vector>) {
      if (!r.in.ReadBytes(&out)) return r.Fail(ErrorCode::truncated, "a cut Binary");
      return r.Take(out.size());
    } else {
      std::vector<std::uint8_t> bytes;
      if (!r.in.ReadBytes(&bytes)) return r.Fail(ErrorCode::truncated, "a cut Binary");
      if (bytes.size() != out.size()) {
        return r.Fail(ErrorCode::out_of_range, "expected Binary of " + std::to_string(out.size()) +
                                                   " bytes, found " + std::to_string(bytes.size()));
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

// Writes the elements of a container as one array; numbers in contiguous
// storage (a vector or std::array) go to the encoder together.
template <typename E, typename Container>
void WriteElements(Writing<E>& out, const Container& items) {
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
  static void Write(Writing<E>& out, const Container& items) {
    WriteElements(out, items);
  }
  template <typename D>
  static bool Read(Reading<D>& r, Container& out) {
    if (!OpenArray(r)) return false;
    if constexpr (!kReusesItems) out.clear();
    std::size_t n = 0;
    for (;; ++n) {
      if constexpr (kIsContiguous && kReadsRuns<D, Item>) {
        if (!ReadRuns(r, out, n)) return r.Within(Index(n));
      }
      if (r.Peek() == QkXDRType2::ArrayEnd) break;
      if (!ReadItem(r, out, n)) return r.Within(Index(n));
    }
    if constexpr (kReusesItems) out.resize(n);
    return CloseArray(r, false);
  }

 private:
  static constexpr bool kIsContiguous = HasData<Container>::value && !std::is_same_v<Item, bool>;
  // Vectors and deques read over the elements they hold, reusing their
  // storage (strings, blobs, nested containers); each element read is
  // replaced whole, so nothing of its old value shows.
  static constexpr bool kReusesItems = IsIndexed<Container>::value && !std::is_same_v<Item, bool>;
  // What a new element counts for the read's memory budget.
  static constexpr std::size_t kItemBytes =
      sizeof(Item) + NodeBytes<Container>() + kHeldEmpty<Item>;

  // Reads the runs of numbers that follow into out from element n on,
  // growing it while values follow; n becomes the number of elements read.
  // False, after recording why, when the budget allows no more elements.
  template <typename D>
  static bool ReadRuns(Reading<D>& r, Container& out, std::size_t& n) {
    for (;;) {
      n += r.in.ReadNumbers(out.data() + n, out.size() - n);
      if (n < out.size()) return true;
      const QkXDRType2 next = r.Peek();
      if (next == QkXDRType2::ArrayEnd || next == QkXDRType2::None) return true;
      const std::size_t more = n / 2 + 8;
      if (!r.Take(more * sizeof(Item))) return false;
      out.resize(n + more);
    }
  }

  // Reads element n; after a failure the container ends with that element.
  template <typename D>
  static bool ReadItem(Reading<D>& r, Container& out, std::size_t n) {
    if constexpr (kReusesItems) {
      if (n == out.size()) {
        if (!r.Take(kItemBytes)) return false;
        out.emplace_back();
      }
      if (detail::Read(r, out[n])) return true;
      out.resize(n + 1);
      return false;
    } else if constexpr (HasPushBack<Container>::value) {
      // std::list and std::vector<bool>: elements appended.
      if (!r.Take(kItemBytes)) return false;
      Item item{};
      if (!detail::Read(r, item)) return false;
      out.push_back(std::move(item));
      return true;
    } else {
      if (!r.Take(kItemBytes)) return false;
      Item item{};
      if (!detail::Read(r, item)) return false;
      out.insert(std::move(item));
      return true;
    }
  }
};
template <typename T>
struct Codec<T, std::enable_if_t<kIsSequence<T>>> : SequenceCodec<T> {};

// std::array: an array of exactly N elements.
template <typename T, std::size_t N>
struct Codec<std::array<T, N>, std::enable_if_t<!kIsByteElement<T>>> {
  template <typename E>
  static void Write(Writing<E>& out, const std::array<T, N>& items) {
    WriteElements(out, items);
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::array<T, N>& out) {
    if (!OpenArray(r)) return false;
    std::size_t i = 0;
    if constexpr (kReadsRuns<D, T>) i = r.in.ReadNumbers(out.data(), N);
    for (; i < N; ++i) {
      if (r.Peek() == QkXDRType2::ArrayEnd) {
        return r.Fail(ErrorCode::type_mismatch, "expected Array of " + std::to_string(N) +
                                                    ", found " + std::to_string(i) + " elements");
      }
      if (!detail::Read(r, out[i])) return r.Within(Index(i));
    }
    return CloseArray(r, false);
  }
};

// Records: structs with QKXDR_FIELDS or qkxdr_fields(), pairs and tuples; an
// array of their members in order. Data with fewer members sets the last
// ones to their defaults (those of a value-initialised T); data with more
// has them skipped.
template <typename T>
struct RecordCodec {
  template <typename E>
  static void Write(Writing<E>& out, const T& v) {
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
      return r.Within(Index(I));
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
struct Codec<Map, std::enable_if_t<kIsMap<Map>>> {
  using Entry = std::pair<typename Map::key_type, typename Map::mapped_type>;
  template <typename E>
  static void Write(Writing<E>& out, const Map& map) {
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
      if (!r.Take(sizeof(Entry) + NodeBytes<Map>() + kHeldEmpty<Entry>) ||
          !detail::Read(r, entry)) {
        return r.Within(Index(i));
      }
      out.insert_or_assign(std::move(entry.first), std::move(entry.second));
    }
    return CloseArray(r, false);
  }
};

// std::optional: [] when empty, [value] otherwise.
template <typename T>
struct Codec<std::optional<T>> {
  template <typename E>
  static void Write(Writing<E>& out, const std::optional<T>& v) {
    out.BeginArray();
    if (v) detail::Write(out, *v);
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, std::optional<T>& out) {
    if (!OpenArray(r)) return false;
    if (r.Peek() == QkXDRType2::ArrayEnd) {
      out.reset();
    } else if (!r.Take(kHeldEmpty<T>) || !detail::Read(r, out.emplace())) {
      return r.Within("[0]");
    }
    return CloseArray(r, false);
  }
};

// std::variant: [index, value].
template <template <typename...> class Variant, typename... Ts>
struct Codec<Variant<Ts...>, std::enable_if_t<IsVariant<Variant<Ts...>>::value>> {
  using Value = Variant<Ts...>;
  template <typename E>
  static void Write(Writing<E>& out, const Value& v) {
    out.BeginArray();
    out.WriteInt64(static_cast<std::int64_t>(v.index()));
    // std::visit, found by argument-dependent lookup: <variant> is the user's.
    visit([&out](const auto& alternative) { detail::Write(out, alternative); }, v);
    out.EndArray();
  }
  template <typename D>
  static bool Read(Reading<D>& r, Value& out) {
    if (!OpenArray(r)) return false;
    std::size_t index = 0;
    if (!detail::Read(r, index)) return r.Within("[0]");
    if (index >= sizeof...(Ts)) {
      r.Fail(ErrorCode::out_of_range, "expected Int below " + std::to_string(sizeof...(Ts)) +
                                          ", found Int " + std::to_string(index));
      return r.Within("[0]");
    }
    if (!ReadAlternative(r, out, index, std::index_sequence_for<Ts...>{})) return r.Within("[1]");
    return CloseArray(r, false);
  }

 private:
  template <typename D, std::size_t... I>
  static bool ReadAlternative(Reading<D>& r, Value& out, std::size_t index,
                              std::index_sequence<I...>) {
    bool ok = false;
    static_cast<void>(
        ((index == I &&
          (ok = r.Take(kHeldEmpty<Ts>) && detail::Read(r, out.template emplace<I>()), true)) ||
         ...));
    return ok;
  }
};

// Writes v into `out`, whose contents it replaces, reusing its storage;
// leaves it empty when a value has no form in the format.
template <template <typename> class Encoder, typename T, typename Container>
Result<void> EncodeInto(const T& v, Container& out) {
  std::optional<Error> refused;
  {
    Encoder<impl::VectorBuffer<Container, kMaxUnits<Container>>> encoder(&out);
    Writing<decltype(encoder)> writing(encoder);
    detail::Write(writing, v);
    encoder.data();  // the output complete: a run of blobs leaves its tag byte behind
    refused = writing.refused();
  }  // the encoder gives `out` its size
  if (!refused) return {};
  out.clear();
  return std::move(*refused);
}

// Reads one value of type T, the whole of what the decoder holds: after it
// comes the end of the input, not even a token of no value.
template <typename Decoder, typename T>
Result<void> DecodeOne(Decoder& in, std::size_t input_size, const ReadLimits& limits, T& out) {
  Reading<Decoder> r(in, input_size, limits);
  if (!detail::Read(r, out)) return std::move(*r.error);
  if (r.Peek() != QkXDRType2::None || in.IsValid() || in.Position() != input_size) {
    r.Fail(ErrorCode::malformed, "expected the end of the data, found more");
    return std::move(*r.error);
  }
  return {};
}

// The next value of a decoder over several, read as a T. `base` is where
// the decoder's data starts in the input, added to the offset of an error.
// One result object, returned in place: a read that succeeds builds nothing.
template <typename Decoder, typename T>
Result<void> DecodeNext(Decoder& in, std::size_t input_size, const ReadLimits& limits, T& out,
                        std::uint64_t base = 0) {
  Reading<Decoder> r(in, input_size, limits);
  Result<void> done;
  if (!detail::Read(r, out)) {
    r.error->shift(base);
    done = std::move(*r.error);
  }
  return done;
}

template <typename C>
using IfBytes =
    std::enable_if_t<kIsByteElement<Plain<decltype(*std::data(std::declval<const C&>()))>>>;

}  // namespace detail

// The binary encoding of v, into `out` (its contents replaced). Fails, with
// `out` empty, for a value that has no form in the format: a string holding
// U+0000, a blob of 4 GiB or more.
template <typename T>
Result<void> to_binary(const T& v, std::vector<std::uint8_t>& out) {
  return detail::EncodeInto<impl::BinaryEncoderInto>(v, out);
}
template <typename T>
Result<std::vector<std::uint8_t>> to_binary(const T& v) {
  std::vector<std::uint8_t> out;
  Result<void> done = to_binary(v, out);
  if (!done) return done.error();
  return Result<std::vector<std::uint8_t>>(std::move(out));
}

// The text form of v, into `out` (its contents replaced); fails as to_binary.
template <typename T>
Result<void> to_text(const T& v, std::u16string& out) {
  return detail::EncodeInto<impl::TextEncoderInto>(v, out);
}
template <typename T>
Result<std::u16string> to_text(const T& v) {
  std::u16string out;
  Result<void> done = to_text(v, out);
  if (!done) return done.error();
  return Result<std::u16string>(std::move(out));
}

// Reads the binary encoding of one value of type T into `out`, which keeps
// what it held where the data has nothing for it (fields a shorter record
// lacks). [data, data + size) must hold exactly that one value, whole, and
// the values read take no more memory than `limits` allow.
// After a failure `out` is valid but holds an unspecified part of the data.
template <typename T>
Result<void> from_binary(const void* data, std::size_t size, T& out,
                         const ReadLimits& limits = {}) {
  const auto* begin = static_cast<const std::uint8_t*>(data);
  detail::BinaryDecoder in(begin, begin + (begin == nullptr ? 0 : size));
  return detail::DecodeOne(in, size, limits, out);
}
template <typename C, typename T, typename = detail::IfBytes<C>>
Result<void> from_binary(const C& bytes, T& out, const ReadLimits& limits = {}) {
  return from_binary(std::data(bytes), std::size(bytes), out, limits);
}
template <typename T>
Result<T> from_binary(const void* data, std::size_t size, const ReadLimits& limits = {}) {
  T value{};
  Result<void> read = from_binary(data, size, value, limits);
  if (!read) return read.error();
  return Result<T>(std::move(value));
}
template <typename T, typename C, typename = detail::IfBytes<C>>
Result<T> from_binary(const C& bytes, const ReadLimits& limits = {}) {
  return from_binary<T>(std::data(bytes), std::size(bytes), limits);
}

// The same for the text form; the budget counts UTF-16 units.
template <typename T>
Result<void> from_text(std::u16string_view text, T& out, const ReadLimits& limits = {}) {
  detail::TextDecoder in(text.data(), text.data() + text.size());
  return detail::DecodeOne(in, text.size(), limits, out);
}
template <typename T>
Result<T> from_text(std::u16string_view text, const ReadLimits& limits = {}) {
  T value{};
  Result<void> read = from_text(text, value, limits);
  if (!read) return read.error();
  return Result<T>(std::move(value));
}

}  // namespace qkxdr

#endif  // QKXDR_TYPED_HPP_
