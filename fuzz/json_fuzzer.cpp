// Any bytes as JSON text, in both layouts, with the other JSON values
// converted: refused at a byte of the input, or converted to bytes whose JSON
// converts back to the same bytes.

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "qkxdr/json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  for (const qkxdr::json::Layout layout :
       {qkxdr::json::Layout::Lines, qkxdr::json::Layout::Array}) {
    const qkxdr::json::Options options{layout, qkxdr::json::Others::Convert};
    qkxdr::json::Error error;
    qkxdr::BinaryWriter first;
    if (!qkxdr::json::from_json(json, first, options, &error)) {
      FUZZ_CHECK(error.offset <= size && !error.message.empty());
      continue;
    }
    const std::vector<uint8_t> bytes = first.bytes();
    qkxdr::BinaryReader in(bytes);
    std::string back;
    FUZZ_CHECK(qkxdr::json::to_json(in, &back, options, &error));
    qkxdr::BinaryWriter second;
    FUZZ_CHECK(qkxdr::json::from_json(back, second, options, &error));
    FUZZ_CHECK(second.bytes() == bytes);
  }
  return 0;
}
