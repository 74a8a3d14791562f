// Binary readers of both generations over any bytes. The input is a head
// byte (bit 7: second generation; bits 0-5: length of the script), the
// script of reads, and the bytes to read.

#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "reader_script.h"

namespace {

template <typename I>
void ReadAll(I* reader, const uint8_t* script, size_t script_size, uint32_t length) {
  FUZZ_CHECK(length != 0 || reader == nullptr);
  if (reader == nullptr) return;
  // A string holds at most one unit per byte; each byte holds at most one
  // run of 42 values.
  RunReaderScript(reader, script, script_size, length + 1, 42 * size_t{length} + 1, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t head = in.Byte();
  size_t script_size;
  const uint8_t* script = in.Take(head & 0x3F, &script_size);
  // A block of exactly the input's size, so that any overread is caught.
  const auto length = static_cast<uint32_t>(in.left());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[length]);
  if (length != 0) std::memcpy(bytes.get(), in.position(), length);
  if (head & 0x80) {
    ReadAll(QkXDRCreateIStream2(bytes.get(), length), script, script_size, length);
  } else {
    ReadAll(QkXDRCreateIStream(bytes.get(), length), script, script_size, length);
  }
  return 0;
}
