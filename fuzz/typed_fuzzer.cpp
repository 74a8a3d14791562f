// Typed reads of rich types from any bytes: the first byte chooses the
// encoding (even: binary, odd: text, the rest as FuzzText makes units of
// it) and the type (a record of every supported member type, an array of
// them, a recursive tree, containers of nodes and of deques). Each read is
// made under a tight memory budget, and must hold no more than three times
// the budget plus what strings take on the way; a value read whole writes
// back to an encoding that reads back to a value with the same encoding.

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "counting_new.h"
#include "fuzz_support.h"
#include "typed_values.h"

namespace {

using typed_test::Everything;
using typed_test::Node;
using typed_test::Point;

constexpr size_t kHeldBeside = 8 << 10;  // the reader's own pieces, the caller's T

using Bytes = std::vector<uint8_t>;

// Reads T from `in`, bytes or UTF-16 units, as its encoding says.
template <typename T>
bool Read(const Bytes& in, T& out, const qkxdr::ReadLimits& limits) {
  return static_cast<bool>(qkxdr::from_binary(in, out, limits));
}
template <typename T>
bool Read(const std::u16string& in, T& out, const qkxdr::ReadLimits& limits) {
  return static_cast<bool>(qkxdr::from_text(in, out, limits));
}
template <typename Input, typename T>
Input Write(const T& value) {
  if constexpr (std::is_same_v<Input, Bytes>) {
    return qkxdr::to_binary(value).value();
  } else {
    return qkxdr::to_text(value).value();
  }
}

template <typename T, typename Input>
void Check(const Input& in) {
  qkxdr::ReadLimits tight;
  tight.memory_per_unit = 64;
  tight.memory_base = 1024;
  const size_t before = counting_new::counts().held;
  counting_new::ResetPeak();
  T value{};
  const bool read = Read(in, value, tight);
  // Strings pass a scratch buffer and, as UTF-8, a second one.
  FUZZ_CHECK(counting_new::PeakSince(before) <=
             3 * tight.budget(in.size()) + 8 * in.size() * sizeof(in[0]) + kHeldBeside);
  if (!read) return;
  const Input written = Write<Input>(value);
  T again{};
  FUZZ_CHECK(Read(written, again, qkxdr::ReadLimits{}));
  FUZZ_CHECK(Write<Input>(again) == written);
}

template <typename Input>
void CheckTypes(uint8_t choice, const Input& in) {
  switch (choice % 6) {
    case 0:
      return Check<Everything>(in);
    case 1:
      return Check<std::vector<Everything>>(in);
    case 2:
      return Check<Node>(in);
    case 3:
      return Check<std::list<std::optional<Everything>>>(in);
    case 4:
      return Check<std::map<std::string, std::vector<Point>>>(in);
    default:
      return Check<std::vector<std::deque<char>>>(in);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t choice = in.Byte();
  if (choice % 2 == 0) {
    CheckTypes(choice / 2, Bytes(in.position(), in.position() + in.left()));
  } else {
    const FuzzText text(&in);
    CheckTypes(choice / 2, std::u16string(text.text.get(), text.length));
  }
  return 0;
}
