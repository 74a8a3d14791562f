// QkXDR's typed C++ layer (qkxdr/typed.hpp): to_binary and to_text into a
// reused output, from_binary and from_text into a kept object; and memcpy of
// as many bytes as its encodings of each workload take.

#include "qkxdr/typed.hpp"

#include "typed.h"

namespace bench {

namespace {

struct BinaryCodec {
  using String = std::string;
  static constexpr bool kBlobs = true;
  static constexpr bool kRounded = false;
  using Encoded = std::vector<uint8_t>;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    qkxdr::to_binary(value, out).value();  // throws for a value with no form
  }
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    return static_cast<bool>(qkxdr::from_binary(in.data(), in.size(), out));
  }
  static uint64_t Bytes(const Encoded& e) { return e.size(); }
};

struct TextCodec {
  using String = std::u16string;
  static constexpr bool kBlobs = false;
  static constexpr bool kRounded = false;  // doubles in their shortest exact form
  using Encoded = std::u16string;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    qkxdr::to_text(value, out).value();
  }
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    return static_cast<bool>(qkxdr::from_text(in, out));
  }
  static uint64_t Bytes(const Encoded& e) { return e.size() * sizeof(char16_t); }
};

// memcpy of as many bytes as Codec's encoding of w as a T takes.
template <typename Codec, typename T>
std::unique_ptr<Runner> MakeMemcpy(const Workload& w) {
  typename Codec::Encoded encoded;
  Codec::Encode(TypedValues<T>(w), encoded);
  return MakeMemcpyRunner(Codec::Bytes(encoded));
}

// The memcpy cases "<workload>/typed/memcpy/<name>" beside Codec's cases.
template <typename Codec>
void AddMemcpyCases(std::vector<Case>& cases, const std::string& name) {
  ForEachWorkload<Codec>([&](Kind kind, auto tag) {
    cases.push_back({kind, "typed/memcpy", name, MakeMemcpy<Codec, typename decltype(tag)::type>});
  });
}

}  // namespace

void AddQkxdrTypedCases(std::vector<Case>& cases) {
  AddTypedCases<BinaryCodec>(cases, "qkxdr", "to-binary", "from-binary");
  AddTypedCases<TextCodec>(cases, "qkxdr", "to-text", "from-text");
  AddMemcpyCases<BinaryCodec>(cases, "binary-size");
  AddMemcpyCases<TextCodec>(cases, "text-size");
}

}  // namespace bench
