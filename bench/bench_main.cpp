// Google Benchmark over every case, at full size unless --scale=F is given.
// Counters: bytes (size of the encoded form), values (top-level values; a
// record counts as one), per_value (time per value) and bytes_per_second.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <exception>
#include <memory>
#include <vector>

#include "cases.h"
#include "scale.h"

namespace {

// The runner of the case being measured. Only one is alive at a time, so
// that every case starts from a heap that holds the workloads and its own
// runner, not the inputs that earlier cases prepared.
struct Current {
  const bench::Case* c = nullptr;
  std::unique_ptr<bench::Runner> runner;
};

// Prepares the case's runner when the case changes, then measures its Run.
void Measure(benchmark::State& state, const bench::Case& c, double scale, Current& current) {
  const bench::Workload& w = bench::GetWorkload(c.kind, scale);
  if (current.c != &c) {
    current.runner.reset();
    current.c = &c;
    try {
      current.runner = c.make(w);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
  }
  if (!current.runner) {
    state.SkipWithError("case could not be prepared");
    return;
  }
  bench::Runner* runner = current.runner.get();
  for (auto _ : state) benchmark::DoNotOptimize(runner->Run());
  const auto bytes = static_cast<double>(runner->bytes());
  state.counters["bytes"] = bytes;
  state.counters["values"] = static_cast<double>(w.count());
  state.counters["per_value"] = benchmark::Counter(
      static_cast<double>(w.count()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  // Freed memory stays with the process: every library's buffers then grow
  // in memory that is already mapped, whatever ran before, and no case pays
  // for page faults that an earlier one caused or spared it.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, -1);
  const double scale = bench::TakeScale(argc, argv, 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static const std::vector<bench::Case> cases = bench::AllCases();
  static Current current;
  for (const bench::Case& c : cases) {
    benchmark::RegisterBenchmark(c.Name().c_str(), [&c, scale](benchmark::State& state) {
      Measure(state, c, scale, current);
    })->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
