// msgpack-c on the typed values: msgpack::pack of the whole value into a
// reused msgpack::sbuffer, and msgpack::unpack followed by convert into a
// kept object. Records are bound by MSGPACK_DEFINE (typed.h). Strings and
// blobs are unpacked by reference, as in msgpack_cases.cpp; convert then
// copies them into the object.

#include <msgpack.hpp>

#include "typed.h"

namespace bench {
namespace {

bool ByReference(msgpack::type::object_type, std::size_t, void*) { return true; }

struct MsgpackCodec {
  using String = std::string;
  static constexpr bool kBlobs = true;
  static constexpr bool kRounded = false;
  using Encoded = msgpack::sbuffer;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    out.clear();
    msgpack::pack(out, value);
  }
  // Throws msgpack::type_error on a value of another type.
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    const msgpack::object_handle handle = msgpack::unpack(in.data(), in.size(), ByReference);
    handle.get().convert(out);
    return true;
  }
  static uint64_t Bytes(const Encoded& e) { return e.size(); }
};

}  // namespace

void AddMsgpackTypedCases(std::vector<Case>& cases) {
  AddTypedCases<MsgpackCodec>(cases, "msgpack", "pack", "unpack-convert");
}

}  // namespace bench
