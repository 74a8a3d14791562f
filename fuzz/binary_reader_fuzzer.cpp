// Binary readers of both generations over any bytes: the input is a script
// of reads (see ReaderInput) and the bytes to read.

#include "fuzz_support.h"
#include "reader_script.h"

namespace {

template <typename I>
void ReadAll(I* reader, const ReaderInput& input, uint32_t length) {
  FUZZ_CHECK(length != 0 || reader == nullptr);
  // Each byte holds at most one run of 42 values.
  RunReaderScript(reader, input, 42 * size_t{length} + 1, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const ReaderInput input(&in);
  const auto length = static_cast<uint32_t>(in.left());
  const std::unique_ptr<uint8_t[]> bytes = ExactCopy(in.position(), length);
  if (input.second()) {
    ReadAll(QkXDRCreateIStream2(bytes.get(), length), input, length);
  } else {
    ReadAll(QkXDRCreateIStream(bytes.get(), length), input, length);
  }
  return 0;
}
