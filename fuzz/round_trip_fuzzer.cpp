// The round trip of tests/test_values.h (ExpectRoundTrip) on the values the
// input stands for. Each is a byte whose low 3 bits choose the kind, then:
// for an Int 4 bytes and for an Int64 or a Double 8, least significant first;
// for a String a length byte (modulo 32) and as many units as
// ByteSource::Unit reads them; for an 8-bit string or a blob a length byte
// (modulo 64) and as many bytes. A string ends at its first zero unit, since
// the writers take zero-terminated strings.

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#define VALUES_CHECK(condition) FUZZ_CHECK(condition)
#include "test_values.h"

namespace {

using test_values::Kind;

test_values::Value NextValue(ByteSource* in) {
  static const Kind kKinds[] = {Kind::Int,     Kind::Int64, Kind::Double, Kind::String,
                                Kind::StringA, Kind::Blob,  Kind::Begin,  Kind::End};
  test_values::Value v{kKinds[in->Byte() % 8]};
  if (v.kind == Kind::Int) v.i = static_cast<int32_t>(in->Bits(4));
  if (v.kind == Kind::Int64) v.i = static_cast<int64_t>(in->Bits(8));
  if (v.kind == Kind::Double) v.d = FromBits(in->Bits(8));
  if (v.kind == Kind::String) {
    for (uint8_t n = in->Byte() % 32; n != 0; --n) v.units.push_back(in->Unit());
  } else if (v.kind == Kind::StringA || v.kind == Kind::Blob) {
    for (uint8_t n = in->Byte() % 64; n != 0 && !in->empty(); --n) v.units.push_back(in->Byte());
  }
  if (v.kind == Kind::String || v.kind == Kind::StringA) {
    v.units.resize(std::char_traits<char16_t>::length(v.units.c_str()));
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  test_values::Values values;
  while (!in.empty() && values.size() < 512) values.push_back(NextValue(&in));
  test_values::ExpectRoundTrip(values);
  return 0;
}
