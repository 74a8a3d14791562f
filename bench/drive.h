// Walks a workload in order for writers (Emit) and pull readers (Consume), and
// tallies what readers deliver so that every reader can be checked against
// the values written.

#ifndef QKXDR_BENCH_DRIVE_H_
#define QKXDR_BENCH_DRIVE_H_

#include <cstdint>
#include <cstring>

#include "workload.h"

namespace bench {

// What a reader delivered. `exact` sums what every faithful reader agrees on:
// the low 32 bits of each integer (all that QkXDRTextParse hands out of a
// 64-bit one), and each string's and blob's length, first and last unit.
// Doubles go into `loose` only, since text forms round differently; array
// markers too, since some formats need a bracket around the top level.
struct Tally {
  uint64_t exact = 0;
  uint64_t loose = 0;

  void Int(int64_t v) { Mix(static_cast<uint32_t>(v)); }
  void Double(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    loose += bits;
  }
  template <typename Unit>
  void Units(const Unit* p, size_t n) {
    Mix(n);
    if (n != 0) Mix(static_cast<uint64_t>(p[0]) << 16 | static_cast<uint64_t>(p[n - 1]));
  }
  void Marker() { ++loose; }

 private:
  void Mix(uint64_t v) { exact = (exact ^ v) * 0x100000001B3; }
};

// Calls the sink's writes for every value of w, in order. Sinks take
// BeginTop(n) and EndTop() around the whole workload, and BeginArray(n) with
// the element count, for formats that need them.
template <typename Sink>
void Emit(const Workload& w, Sink& sink) {
  sink.BeginTop(w.count());
  switch (w.kind) {
    case Kind::Ints:
      for (int32_t v : w.ints) sink.Int(v);
      break;
    case Kind::Doubles:
      for (double v : w.doubles) sink.Double(v);
      break;
    case Kind::Strings:
      for (const Text& s : w.strings) sink.String(s);
      break;
    case Kind::Blobs:
      for (const Blob& b : w.blobs) sink.Binary(b);
      break;
    case Kind::Records:
      for (const Record& r : w.records) {
        sink.BeginArray(5);
        sink.Int(r.id);
        sink.Double(r.score);
        sink.String(r.name);
        sink.Int64(r.stamp);
        sink.BeginArray(3);
        for (int32_t v : r.triple) sink.Int(v);
        sink.EndArray();
        sink.EndArray();
      }
      break;
  }
  sink.EndTop();
}

// Reads the values of w back in order from a pull source, which knows the
// layout as its caller would, and tallies them. The source's reads report
// into the tally.
template <typename Source>
void Consume(const Workload& w, Source& source, Tally& tally) {
  source.BeginTop();
  switch (w.kind) {
    case Kind::Ints:
      for (size_t i = w.ints.size(); i > 0; --i) source.Int(tally);
      break;
    case Kind::Doubles:
      for (size_t i = w.doubles.size(); i > 0; --i) source.Double(tally);
      break;
    case Kind::Strings:
      for (size_t i = w.strings.size(); i > 0; --i) source.String(tally);
      break;
    case Kind::Blobs:
      for (size_t i = w.blobs.size(); i > 0; --i) source.Binary(tally);
      break;
    case Kind::Records:
      for (size_t i = w.records.size(); i > 0; --i) {
        source.BeginArray(tally);
        source.Int(tally);
        source.Double(tally);
        source.String(tally);
        source.Int64(tally);
        source.BeginArray(tally);
        for (int k = 0; k < 3; ++k) source.Int(tally);
        source.EndArray(tally);
        source.EndArray(tally);
      }
      break;
  }
  source.EndTop();
}

// The tally of the values as written: what every reader must deliver.
class TallySink {
 public:
  explicit TallySink(Tally& tally) : tally_(tally) {}
  void BeginTop(size_t) {}
  void EndTop() {}
  void Int(int32_t v) { tally_.Int(v); }
  void Int64(int64_t v) { tally_.Int(v); }
  void Double(double v) { tally_.Double(v); }
  void String(const Text& s) { tally_.Units(s.wide.data(), s.wide.size()); }
  void Binary(const Blob& b) { tally_.Units(b.bytes.data(), b.bytes.size()); }
  void BeginArray(size_t) { tally_.Marker(); }
  void EndArray() { tally_.Marker(); }

 private:
  Tally& tally_;
};

}  // namespace bench

#endif  // QKXDR_BENCH_DRIVE_H_
