// qkxdr-demo: writes a small record with a binary writer, prints its bytes,
// reads it back through a binary reader, and passes a blob through a slot.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "QkXDR.h"

namespace {

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

// Writes [7, "QkXDR", 2.5, -2^40], prints the bytes and reads them back.
bool BinaryRoundTrip() {
  const int64_t big = -(int64_t{1} << 40);
  QkXDROStream2* out = QkXDRCreateOStream2();
  out->BeginArray();
  out->WriteInt(7);
  out->WriteStringA("QkXDR");
  out->WriteDouble(2.5);
  out->WriteInt64(big);
  out->EndArray();
  const auto* data = static_cast<const uint8_t*>(out->GetData());
  const std::vector<uint8_t> bytes(data, data + out->GetSize());
  out->Release();
  PrintHex("binary record ->", bytes.data(), bytes.data() + bytes.size());

  QkXDRIStream2* in = QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size()));
  VectorAllocator text;
  int32_t i = 0;
  double d = 0;
  int64_t i64 = 0;
  const bool ok = in->ReadBeginArray() && in->ReadInt(&i) && i == 7 && in->ReadStringA(&text) &&
                  std::string(text.bytes.begin(), text.bytes.end()) == "QkXDR" &&
                  in->ReadDouble(&d) && d == 2.5 && in->ReadInt64(&i64) && i64 == big &&
                  in->ReadEndArray() && !in->IsValid();
  in->Release();
  std::printf("binary record read back      %s\n", ok ? "matches" : "DIFFERS");
  return ok;
}

}  // namespace

int main() {
  bool ok = BinaryRoundTrip();

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
