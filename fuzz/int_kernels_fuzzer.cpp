// Every integer kernel this processor runs against the scalar one, on any
// bytes: the first byte chooses how many varints to read (1 to 42, a run's
// most), the rest are read as int32_t and as int64_t, then encoded.

#include "fuzz_support.h"
#include "int_kernel_agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const size_t k = in.Byte() % qkxdr::impl::kMaxRunLength + 1;
  const uint8_t* const e = in.position() + in.left();
  int ran = 0;
  FUZZ_CHECK(int_kernels::Disagreeing<int32_t>(in.position(), e, k, &ran).empty());
  FUZZ_CHECK(int_kernels::Disagreeing<int64_t>(in.position(), e, k, &ran).empty());
  return 0;
}
