// The stream readers of qkxdr/stream.hpp: the same units fed whole, in
// pieces and one unit at a time must give the same values at the same
// offsets and stop at the same offset for the same reason, and the values
// must read as the whole-buffer decoder reads those units. The input is a
// byte of choices (bit 0: text, bit 1: StreamUnit::elements, bit 2: values
// taken by next_all()), a byte for the limit (0: the default; else that
// many units), two bytes that seed the pieces' sizes (1 to 64 units), then
// the stream: bytes, or for text UTF-16 units as ByteSource::Unit reads them.

#include <cstdint>
#include <random>
#include <vector>

#include "fuzz_support.h"
#define VALUES_CHECK(condition) FUZZ_CHECK(condition)
#include "stream_feed.h"

namespace {

using test_values::Outcome;

template <typename E, typename Unit>
void Check(const Unit* data, size_t size, qkxdr::StreamUnit unit, bool all, size_t max_value,
           uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<size_t> pieces;
  std::vector<size_t> units;
  for (size_t at = 1 + random() % 64; at < size; at += 1 + random() % 64) pieces.push_back(at);
  for (size_t at = 1; at < size; ++at) units.push_back(at);
  const auto stream = [&](const std::vector<size_t>& cuts, bool take_all) {
    return test_values::Stream<E>(data, size, cuts, unit, take_all, max_value);
  };
  const Outcome whole = stream({}, all);
  FUZZ_CHECK(stream(pieces, all) == whole);
  FUZZ_CHECK(stream(units, all) == whole);
  FUZZ_CHECK(stream(pieces, !all) == whole);
  FUZZ_CHECK((test_values::ReadAsWhole<E>(whole, data, size, unit)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t choices = in.Byte();
  const uint8_t limit = in.Byte();
  const auto seed = static_cast<uint32_t>(in.Bits(2));
  const auto unit = choices & 2 ? qkxdr::StreamUnit::elements : qkxdr::StreamUnit::values;
  const bool all = (choices & 4) != 0;
  const size_t max_value = limit == 0 ? qkxdr::kDefaultMaxValue : limit;
  if (choices & 1) {
    const FuzzText text(&in);
    Check<test_values::Text>(text.text.get(), text.length, unit, all, max_value, seed);
  } else {
    const std::unique_ptr<uint8_t[]> bytes = ExactCopy(in.position(), in.left());
    Check<test_values::Binary>(bytes.get(), in.left(), unit, all, max_value, seed);
  }
  return 0;
}
