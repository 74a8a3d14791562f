// Whether a typed decode costs the same a record at any size: from_binary of
// N records of the records workload into std::vector<Record8>, for N from
// 10k to 10M, into a new vector each time and into one kept from run to run.
//
//   qkxdr_record_scale [--keep-heap] [N ...]
//
// prints, for each N, the run with the median CPU time, a record: its CPU
// time in ns (the kernel's, which serves page faults, included), the
// kernel's part, and the page faults. A new vector's destruction is timed
// apart ("free"); "reserved" is a new vector given room for N records
// first, its destruction included. --keep-heap keeps freed memory mapped, as qkxdr_bench does
// (bench_main.cpp).

#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "qkxdr/typed.hpp"
#include "typed.h"

namespace {

using Records = std::vector<bench::Record8>;

// CPU time of the process in ns, the kernel's included, and the kernel's
// share and the page faults so far.
struct Usage {
  double cpu = 0;
  double kernel = 0;
  double faults = 0;

  static Usage Now() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {static_cast<double>(cpu.tv_sec) * 1e9 + static_cast<double>(cpu.tv_nsec),
            static_cast<double>(usage.ru_stime.tv_sec) * 1e9 +
                static_cast<double>(usage.ru_stime.tv_usec) * 1e3,
            static_cast<double>(usage.ru_minflt)};
  }
  Usage Since(const Usage& before, double records) const {
    return {(cpu - before.cpu) / records, (kernel - before.kernel) / records,
            (faults - before.faults) / records};
  }
};

// The run with the median CPU time.
Usage Median(std::vector<Usage> runs) {
  std::sort(runs.begin(), runs.end(), [](const Usage& a, const Usage& b) { return a.cpu < b.cpu; });
  return runs[runs.size() / 2];
}

struct Figures {
  Usage fresh;     // decoding into a new vector
  Usage destroy;   // destroying that vector
  Usage reserved;  // decoding into a new vector reserved for n records
  Usage reused;    // decoding into a kept vector
};

void Decode(const std::vector<uint8_t>& in, Records& out) {
  if (!qkxdr::from_binary(in, out)) {
    std::fprintf(stderr, "from_binary failed\n");
    std::exit(1);
  }
}

Figures Measure(const std::vector<uint8_t>& in, size_t n, int runs) {
  const auto records = static_cast<double>(n);
  std::vector<Usage> fresh, destroy, reserved, reused;
  for (int i = 0; i < runs; ++i) {
    const Usage start = Usage::Now();
    auto out = std::make_unique<Records>();
    Decode(in, *out);
    const Usage decoded = Usage::Now();
    out.reset();
    fresh.push_back(decoded.Since(start, records));
    destroy.push_back(Usage::Now().Since(decoded, records));
  }
  for (int i = 0; i < runs; ++i) {
    const Usage start = Usage::Now();
    Records out;
    out.reserve(n);
    Decode(in, out);
    reserved.push_back(Usage::Now().Since(start, records));
  }
  Records kept;
  Decode(in, kept);
  for (int i = 0; i < runs; ++i) {
    const Usage start = Usage::Now();
    Decode(in, kept);
    reused.push_back(Usage::Now().Since(start, records));
  }
  return {Median(fresh), Median(destroy), Median(reserved), Median(reused)};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep-heap") == 0) {
      mallopt(M_MMAP_THRESHOLD, 1 << 30);
      mallopt(M_TRIM_THRESHOLD, -1);
    } else {
      sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    }
  }
  if (sizes.empty()) sizes = {10000, 100000, 1000000, 10000000};
  std::printf("%10s %10s %10s %10s %10s %10s %10s %10s\n", "records", "new ns", "kernel ns",
              "faults", "free ns", "reserved", "kept ns", "faults");
  for (size_t n : sizes) {
    std::vector<uint8_t> in;
    {
      const bench::Workload& w = bench::GetWorkload(bench::Kind::Records, n / 100000.0);
      in = qkxdr::to_binary(bench::TypedValues<Records>(w)).value();
    }
    // At least 30M records decoded in all, and 5 runs, for each way.
    const int runs = static_cast<int>(std::max<size_t>(5, 30000000 / n));
    const Figures f = Measure(in, n, runs);
    std::printf("%10zu %10.1f %10.1f %10.4f %10.1f %10.1f %10.1f %10.4f\n", n, f.fresh.cpu,
                f.fresh.kernel, f.fresh.faults, f.destroy.cpu, f.reserved.cpu, f.reused.cpu,
                f.reused.faults);
    std::fflush(stdout);
  }
  return 0;
}
