// protobuf on the typed values, as its users hold them: in the generated
// message classes of typed_values.proto, one message a workload. The encoder
// is SerializeToString of a message filled once, into a kept std::string;
// the decoder is ParseFromString into a kept message, protobuf's own advice
// for repeated parsing: Clear keeps the repeated fields' storage, and the
// string and message elements, for the next parse to reuse. No arena is used.
// The message is filled from, and checked once against, the same C++ values
// as the other libraries take; copying between the two is not timed.

#include <algorithm>
#include <stdexcept>

#include "typed.h"
#include "typed_values.pb.h"

namespace bench {
namespace {

template <typename T>
struct MessageFor;
template <>
struct MessageFor<std::vector<int32_t>> {
  using type = qkxdr_bench::Ints;
};
template <>
struct MessageFor<std::vector<double>> {
  using type = qkxdr_bench::Doubles;
};
template <>
struct MessageFor<std::vector<std::string>> {
  using type = qkxdr_bench::Strings;
};
template <>
struct MessageFor<std::vector<std::vector<uint8_t>>> {
  using type = qkxdr_bench::Blobs;
};
template <>
struct MessageFor<std::vector<Record8>> {
  using type = qkxdr_bench::Records;
};
template <typename T>
using Message = typename MessageFor<T>::type;

void Add(qkxdr_bench::Ints& m, int32_t v) { m.add_values(v); }
void Add(qkxdr_bench::Doubles& m, double v) { m.add_values(v); }
void Add(qkxdr_bench::Strings& m, const std::string& s) { m.add_values(s); }
void Add(qkxdr_bench::Blobs& m, const std::vector<uint8_t>& b) { m.add_values(b.data(), b.size()); }
void Add(qkxdr_bench::Records& m, const Record8& r) {
  qkxdr_bench::Record& record = *m.add_values();
  record.set_id(r.id);
  record.set_score(r.score);
  record.set_name(r.name);
  record.set_stamp(r.stamp);
  for (int32_t v : r.triple) record.add_triple(v);
}

bool Equal(int32_t a, int32_t b) { return a == b; }
bool Equal(double a, double b) { return a == b; }
bool Equal(const std::string& a, const std::string& b) { return a == b; }
bool Equal(const std::string& a, const std::vector<uint8_t>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, uint8_t y) { return static_cast<uint8_t>(x) == y; });
}
bool Equal(const qkxdr_bench::Record& a, const Record8& b) {
  return a.id() == b.id && a.score() == b.score && a.name() == b.name && a.stamp() == b.stamp &&
         std::equal(a.triple().begin(), a.triple().end(), b.triple.begin(), b.triple.end());
}

template <typename T>
void Fill(const T& values, Message<T>& m) {
  for (const auto& v : values) Add(m, v);
}
template <typename T>
bool Holds(const Message<T>& m, const T& values) {
  if (static_cast<size_t>(m.values_size()) != values.size()) return false;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!Equal(m.values(static_cast<int>(i)), values[i])) return false;
  }
  return true;
}

template <typename T>
class SerializeRunner final : public Runner {
 public:
  explicit SerializeRunner(const Workload& w) {
    Fill(TypedValues<T>(w), message_);
    bytes_ = Run();
  }
  uint64_t Run() override {
    if (!message_.SerializeToString(&out_)) throw std::runtime_error("protobuf did not serialize");
    return out_.size();
  }

 private:
  Message<T> message_;
  std::string out_;
};

// Parses into one kept message; throws unless the first parse gives back the
// values written.
template <typename T>
class ParseRunner final : public Runner {
 public:
  explicit ParseRunner(const Workload& w) {
    const T& values = TypedValues<T>(w);
    Message<T> source;
    Fill(values, source);
    source.SerializeToString(&in_);
    bytes_ = in_.size();
    if (!message_.ParseFromString(in_) || !Holds(message_, values)) {
      throw std::runtime_error("protobuf did not give back the " + w.name);
    }
  }
  uint64_t Run() override {
    return message_.ParseFromString(in_) ? static_cast<uint64_t>(message_.values_size()) : 0;
  }

 private:
  std::string in_;
  Message<T> message_;
};

// The workloads protobuf takes: all five, with 8-bit strings.
struct ProtobufTypes {
  using String = std::string;
  static constexpr bool kBlobs = true;
};

}  // namespace

void AddProtobufTypedCases(std::vector<Case>& cases) {
  ForEachWorkload<ProtobufTypes>([&](Kind kind, auto tag) {
    using T = typename decltype(tag)::type;
    cases.push_back({kind, "typed/protobuf", "serialize", MakeRunner<SerializeRunner<T>>});
    cases.push_back({kind, "typed/protobuf", "parse", MakeRunner<ParseRunner<T>>});
  });
}

}  // namespace bench
