#include "cases.h"

#include <cstring>
#include <stdexcept>

namespace bench {
namespace {

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Ints:
      return "ints";
    case Kind::Doubles:
      return "doubles";
    case Kind::Strings:
      return "strings";
    case Kind::Blobs:
      return "blobs";
    case Kind::Records:
      return "records";
  }
  return "?";
}

class MemcpyRunner final : public Runner {
 public:
  explicit MemcpyRunner(size_t n) : from_(n, 0x5A), to_(n) { bytes_ = n; }
  uint64_t Run() override {
    std::memcpy(to_.data(), from_.data(), from_.size());
    return to_.back();
  }

 private:
  std::vector<uint8_t> from_;
  std::vector<uint8_t> to_;
};

void AddMemcpyCases(std::vector<Case>& cases) {
  for (Kind kind : kAllKinds) {
    cases.push_back({kind, "memcpy", "binary-size",
                     [](const Workload& w) { return MakeMemcpyRunner(QkxdrBinary(w).size()); }});
    if (kind == Kind::Blobs) continue;
    cases.push_back({kind, "memcpy", "text-size",
                     [](const Workload& w) { return MakeMemcpyRunner(QkxdrText(w).size() * 2); }});
  }
}

}  // namespace

std::unique_ptr<Runner> MakeMemcpyRunner(size_t bytes) {
  return std::make_unique<MemcpyRunner>(bytes);
}

std::string Case::Name() const {
  return std::string(KindName(kind)) + "/" + library + "/" + operation;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  AddQkxdrCases(cases);
  AddMsgpackCases(cases);
  AddRapidjsonCases(cases);
  AddMemcpyCases(cases);
  AddQkxdrTypedCases(cases);
  AddMsgpackTypedCases(cases);
  AddRapidjsonTypedCases(cases);
  AddNlohmannCases(cases);
  AddCerealTypedCases(cases);
  AddProtobufTypedCases(cases);
  AddFormatFloorCases(cases);
  AddStreamCases(cases);
  AddJsonCases(cases);
  return cases;
}

void CheckDelivered(const Workload& w, const Tally& got, bool ok, const std::string& who) {
  Tally expected;
  TallySink sink(expected);
  Emit(w, sink);
  if (!ok || got.exact != expected.exact) {
    throw std::runtime_error(who + " did not deliver the " + w.name + " as written");
  }
}

}  // namespace bench
