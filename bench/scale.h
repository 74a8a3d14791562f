// The --scale flag shared by the benchmark programs.

#ifndef QKXDR_BENCH_SCALE_H_
#define QKXDR_BENCH_SCALE_H_

namespace bench {

// Removes a "--scale=F" argument from argv, if present, and returns F, or
// `absent` without one: the workloads are then made at F times their full
// size.
double TakeScale(int& argc, char** argv, double absent);

}  // namespace bench

#endif  // QKXDR_BENCH_SCALE_H_
