// Google Benchmark over every case, at full size unless --scale=F is given.
// Counters: bytes (size of the encoded form), values (top-level values; a
// record counts as one), per_value (time per value) and bytes_per_second.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <exception>
#include <memory>

#include "cases.h"
#include "scale.h"

namespace {

// Prepares the case's runner on first use, then measures its Run.
void Measure(benchmark::State& state, const bench::Case& c, double scale,
             std::unique_ptr<bench::Runner>& runner) {
  const bench::Workload& w = bench::GetWorkload(c.kind, scale);
  if (!runner) {
    try {
      runner = c.make(w);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
  }
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
  for (const bench::Case& c : bench::AllCases()) {
    auto runner = std::make_shared<std::unique_ptr<bench::Runner>>();
    benchmark::RegisterBenchmark(c.Name().c_str(), [c, scale, runner](benchmark::State& state) {
      Measure(state, c, scale, *runner);
    })->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
