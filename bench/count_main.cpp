// Runs one case once, for counting its instructions under callgrind
// (bench/callgrind.sh collects only inside qkxdr_bench_measured_run):
//   qkxdr_count --list               prints every case name
//   qkxdr_count NAME [--scale=F]     prepares NAME at F (default 0.01) times
//                                    full size, runs it once to warm up, once
//                                    measured, and prints the value count

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cases.h"
#include "scale.h"

extern "C" __attribute__((noinline)) uint64_t qkxdr_bench_measured_run(bench::Runner* runner) {
  return runner->Run();
}

int main(int argc, char** argv) {
  const double scale = bench::TakeScale(argc, argv, 0.01);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s --list | NAME [--scale=F]\n", argv[0]);
    return 2;
  }
  const std::string wanted = argv[1];
  for (const bench::Case& c : bench::AllCases()) {
    if (wanted == "--list") {
      std::printf("%s\n", c.Name().c_str());
    } else if (wanted == c.Name()) {
      try {
        const bench::Workload& w = bench::GetWorkload(c.kind, scale);
        auto runner = c.make(w);
        runner->Run();
        const uint64_t digest = qkxdr_bench_measured_run(runner.get());
        std::printf("values %zu bytes %llu digest %llx\n", w.count(),
                    static_cast<unsigned long long>(runner->bytes()),
                    static_cast<unsigned long long>(digest));
        return 0;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", c.Name().c_str(), e.what());
        return 1;
      }
    }
  }
  if (wanted == "--list") return 0;
  std::fprintf(stderr, "no case named %s\n", wanted.c_str());
  return 2;
}
