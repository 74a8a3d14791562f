// qkxdr/error.hpp: the one error type of the C++ side, and the results that
// carry it.
//
//   qkxdr::Result<Point> p = qkxdr::from_binary<Point>(bytes);
//   if (!p) {
//     switch (p.error().code()) { ... }
//     std::cerr << p.error().message() << '\n';  // "at .x (offset 3): ..."
//   }
//
// Every read of QkXDR.hpp, typed.hpp, stream.hpp and json.hpp that can fail
// returns a Result<T> (Result<void> where it fills an object of the
// caller's), and nothing else. Results must be looked at: they are
// [[nodiscard]].

#ifndef QKXDR_ERROR_HPP_
#define QKXDR_ERROR_HPP_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace qkxdr {

// What went wrong, for a program to switch on.
enum class ErrorCode : std::uint8_t {
  malformed,      // bytes or text that no writer makes: a bad tag byte, a stray bracket
  truncated,      // the input ends inside a value
  type_mismatch,  // a value of another type than the one asked for
  out_of_range,   // a number, length or index the target cannot hold
  too_deep,       // arrays nested deeper than the reader follows
  too_large,      // a value longer than the limit set, or than 32-bit counts allow
  unsupported,    // a value the target form has no place for (a JSON object, U+0000)
  io,             // a sink took no more output, or a source failed
  no_value,       // a read asked for no value: none handed out, an empty reader
};

// A failure: its code, where it happened and what was found there.
class Error {
 public:
  // `offset` where no offset is known (the exported readers report none).
  static constexpr std::uint64_t kNoOffset = UINT64_MAX;

  Error(ErrorCode code, std::uint64_t offset, std::string detail, std::string path = {})
      : code_(code), offset_(offset), detail_(std::move(detail)), path_(std::move(path)) {}
  // What a successful Result answers when asked for its error: no_value,
  // nothing else known.
  Error() = default;

  ErrorCode code() const noexcept { return code_; }
  // Where the failing value starts: bytes into binary input, UTF-16 units
  // into text, bytes into JSON; from the stream's start for stream readers.
  std::uint64_t offset() const noexcept { return offset_; }
  // What was expected and found: "expected String, found Int".
  const std::string& detail() const noexcept { return detail_; }
  // Where the value sits in the value read: "[3].name"; empty at the top.
  const std::string& path() const noexcept { return path_; }

  // "at [3].name (offset 120): expected String, found Int"; the parts that
  // are unknown are left out.
  std::string message() const {
    std::string at = path_.empty() ? "" : "at " + path_;
    if (offset_ != kNoOffset) {
      at += (at.empty() ? "at offset " : " (offset ") + std::to_string(offset_) +
            (path_.empty() ? "" : ")");
    }
    return at.empty() ? detail_ : at + ": " + detail_;
  }

  // Puts the place of an enclosing part in front of the path.
  void nest(const std::string& part) { path_.insert(0, part); }
  // Moves the offset by `base`: for values read out of a larger input.
  void shift(std::uint64_t base) noexcept {
    if (offset_ != kNoOffset) offset_ += base;
  }

 private:
  ErrorCode code_ = ErrorCode::no_value;
  std::uint64_t offset_ = kNoOffset;
  std::string detail_;
  std::string path_;
};

// Thrown by Result::value() asked for the value of a failure, and only there.
class BadResultAccess : public std::runtime_error {
 public:
  explicit BadResultAccess(Error error)
      : std::runtime_error(error.message()), error_(std::move(error)) {}
  const Error& error() const noexcept { return error_; }

 private:
  Error error_;
};

// A value, or the Error of why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}                     // NOLINT: implicit
  Result(Error error) : error_(std::in_place, std::move(error)) {}  // NOLINT: implicit

  bool ok() const noexcept { return !error_; }
  explicit operator bool() const noexcept { return ok(); }
  // Why there is no value; asked of a success, an Error of code no_value
  // and nothing else.
  Error error() const { return error_ ? *error_ : Error(); }

  // The value; throws BadResultAccess for a failure.
  T& value() & { return Checked(), value_; }
  const T& value() const& { return Checked(), value_; }
  T&& value() && { return Checked(), std::move(value_); }
  // The value, or `fallback` for a failure.
  template <typename U>
  T value_or(U&& fallback) const& {
    return ok() ? value_ : static_cast<T>(std::forward<U>(fallback));
  }
  // The value, unchecked: only after ok().
  T& operator*() noexcept { return value_; }
  const T& operator*() const noexcept { return value_; }
  T* operator->() noexcept { return &value_; }
  const T* operator->() const noexcept { return &value_; }

 private:
  void Checked() const {
    if (error_) throw BadResultAccess(*error_);
  }

  T value_{};
  std::optional<Error> error_;  // empty for a success: nothing to build or move
};

// The outcome of a call that fills an object of the caller's, or does
// something: success, or the Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  // Not defaulted: a success built from {} then sets one flag instead of
  // zeroing the room of an Error it does not hold.
  Result() noexcept {}  // NOLINT(modernize-use-equals-default)
  Result(Error error) : error_(std::in_place, std::move(error)) {}  // NOLINT: implicit

  bool ok() const noexcept { return !error_; }
  explicit operator bool() const noexcept { return ok(); }
  Error error() const { return error_ ? *error_ : Error(); }
  // Throws BadResultAccess for a failure.
  void value() const {
    if (error_) throw BadResultAccess(*error_);
  }

 private:
  std::optional<Error> error_;
};

}  // namespace qkxdr

#endif  // QKXDR_ERROR_HPP_
