// Runs of numbers at the limit of the format: 1M int32 values of three
// mixes (every varint one byte; one, two and three bytes mixed; random 32-bit
// values, mostly five) and 1M doubles, through the typed layer into a reused
// output, through each integer kernel alone, and memcpy of the encoded bytes.
// Prints ns a value as a Google Benchmark counter (docs/performance.md).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qkxdr/detail/binary/int_kernels.h"
#include "qkxdr/detail/binary/run_state.h"
#include "qkxdr/typed.hpp"

namespace {

using qkxdr::impl::IntKernel;

constexpr size_t kValues = 1 << 20;

// A value whose zigzag varint takes `bytes` bytes.
int32_t OfLength(std::mt19937_64& rng, int bytes) {
  const uint32_t low = bytes == 1 ? 0 : uint32_t{1} << (7 * (bytes - 1));
  const uint32_t high = (uint32_t{1} << (7 * bytes)) - 1;
  return qkxdr::impl::UnZigZag32(std::uniform_int_distribution<uint32_t>(low, high)(rng));
}

std::vector<int32_t> Ints(int mix) {
  std::mt19937_64 rng(42);
  std::vector<int32_t> v(kValues);
  for (int32_t& x : v) {
    if (mix == 0) x = OfLength(rng, 1);
    if (mix == 1) x = OfLength(rng, static_cast<int>(rng() % 3) + 1);
    if (mix == 2) x = static_cast<int32_t>(static_cast<uint32_t>(rng()));
  }
  return v;
}

std::vector<double> Doubles() {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> d(-1e6, 1e6);
  std::vector<double> v(kValues);
  for (double& x : v) x = d(rng);
  return v;
}

const char* const kMixes[] = {"one-byte", "mixed-1-3", "random-32"};

void PerValue(benchmark::State& state, size_t values) {
  state.counters["ns/value"] = benchmark::Counter(
      static_cast<double>(values) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <typename T>
void Decode(benchmark::State& state, const std::vector<T>& values) {
  const std::vector<uint8_t> bytes = qkxdr::to_binary(values).value();
  std::vector<T> out(values.size());
  for (auto _ : state) {
    if (!qkxdr::from_binary(bytes, out)) state.SkipWithError("not read");
    benchmark::DoNotOptimize(out.data());
  }
  if (out != values) state.SkipWithError("read differs");
  PerValue(state, values.size());
}

template <typename T>
void Encode(benchmark::State& state, const std::vector<T>& values) {
  std::vector<uint8_t> out;
  for (auto _ : state) {
    qkxdr::to_binary(values, out).value();
    benchmark::DoNotOptimize(out.data());
  }
  PerValue(state, values.size());
}

template <typename T>
void Copy(benchmark::State& state, const std::vector<T>& values) {
  const std::vector<uint8_t> bytes = qkxdr::to_binary(values).value();
  std::vector<uint8_t> out(bytes.size());
  for (auto _ : state) {
    std::memcpy(out.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.data());
  }
  PerValue(state, values.size());
}

// One kernel alone over the runs of the encoded array, its tag bytes
// stepped over here.
void KernelDecode(benchmark::State& state, const std::vector<int32_t>& values, IntKernel kernel) {
  std::vector<uint8_t> bytes = qkxdr::to_binary(values).value();
  bytes.resize(bytes.size() + qkxdr::impl::kWordSize);  // every run then read whole
  std::vector<int32_t> out(values.size());
  for (auto _ : state) {
    const uint8_t* p = bytes.data() + 1;  // after the array's opening
    const uint8_t* const e = bytes.data() + bytes.size();
    for (size_t done = 0; done < out.size();) {
      const size_t run = *p++ % qkxdr::impl::kMaxRunLength + 1;
      if (qkxdr::impl::GetInts(kernel, &p, e, out.data() + done, run) != run) {
        state.SkipWithError("a run not read whole");
        return;
      }
      done += run;
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out != values) state.SkipWithError("read differs");
  PerValue(state, values.size());
}

void KernelEncode(benchmark::State& state, const std::vector<int32_t>& values, IntKernel kernel) {
  std::vector<uint8_t> out(values.size() * qkxdr::impl::kMaxVarint64);
  for (auto _ : state) {
    uint8_t* p = out.data();
    for (size_t done = 0; done < values.size(); done += qkxdr::impl::kMaxRunLength) {
      const size_t run = std::min<size_t>(qkxdr::impl::kMaxRunLength, values.size() - done);
      *p++ = 0;
      p = qkxdr::impl::PutInts(kernel, values.data() + done, run, p);
    }
    benchmark::DoNotOptimize(out.data());
  }
  PerValue(state, values.size());
}

const char* const kKernelNames[] = {"scalar", "sse2", "avx2", "avx2_bmi2"};

void Register() {
  static std::vector<int32_t> ints[3];
  for (int mix = 0; mix < 3; ++mix) {
    ints[mix] = Ints(mix);
    const std::string name = std::string("int32/") + kMixes[mix];
    const std::vector<int32_t>& v = ints[mix];
    benchmark::RegisterBenchmark((name + "/decode").c_str(), Decode<int32_t>, v);
    benchmark::RegisterBenchmark((name + "/encode").c_str(), Encode<int32_t>, v);
    benchmark::RegisterBenchmark((name + "/memcpy").c_str(), Copy<int32_t>, v);
    for (int k = 0; k < 4; ++k) {
      const auto kernel = static_cast<IntKernel>(k);
      if (!qkxdr::impl::IntKernelRuns(kernel)) continue;
      const std::string kname = name + "/kernel-" + kKernelNames[k];
      benchmark::RegisterBenchmark((kname + "/decode").c_str(), KernelDecode, v, kernel);
      benchmark::RegisterBenchmark((kname + "/encode").c_str(), KernelEncode, v, kernel);
    }
  }
  static const std::vector<double> doubles = Doubles();
  benchmark::RegisterBenchmark("double/decode", Decode<double>, doubles);
  benchmark::RegisterBenchmark("double/encode", Encode<double>, doubles);
  benchmark::RegisterBenchmark("double/memcpy", Copy<double>, doubles);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
