#include "workload.h"

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <utility>

namespace bench {
namespace {

// Deterministic everywhere: mt19937_64's output is fixed by the standard, and
// the mappings below use only integer arithmetic and exact scalings.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  uint64_t Next() { return engine_(); }
  // Uniform in [low, high].
  int64_t Between(int64_t low, int64_t high) {
    const uint64_t span = static_cast<uint64_t>(high - low) + 1;
    return low + static_cast<int64_t>(Next() % span);
  }
  // Uniform in [-magnitude, magnitude), with 53 random bits.
  double Real(double magnitude) {
    const double unit = static_cast<double>(Next() >> 11) * 0x1p-53;
    return (2 * unit - 1) * magnitude;
  }

 private:
  std::mt19937_64 engine_;
};

constexpr char kAlphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-.,:;/";

// Each string is allocated once, at its final size, as strings read from a
// file would be; growing them unit by unit would scatter them over the heap.
Text MakeText(Random& random, size_t length) {
  Text text;
  text.narrow.resize(length);
  for (char& c : text.narrow) c = kAlphabet[random.Next() % (sizeof kAlphabet - 1)];
  text.wide.assign(text.narrow.begin(), text.narrow.end());
  return text;
}

// Half small (one byte in either binary format), three in ten medium, the
// rest anywhere in the 32-bit range.
int32_t MakeInt(Random& random) {
  const uint64_t bucket = random.Next() % 10;
  if (bucket < 5) return static_cast<int32_t>(random.Between(-32, 63));
  if (bucket < 8) return static_cast<int32_t>(random.Between(-100000, 100000));
  return static_cast<int32_t>(static_cast<uint32_t>(random.Next()));
}

size_t Scaled(size_t full, double scale) {
  const auto n = static_cast<size_t>(std::llround(static_cast<double>(full) * scale));
  return n == 0 ? 1 : n;
}

void Fill(Workload& w, double scale) {
  Random random(0x51CE5EED + static_cast<uint64_t>(w.kind));
  switch (w.kind) {
    case Kind::Ints:
      w.name = "ints";
      for (size_t i = Scaled(1000000, scale); i > 0; --i) w.ints.push_back(MakeInt(random));
      break;
    case Kind::Doubles:
      w.name = "doubles";
      for (size_t i = Scaled(500000, scale); i > 0; --i) w.doubles.push_back(random.Real(1e6));
      break;
    case Kind::Strings:
      w.name = "strings";
      for (size_t i = Scaled(200000, scale); i > 0; --i) {
        w.strings.push_back(MakeText(random, static_cast<size_t>(random.Between(8, 32))));
      }
      break;
    case Kind::Blobs:
      w.name = "blobs";
      w.blobs.resize(Scaled(20000, scale));
      for (Blob& blob : w.blobs) {
        for (size_t i = 0; i < 1024; ++i) blob.bytes.push_back(static_cast<uint8_t>(random.Next()));
        QkXDRBinaryAttach(&blob.slot, blob.bytes.data(), static_cast<uint32_t>(blob.bytes.size()));
      }
      break;
    case Kind::Records:
      w.name = "records";
      for (size_t i = Scaled(100000, scale); i > 0; --i) {
        Record r;
        r.id = static_cast<int32_t>(random.Between(0, 10000000));
        r.score = random.Real(1000);
        r.name = MakeText(random, 16);
        r.stamp = 1600000000000 + random.Between(0, 100000000000);
        for (int32_t& v : r.triple) v = static_cast<int32_t>(random.Between(0, 63));
        w.records.push_back(std::move(r));
      }
      break;
  }
}

}  // namespace

size_t Workload::count() const {
  switch (kind) {
    case Kind::Ints:
      return ints.size();
    case Kind::Doubles:
      return doubles.size();
    case Kind::Strings:
      return strings.size();
    case Kind::Blobs:
      return blobs.size();
    case Kind::Records:
      return records.size();
  }
  return 0;
}

const Workload& GetWorkload(Kind kind, double scale) {
  static std::map<std::pair<Kind, double>, std::unique_ptr<Workload>> made;
  std::unique_ptr<Workload>& w = made[{kind, scale}];
  if (!w) {
    w = std::make_unique<Workload>();
    w->kind = kind;
    Fill(*w, scale);
  }
  return *w;
}

}  // namespace bench
