// qkxdr-demo: encodes a few values with the binary primitives, prints the
// bytes, decodes them again, and passes a blob through a slot.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "QkXDR.h"
#include "binary/coding.h"
#include "binary/run_state.h"

namespace {

using namespace qkxdr::impl;

void PrintHex(const char* label, const uint8_t* begin, const uint8_t* end) {
  std::printf("%-28s", label);
  for (const uint8_t* p = begin; p != end; ++p) std::printf(" %02X", *p);
  std::printf("\n");
}

class VectorAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    bytes.resize(count);
    return bytes.data();
  }
  std::vector<uint8_t> bytes;
};

}  // namespace

int main() {
  const int32_t ints[] = {0, 1, -1, 64, -64, 300, INT32_MIN};
  uint8_t scratch[kMaxVarint64];
  bool ok = true;
  for (int32_t v : ints) {
    const uint8_t* end = PutVarint32(scratch, ZigZag32(v));
    char label[40];
    std::snprintf(label, sizeof label, "int %d ->", v);
    PrintHex(label, scratch, end);
    uint32_t decoded;
    GetVarint32(scratch, end, &decoded);
    ok = ok && UnZigZag32(decoded) == v;
  }
  RunState run;
  for (int i = 0; i < 3; ++i) run.Add(WireType::Int);
  std::printf("tag of a run of 3 ints        %02X\n", run.TagByte());

  const uint8_t payload[] = {0xDE, 0xAD, 0xBE, 0xEF};
  QkXDRBinary slot{}, copy{};
  QkXDRBinaryAttach(&slot, payload, sizeof payload);
  QkXDRBinaryCopy(&copy, &slot);
  VectorAllocator allocator;
  const uint32_t copied = QkXDRBinaryRead(&copy, &allocator);
  PrintHex("blob read back ->", allocator.bytes.data(), allocator.bytes.data() + copied);
  ok = ok && copied == sizeof payload;
  QkXDRBinaryFree(&copy);
  QkXDRBinaryFree(&slot);

  std::printf("%s\n", ok ? "all values read back unchanged" : "MISMATCH");
  return ok ? 0 : 1;
}
