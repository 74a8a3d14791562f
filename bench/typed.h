// The typed cases: the workloads as plain C++ values, and runners that encode
// and decode them through one library's typed interface (the QkXDR typed
// layer, msgpack-c's pack and convert, RapidJSON by hand, nlohmann/json,
// cereal; protobuf's generated messages have runners of their own).

#ifndef QKXDR_BENCH_TYPED_H_
#define QKXDR_BENCH_TYPED_H_

#include <msgpack.hpp>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "cases.h"
#include "workload.h"

namespace bench {

// A record of the records workload as its user would declare it, with 8-bit
// (Str = std::string) or UTF-16 (std::u16string) names. msgpack binds it by
// MSGPACK_DEFINE, QkXDR by qkxdr_fields below (which needs no QkXDR header),
// nlohmann/json by to_json and from_json (nlohmann_cases.cpp), cereal by
// serialize (cereal_typed_cases.cpp).
template <typename Str>
struct BasicRecord {
  int32_t id = 0;
  double score = 0;
  Str name;
  int64_t stamp = 0;
  std::array<int32_t, 3> triple{};
  MSGPACK_DEFINE(id, score, name, stamp, triple)
};

template <typename Str>
auto qkxdr_fields(BasicRecord<Str>& r) {
  return std::tie(r.id, r.score, r.name, r.stamp, r.triple);
}
using Record8 = BasicRecord<std::string>;
using Record16 = BasicRecord<std::u16string>;

// Every C++ type a workload takes: one per workload and string width.
using TypedSet = std::tuple<std::vector<int32_t>, std::vector<double>, std::vector<std::string>,
                            std::vector<std::u16string>, std::vector<std::vector<uint8_t>>,
                            std::vector<Record8>, std::vector<Record16>>;

// The values of w in every type of TypedSet, made once per workload and
// kept: a type not of w's kind is empty.
const TypedSet& ValuesOf(const Workload& w);
template <typename T>
const T& TypedValues(const Workload& w) {
  return std::get<T>(ValuesOf(w));
}

// Whether b holds the values of a. Doubles match exactly, or within a
// relative 1e-9 when `rounded`: text forms may write fewer digits.
bool Same(double a, double b, bool rounded);
template <typename T>
bool Same(const T& a, const T& b, bool) {
  return a == b;
}
template <typename Str>
bool Same(const BasicRecord<Str>& a, const BasicRecord<Str>& b, bool rounded) {
  return a.id == b.id && Same(a.score, b.score, rounded) && a.name == b.name &&
         a.stamp == b.stamp && a.triple == b.triple;
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b, bool rounded) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i], b[i], rounded)) return false;
  }
  return true;
}

// One library's typed encoding, for the runners below. A Codec has
//   String          std::string or std::u16string: the strings it takes
//   kBlobs          whether it takes blobs
//   kRounded        whether its doubles come back rounded (see Same)
//   Encoded         what it writes, kept and reused from run to run
//   Encode(v, e)    replaces e with the encoding of v
//   Decode(e, v)    reads e into v, reusing what v holds; true on success.
//                   It may change e's spare room, not its contents.
//   Bytes(e)        the size of e in bytes
template <typename Codec, typename T>
class EncodeRunner final : public Runner {
 public:
  explicit EncodeRunner(const Workload& w) : value_(TypedValues<T>(w)) { bytes_ = Run(); }
  uint64_t Run() override {
    Codec::Encode(value_, out_);
    return Codec::Bytes(out_);
  }

 private:
  const T& value_;
  typename Codec::Encoded out_;
};

// Decodes the codec's own encoding of the workload into one kept object;
// throws unless that gives back the values written.
template <typename Codec, typename T>
class DecodeRunner final : public Runner {
 public:
  explicit DecodeRunner(const Workload& w) {
    const T& values = TypedValues<T>(w);
    Codec::Encode(values, in_);
    bytes_ = Codec::Bytes(in_);
    if (!Codec::Decode(in_, out_) || !Same(values, out_, Codec::kRounded)) {
      throw std::runtime_error("typed decoder did not give back the " + w.name);
    }
  }
  uint64_t Run() override { return Codec::Decode(in_, out_) ? out_.size() : 0; }

 private:
  typename Codec::Encoded in_;
  T out_;
};

template <typename T>
struct TypeTag {
  using type = T;
};

// Calls visit(kind, TypeTag<T>{}) for every workload that Codec takes, with
// T the C++ type of that workload in Codec's string width.
template <typename Codec, typename Visit>
void ForEachWorkload(Visit visit) {
  using Str = typename Codec::String;
  visit(Kind::Ints, TypeTag<std::vector<int32_t>>{});
  visit(Kind::Doubles, TypeTag<std::vector<double>>{});
  visit(Kind::Strings, TypeTag<std::vector<Str>>{});
  if constexpr (Codec::kBlobs) visit(Kind::Blobs, TypeTag<std::vector<std::vector<uint8_t>>>{});
  visit(Kind::Records, TypeTag<std::vector<BasicRecord<Str>>>{});
}

// Adds, for every workload the codec takes, the cases
// "<workload>/typed/<library>/<encode>" and ".../<decode>".
template <typename Codec>
void AddTypedCases(std::vector<Case>& cases, const std::string& library, const std::string& encode,
                   const std::string& decode) {
  ForEachWorkload<Codec>([&](Kind kind, auto tag) {
    using T = typename decltype(tag)::type;
    cases.push_back({kind, "typed/" + library, encode, MakeRunner<EncodeRunner<Codec, T>>});
    cases.push_back({kind, "typed/" + library, decode, MakeRunner<DecodeRunner<Codec, T>>});
  });
}

}  // namespace bench

#endif  // QKXDR_BENCH_TYPED_H_
