// What a typed read of hostile data holds: the worst type we know how to
// build, a vector of 4 KiB records, read from an array of empty arrays (2
// bytes each, so 2,048 bytes of values a byte of input). Prints the outcome
// and the process's peak resident memory for one input size and budget;
// bench/typed_memory.sh runs the table of docs/robustness.md.
// Usage: qkxdr_typed_memory <MiB of input> [memory_per_unit]

#include <sys/resource.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "qkxdr/typed.hpp"

namespace {

struct Big {
  std::array<std::int32_t, 1024> a{};
  QKXDR_FIELDS(a)
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::size_t size = std::strtoul(argv[1], nullptr, 10) << 20;
  qkxdr::ReadLimits limits;
  if (argc > 2) limits.memory_per_unit = std::strtoul(argv[2], nullptr, 10);
  std::vector<std::uint8_t> in = {0x00};
  while (in.size() + 3 <= size) in.insert(in.end(), {0x00, 0x2A});
  in.push_back(0x2A);
  const qkxdr::Result<std::vector<Big>> read = qkxdr::from_binary<std::vector<Big>>(in, limits);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%zu bytes, budget %zu: %s, peak %ld MiB\n", in.size(), limits.budget(in.size()),
              read ? "read" : read.error().message().c_str(), usage.ru_maxrss / 1024);
  return 0;
}
