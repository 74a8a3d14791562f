// The floor of the binary format: loops that write and read exactly the
// bytes of qkxdr::to_binary for a vector of ints, doubles or records, doing
// only what the format asks of every encoder and decoder (the tag byte of
// each run, each value's payload) with no checks, no growth and no calls.
// They know the workload's layout, so each run's length is known before it
// is written. Varints and string units go through the library's own
// word-at-a-time and SSE2 routines; a run of doubles is one memcpy.
// Preparing the cases checks the bytes against to_binary's and the values
// read against the workload's.

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "qkxdr/detail/binary/coding.h"
#include "qkxdr/detail/binary/run_state.h"
#include "qkxdr/detail/binary/unit_varints.h"
#include "qkxdr/detail/binary/varint_word.h"
#include "qkxdr/typed.hpp"
#include "typed.h"

namespace bench {
namespace {

namespace impl = qkxdr::impl;
using impl::kMaxRunLength;
using impl::WireType;

constexpr uint8_t Tag(WireType type, size_t n) {
  return static_cast<uint8_t>(static_cast<size_t>(type) * kMaxRunLength + n - 1);
}

// Writes the zigzag varint of v, in the width of its type.
template <typename T>
uint8_t* PutInt(uint8_t* p, T v) {
  if constexpr (sizeof(T) <= 4) {
    return impl::PutVarintInRoom(p, impl::ZigZag32(v));
  } else {
    return impl::PutVarintInRoom(p, impl::ZigZag64(v));
  }
}

// Reads the varint, or the zigzag varint, at p, which has eight readable
// bytes after it.
const uint8_t* GetVarint(const uint8_t* p, uint64_t* v) {
  const uint8_t* after = impl::GetVarintWord(p, v);
  return after != nullptr ? after : impl::GetVarint64(p, p + impl::kMaxVarint64, v);
}
template <typename T>
const uint8_t* GetInt(const uint8_t* p, T* v) {
  uint64_t x = 0;
  p = GetVarint(p, &x);
  *v = static_cast<T>(impl::UnZigZag64(x));
  return p;
}

// A vector of ints or doubles: runs of 42 values after the array's start.
template <typename T>
struct ScalarFloor {
  using Value = T;
  static constexpr bool kInts = std::is_integral_v<T>;
  static constexpr WireType kType = kInts ? WireType::Int : WireType::Double;

  static size_t Room(const std::vector<T>& values) {
    return 2 + values.size() * (1 + impl::kMaxVarint64) + 8;
  }
  static uint8_t* Encode(const std::vector<T>& values, uint8_t* p) {
    *p++ = Tag(WireType::ArrayBegin, 1);
    for (size_t i = 0; i < values.size(); i += kMaxRunLength) {
      const size_t n = std::min<size_t>(kMaxRunLength, values.size() - i);
      *p++ = Tag(kType, n);
      p = PutRun(p, values.data() + i, n);
    }
    *p++ = Tag(WireType::ArrayEnd, 1);
    return p;
  }
  static void Decode(const uint8_t* p, std::vector<T>& out) {
    ++p;  // the array's start
    for (size_t i = 0; i < out.size(); i += kMaxRunLength) {
      const size_t n = *p++ % kMaxRunLength + 1;
      p = GetRun(p, out.data() + i, n);
    }
  }

 private:
  static uint8_t* PutRun(uint8_t* p, const T* v, size_t n) {
    if constexpr (kInts) {
      for (size_t i = 0; i < n; ++i) p = PutInt(p, v[i]);
      return p;
    } else {
      std::memcpy(p, v, n * sizeof(T));
      return p + n * sizeof(T);
    }
  }
  static const uint8_t* GetRun(const uint8_t* p, T* v, size_t n) {
    if constexpr (kInts) {
      for (size_t i = 0; i < n; ++i) p = GetInt(p, v + i);
      return p;
    } else {
      std::memcpy(v, p, n * sizeof(T));
      return p + n * sizeof(T);
    }
  }
};

// A vector of records: within a record every value but the triple's opens a
// run of its own; the end of one record and the start of the next are runs
// of two closings and one opening.
struct RecordFloor {
  using Value = Record8;

