// Binary readers of both generations over any bytes: the input is a script
// of reads (see ReaderInput) and the bytes to read.

#include "reader_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const ReaderInput input(&in);
  const auto length = static_cast<uint32_t>(in.left());
  const std::unique_ptr<uint8_t[]> bytes = ExactCopy(in.position(), length);
  // Each byte holds at most one run of 42 values.
  const size_t bound = 42 * size_t{length} + 1;
  if (input.second()) {
    RunReaderScript(QkXDRCreateIStream2(bytes.get(), length), input, bound, true);
  } else {
    RunReaderScript(QkXDRCreateIStream(bytes.get(), length), input, bound, true);
  }
  return 0;
}
