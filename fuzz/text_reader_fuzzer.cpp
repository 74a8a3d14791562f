// Text readers of both generations over any text: the input is a script of
// reads (see ReaderInput) and the text (see ByteSource::Unit).

#include "fuzz_support.h"
#include "reader_script.h"

namespace {

template <typename I>
void ReadAll(I* reader, const ReaderInput& input, uint32_t length) {
  // Every ReadType consumes a unit or more until the text ends.
  RunReaderScript(reader, input, size_t{length} + 2, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const ReaderInput input(&in);
  const FuzzText text(&in);
  if (input.second()) {
    ReadAll(QkXDRCreateTextIStream2(text.text.get(), text.length), input, text.length);
  } else {
    ReadAll(QkXDRCreateTextIStream(text.text.get(), text.length), input, text.length);
  }
  return 0;
}
