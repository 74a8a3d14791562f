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
       {qkxdr::json::Layout::lines, qkxdr::json::Layout::array}) {
    const qkxdr::json::Options options{layout, qkxdr::json::Others::convert};
    qkxdr::BinaryWriter first;
    const qkxdr::Result<void> converted = qkxdr::json::from_json(json, first, options);
    if (!converted) {
      FUZZ_CHECK(converted.error().offset() <= size && !converted.error().detail().empty());
      continue;
    }
    const std::vector<uint8_t> bytes = first.bytes();
    qkxdr::BinaryReader in(bytes);
    const qkxdr::Result<std::string> back = qkxdr::json::to_json(in, options);
    FUZZ_CHECK(back.ok());
    qkxdr::BinaryWriter second;
    FUZZ_CHECK(qkxdr::json::from_json(*back, second, options).ok());
    FUZZ_CHECK(second.bytes() == bytes);
  }
  return 0;
}
