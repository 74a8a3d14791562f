// msgpack-c's C++ API on the binary paths: msgpack::packer into an
// msgpack::sbuffer, and msgpack::unpack with object access.
//
// The values go into one top-level array, as msgpack's own sequence. Strings
// and blobs are unpacked by reference (no copy into the zone), as QkXDR's
// binary reader hands out blobs as views; strings are then copied out, as
// QkXDR's reader copies them into the caller's buffer.

#include <msgpack.hpp>

#include <string>
#include <string_view>

#include "cases.h"

namespace bench {
namespace {

class MsgpackSink {
 public:
  explicit MsgpackSink(msgpack::packer<msgpack::sbuffer>& packer) : packer_(packer) {}
  void BeginTop(size_t n) { packer_.pack_array(static_cast<uint32_t>(n)); }
  void EndTop() {}
  void Int(int32_t v) { packer_.pack_int32(v); }
  void Int64(int64_t v) { packer_.pack_int64(v); }
  void Double(double v) { packer_.pack_double(v); }
  void String(const Text& s) {
    const auto n = static_cast<uint32_t>(s.narrow.size());
    packer_.pack_str(n);
    packer_.pack_str_body(s.narrow.data(), n);
  }
  void Binary(const Blob& b) {
    const auto n = static_cast<uint32_t>(b.bytes.size());
    packer_.pack_bin(n);
    packer_.pack_bin_body(reinterpret_cast<const char*>(b.bytes.data()), n);
  }
  void BeginArray(size_t n) { packer_.pack_array(static_cast<uint32_t>(n)); }
  void EndArray() {}

 private:
  msgpack::packer<msgpack::sbuffer>& packer_;
};

// Walks the unpacked object tree; msgpack's as<>() checks every type.
class MsgpackSource {
 public:
  explicit MsgpackSource(const msgpack::object& root) : root_(root) {}

  void BeginTop() { Enter(root_); }
  void EndTop() { --depth_; }
  void Int(Tally& t) { t.Int(Next().as<int32_t>()); }
  void Int64(Tally& t) { t.Int(Next().as<int64_t>()); }
  void Double(Tally& t) { t.Double(Next().as<double>()); }
  void String(Tally& t) {
    const auto view = Next().as<std::string_view>();
    copy_.assign(view.data(), view.size());
    t.Units(reinterpret_cast<const uint8_t*>(copy_.data()), copy_.size());
  }
  void Binary(Tally& t) {
    const msgpack::object& o = Next();
    if (o.type != msgpack::type::BIN) throw msgpack::type_error();
    t.Units(reinterpret_cast<const uint8_t*>(o.via.bin.ptr), o.via.bin.size);
  }
  void BeginArray(Tally& t) {
    Enter(Next());
    t.Marker();
  }
  void EndArray(Tally& t) {
    --depth_;
    t.Marker();
  }

 private:
  struct Frame {
    const msgpack::object* next;
    const msgpack::object* end;
  };

  void Enter(const msgpack::object& o) {
    if (o.type != msgpack::type::ARRAY || depth_ == kMaxDepth) throw msgpack::type_error();
    stack_[depth_++] = {o.via.array.ptr, o.via.array.ptr + o.via.array.size};
  }
  const msgpack::object& Next() {
    Frame& f = stack_[depth_ - 1];
    if (f.next == f.end) throw msgpack::type_error();
    return *f.next++;
  }

  static constexpr int kMaxDepth = 4;
  const msgpack::object& root_;
  Frame stack_[kMaxDepth];
  int depth_ = 0;
  std::string copy_;
};

uint64_t Pack(const Workload& w, msgpack::sbuffer& buffer) {
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  MsgpackSink sink(packer);
  Emit(w, sink);
  return buffer.size();
}

class WriteRunner final : public Runner {
 public:
  explicit WriteRunner(const Workload& w) : w_(w) { bytes_ = Run(); }
  uint64_t Run() override {
    msgpack::sbuffer buffer;
    return Pack(w_, buffer);
  }

 private:
  const Workload& w_;
};

bool ByReference(msgpack::type::object_type, std::size_t, void*) { return true; }

class ReadRunner final : public Runner {
 public:
  explicit ReadRunner(const Workload& w) : w_(w) {
    bytes_ = Pack(w, input_);
    CheckDelivered(w, Read(), true, "msgpack");
  }
  uint64_t Run() override { return Digest(Read()); }

 private:
  Tally Read() {
    const msgpack::object_handle handle =
        msgpack::unpack(input_.data(), input_.size(), ByReference);
    MsgpackSource source(handle.get());
    Tally tally;
    Consume(w_, source, tally);
    return tally;
  }

  const Workload& w_;
  msgpack::sbuffer input_;
};

}  // namespace

std::string MsgpackSequence(const Workload& w) {
  msgpack::sbuffer buffer;
  Pack(w, buffer);
  // The top-level array's header: fixarray, array 16 or array 32.
  const auto first = static_cast<uint8_t>(buffer.data()[0]);
  const size_t header = first == 0xdd ? 5 : first == 0xdc ? 3 : 1;
  return std::string(buffer.data() + header, buffer.size() - header);
}

void AddMsgpackCases(std::vector<Case>& cases) {
  for (Kind kind : kAllKinds) {
    cases.push_back({kind, "msgpack", "write", MakeRunner<WriteRunner>});
    cases.push_back({kind, "msgpack", "read", MakeRunner<ReadRunner>});
  }
}

}  // namespace bench