  static size_t Room(const std::vector<Record8>& values) {
    size_t room = 8;
    for (const Record8& r : values) room += 64 + 2 * r.name.size();
    return room;
  }
  static uint8_t* Encode(const std::vector<Record8>& values, uint8_t* p) {
    for (size_t i = 0; i < values.size(); ++i) {
      *p++ = Tag(WireType::ArrayBegin, i == 0 ? 2 : 1);
      p = Put(p, values[i]);
      *p++ = Tag(WireType::ArrayEnd, i + 1 == values.size() ? 3 : 2);
    }
    return p;
  }
  static void Decode(const uint8_t* p, std::vector<Record8>& out) {
    for (Record8& r : out) p = Get(p + 1, r) + 1;
  }

 private:
  static uint8_t* Put(uint8_t* p, const Record8& r) {
    *p++ = Tag(WireType::Int, 1);
    p = PutInt(p, r.id);
    *p++ = Tag(WireType::Double, 1);
    p = impl::PutDouble(p, r.score);
    *p++ = Tag(WireType::String, 1);
    p = impl::PutVarint32(p, static_cast<uint32_t>(r.name.size()));
    p = impl::PutUnitVarints(r.name.data(), r.name.size(), p);
    *p++ = Tag(WireType::Int, 1);
    p = PutInt(p, r.stamp);
    *p++ = Tag(WireType::ArrayBegin, 1);
    *p++ = Tag(WireType::Int, 3);
    for (int32_t v : r.triple) p = PutInt(p, v);
    return p;
  }
  static const uint8_t* Get(const uint8_t* p, Record8& r) {
    p = GetInt(p + 1, &r.id);
    std::memcpy(&r.score, p + 1, sizeof r.score);
    uint64_t n = 0;
    p = GetVarint(p + 1 + sizeof r.score + 1, &n);
    r.name.resize(n);
    p = impl::GetUnitVarints(p, p + 2 * n, reinterpret_cast<uint8_t*>(r.name.data()),
                             static_cast<uint32_t>(n));
    p = GetInt(p + 1, &r.stamp);
    p += 2;  // the triple's start, its run of three ints
    for (int32_t& v : r.triple) p = GetInt(p, &v);
    return p;
  }
};

template <typename Floor>
using Values = std::vector<typename Floor::Value>;

template <typename Floor>
class EncodeFloor final : public Runner {
 public:
  explicit EncodeFloor(const Workload& w)
      : values_(TypedValues<Values<Floor>>(w)), out_(Floor::Room(values_)) {
    bytes_ = Run();
    if (qkxdr::to_binary(values_).value() !=
        std::vector<uint8_t>(out_.begin(), out_.begin() + bytes_)) {
      throw std::runtime_error("the format floor does not write what to_binary writes");
    }
  }
  uint64_t Run() override { return Floor::Encode(values_, out_.data()) - out_.data(); }

 private:
  const Values<Floor>& values_;
  std::vector<uint8_t> out_;
};

template <typename Floor>
class DecodeFloor final : public Runner {
 public:
  explicit DecodeFloor(const Workload& w) {
    const Values<Floor>& values = TypedValues<Values<Floor>>(w);
    in_.resize(Floor::Room(values));
    bytes_ = Floor::Encode(values, in_.data()) - in_.data();
    out_.resize(values.size());
    Run();
    if (!Same(values, out_, false)) {
      throw std::runtime_error("the format floor does not read back the " + w.name);
    }
  }
  uint64_t Run() override {
    Floor::Decode(in_.data(), out_);
    return out_.size();
  }

 private:
  std::vector<uint8_t> in_;
  Values<Floor> out_;
};

template <typename Floor>
void AddFloor(std::vector<Case>& cases, Kind kind) {
  cases.push_back({kind, "typed/floor", "encode", MakeRunner<EncodeFloor<Floor>>});
  cases.push_back({kind, "typed/floor", "decode", MakeRunner<DecodeFloor<Floor>>});
}

}  // namespace

void AddFormatFloorCases(std::vector<Case>& cases) {
  AddFloor<ScalarFloor<int32_t>>(cases, Kind::Ints);
  AddFloor<ScalarFloor<double>>(cases, Kind::Doubles);
  AddFloor<RecordFloor>(cases, Kind::Records);
}

}  // namespace bench
