// The measured operations: one library doing one thing to one workload.

#ifndef QKXDR_BENCH_CASES_H_
#define QKXDR_BENCH_CASES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "drive.h"
#include "workload.h"

namespace bench {

// Prepared to perform its operation any number of times; preparing it
// encodes the input a reader needs and checks, once, that the reader
// delivers every value as written.
class Runner {
 public:
  virtual ~Runner() = default;
  // Performs the operation once; the result depends on all the work done.
  virtual uint64_t Run() = 0;
  // Size of the encoded form written or read, in bytes.
  uint64_t bytes() const { return bytes_; }

 protected:
  uint64_t bytes_ = 0;
};

// A runner of type R prepared for w.
template <typename R>
std::unique_ptr<Runner> MakeRunner(const Workload& w) {
  return std::make_unique<R>(w);
}

struct Case {
  Kind kind;
  // "qkxdr", "msgpack", "rapidjson", "simdjson", "calls" or "memcpy"; "typed/<library>"
  // for the typed C++ interfaces (typed.h).
  std::string library;
  std::string operation;  // "binary-write", "text-parse", ...
  std::unique_ptr<Runner> (*make)(const Workload&);

  // "<workload>/<library>/<operation>", e.g. "ints/qkxdr/binary-write".
  std::string Name() const;
};

// Every case, in a fixed order.
std::vector<Case> AllCases();

// Throws std::runtime_error naming `who` unless `ok` holds and the tally
// matches the values of w.
void CheckDelivered(const Workload& w, const Tally& got, bool ok, const std::string& who);

// Readers return this from Run.
inline uint64_t Digest(const Tally& t) { return t.exact ^ t.loose; }

// The cases of each library.
void AddQkxdrCases(std::vector<Case>& cases);
void AddMsgpackCases(std::vector<Case>& cases);
void AddRapidjsonCases(std::vector<Case>& cases);
// The cases of the typed C++ interfaces (typed.h).
void AddQkxdrTypedCases(std::vector<Case>& cases);
void AddMsgpackTypedCases(std::vector<Case>& cases);
void AddRapidjsonTypedCases(std::vector<Case>& cases);
void AddNlohmannCases(std::vector<Case>& cases);
void AddCerealTypedCases(std::vector<Case>& cases);
void AddProtobufTypedCases(std::vector<Case>& cases);
// The JSON converter against RapidJSON and simdjson (json_cases.cpp).
void AddJsonCases(std::vector<Case>& cases);
// The least an encoder and a decoder of the binary format do for a vector of
// ints or doubles (format_floor_cases.cpp).
void AddFormatFloorCases(std::vector<Case>& cases);

// A writer behind QkXDR's interface that only counts its calls: the floor of
// any writer of that interface (floor_cases.cpp).
QkXDROStream2* CreateCallCounter();

// Copies `bytes` bytes between two buffers already mapped: the floor for
// producing or taking apart an encoding of that size.
std::unique_ptr<Runner> MakeMemcpyRunner(size_t bytes);

// Streaming reads of both encodings, and msgpack-c's msgpack::unpacker
// (stream_cases.cpp).
void AddStreamCases(std::vector<Case>& cases);
// msgpack's encoding of the values of w one after another, without the
// top-level array around them: what msgpack::unpacker hands out one by one.
std::string MsgpackSequence(const Workload& w);

// The QkXDR encodings of a workload, for the memcpy floor.
std::vector<uint8_t> QkxdrBinary(const Workload& w);
std::u16string QkxdrText(const Workload& w);

}  // namespace bench

#endif  // QKXDR_BENCH_CASES_H_
