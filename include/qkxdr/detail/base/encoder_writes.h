// The string and blob writes that every encoder has, made from its own
// writes of units and bytes: zero-terminated strings and blob slots.

#ifndef QKXDR_DETAIL_BASE_ENCODER_WRITES_H_
#define QKXDR_DETAIL_BASE_ENCODER_WRITES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "QkXDR.h"
#include "qkxdr/detail/base/blob_buffer.h"
#include "qkxdr/detail/base/int_range.h"
#include "qkxdr/detail/base/utf8.h"

namespace qkxdr::impl {

// Units before the first zero unit; 0 for a null pointer. Four units a
// round, each read only after the one before it was found non-zero.
template <typename Unit>
size_t StringLength(const Unit* s) {
  if (s == nullptr) return 0;
  for (size_t n = 0;; n += 4) {
    if (s[n] == 0) return n;
    if (s[n + 1] == 0) return n + 1;
    if (s[n + 2] == 0) return n + 2;
    if (s[n + 3] == 0) return n + 3;
  }
}

// Bytes before the first zero byte; 0 for a null pointer.
inline size_t StringLength(const char* s) { return s == nullptr ? 0 : std::strlen(s); }

// A base of Encoder, which provides WriteUnits(const Unit* s, size_t n) for
// char16_t and char units (reachable from here) and WriteBytes(const
// uint8_t* data, uint32_t n).
template <typename Encoder>
class EncoderWrites {
 public:
  // Zero-terminated strings; a null pointer is written as an empty string.
  void WriteString(const char16_t* s) { WriteString(s, StringLength(s)); }
  void WriteStringA(const char* s) { WriteStringA(s, StringLength(s)); }
  // The n bytes at s as 8-bit units when every one is ASCII other than 0
  // (its own UTF-16 unit); false, with nothing written, otherwise. An
  // encoder may hide this with one that checks as it copies.
  bool WriteAsciiString(const char* s, size_t n) {
    if (!IsAsciiWithoutZero(std::string_view(s, n))) return false;
    self().WriteUnits(s, n);
    return true;
  }
  // The n units at s, zero units included.
  void WriteString(const char16_t* s, size_t n) { self().WriteUnits(s, n); }
  void WriteStringA(const char* s, size_t n) { self().WriteUnits(s, n); }

  // An integer as WriteInt when that holds every value of its type, else as
  // WriteInt64 (std::uint64_t as its two's complement bits); a float or
  // double as WriteDouble. Both integer writes give the same bytes for a
  // value they both hold.
  template <typename T>
  void WriteNumber(T v) {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, long double>, "a number");
    if constexpr (std::is_floating_point_v<T>) {
      self().WriteDouble(static_cast<double>(v));
    } else if constexpr (kFitsInt32<T>) {
      self().WriteInt(static_cast<int32_t>(v));
    } else {
      self().WriteInt64(static_cast<int64_t>(v));
    }
  }
  // The n numbers at v, each as WriteNumber writes it. An encoder may hide
  // this with a faster one that gives the same output.
  template <typename T>
  void WriteNumbers(const T* v, size_t n) {
    for (size_t i = 0; i < n; ++i) WriteNumber(v[i]);
  }

  // A null pointer, an empty slot and a view on null data are written as an
  // empty blob.
  void WriteBinary(const QkXDRBinary* blob) {
    const HeldBytes held = BytesOf(blob);
    self().WriteBytes(held.data, held.size);
  }

 protected:
  EncoderWrites() = default;
  ~EncoderWrites() = default;

 private:
  Encoder& self() { return static_cast<Encoder&>(*this); }
};

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_ENCODER_WRITES_H_
