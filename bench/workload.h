// The benchmark workloads: the same values, generated from a fixed seed, for
// every library that is measured.

#ifndef QKXDR_BENCH_WORKLOAD_H_
#define QKXDR_BENCH_WORKLOAD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "QkXDR.h"

namespace bench {

enum class Kind { Ints, Doubles, Strings, Blobs, Records };

// An ASCII string in both widths: UTF-16 for QkXDR and RapidJSON, 8-bit for
// msgpack, whose strings are bytes.
struct Text {
  std::u16string wide;
  std::string narrow;
};

// A blob's bytes and a QkXDR slot viewing them.
struct Blob {
  std::vector<uint8_t> bytes;
  QkXDRBinary slot{};
};

// [int, double, string(16), int64, [int, int, int]]
struct Record {
  int32_t id;
  double score;
  Text name;
  int64_t stamp;
  int32_t triple[3];
};

struct Workload {
  Kind kind;
  std::string name;
  std::vector<int32_t> ints;
  std::vector<double> doubles;
  std::vector<Text> strings;
  std::vector<Blob> blobs;
  std::vector<Record> records;

  // Top-level values: a record counts as one.
  size_t count() const;
  // Whether the workload has a text form (blobs are measured in binary only).
  bool has_text() const { return kind != Kind::Blobs; }
};

// The workload of `kind` at `scale` times its full size (1,000,000 ints,
// 500,000 doubles, 200,000 strings of 8-32 units, 20,000 blobs of 1 KiB,
// 100,000 records). The values depend on nothing but kind and scale. The
// result must not be copied or moved once made: its blob slots view its own
// bytes.
const Workload& GetWorkload(Kind kind, double scale);

constexpr Kind kAllKinds[] = {Kind::Ints, Kind::Doubles, Kind::Strings, Kind::Blobs, Kind::Records};

}  // namespace bench

#endif  // QKXDR_BENCH_WORKLOAD_H_
