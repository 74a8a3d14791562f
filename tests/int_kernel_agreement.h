// Every integer kernel that this processor runs, held to the scalar one on
// the same input: shared by the unit test and the int_kernels fuzz target.

#ifndef QKXDR_TESTS_INT_KERNEL_AGREEMENT_H_
#define QKXDR_TESTS_INT_KERNEL_AGREEMENT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qkxdr/detail/binary/int_kernels.h"
#include "qkxdr/detail/binary/run_state.h"

namespace int_kernels {

using qkxdr::impl::IntKernel;

inline constexpr IntKernel kAll[] = {IntKernel::scalar, IntKernel::sse2, IntKernel::avx2,
                                     IntKernel::avx2_bmi2};

inline std::string Name(IntKernel kernel) {
  static const char* const kNames[] = {"scalar", "sse2", "avx2", "avx2_bmi2"};
  return kNames[static_cast<int>(kernel)];
}

// What a kernel made of the input: the values it decoded, where it stopped,
// and the bytes it encodes the values to.
template <typename T>
struct Outcome {
  std::vector<T> values;
  size_t used = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const Outcome& o) const {
    return values == o.values && used == o.used && bytes == o.bytes;
  }
};

// Decodes up to k varints of [p, e) as T, then encodes the values decoded
// followed by the input's bytes taken as T (up to k in all).
template <typename T>
Outcome<T> Run(IntKernel kernel, const uint8_t* p, const uint8_t* e, size_t k) {
  Outcome<T> o;
  o.values.resize(k);
  const uint8_t* at = p;
  o.values.resize(qkxdr::impl::GetInts(kernel, &at, e, o.values.data(), k));
  o.used = static_cast<size_t>(at - p);
  std::vector<T> encoded = o.values;
  for (const uint8_t* q = p; encoded.size() < k && e - q >= static_cast<ptrdiff_t>(sizeof(T));
       q += sizeof(T)) {
    T v;
    std::memcpy(&v, q, sizeof v);
    encoded.push_back(v);
  }
  o.bytes.resize(encoded.size() * qkxdr::impl::kMaxVarint64);
  const uint8_t* end = qkxdr::impl::PutInts(kernel, encoded.data(), encoded.size(), o.bytes.data());
  o.bytes.resize(static_cast<size_t>(end - o.bytes.data()));
  return o;
}

// The first kernel whose outcome on the input differs from the scalar
// kernel's, by name, or "" when all agree; *ran counts the kernels run.
template <typename T>
std::string Disagreeing(const uint8_t* p, const uint8_t* e, size_t k, int* ran) {
  const Outcome<T> reference = Run<T>(IntKernel::scalar, p, e, k);
  for (const IntKernel kernel : kAll) {
    if (!qkxdr::impl::IntKernelRuns(kernel)) continue;
    ++*ran;
    if (!(Run<T>(kernel, p, e, k) == reference)) return Name(kernel);
  }
  return "";
}

}  // namespace int_kernels

#endif  // QKXDR_TESTS_INT_KERNEL_AGREEMENT_H_
