// Which integer values a C++ integer type takes when the typed layer reads
// the format's 64-bit Ints into it.

#ifndef QKXDR_DETAIL_BASE_INT_RANGE_H_
#define QKXDR_DETAIL_BASE_INT_RANGE_H_

#include <cstdint>
#include <limits>
#include <type_traits>

namespace qkxdr::impl {

// Whether integer type T holds v. 64-bit types hold every v: an unsigned one
// takes its two's complement bits.
template <typename T>
constexpr bool HoldsInt(int64_t v) {
  static_assert(std::is_integral_v<T>, "an integer type");
  if constexpr (sizeof(T) == 8) {
    return true;
  } else if constexpr (std::is_signed_v<T>) {
    return v >= (std::numeric_limits<T>::min)() && v <= (std::numeric_limits<T>::max)();
  } else {
    return v >= 0 && static_cast<uint64_t>(v) <= (std::numeric_limits<T>::max)();
  }
}

// Whether every value of integer type T is an int32_t.
template <typename T>
inline constexpr bool kFitsInt32 = sizeof(T) < 4 || (sizeof(T) == 4 && std::is_signed_v<T>);

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_INT_RANGE_H_
