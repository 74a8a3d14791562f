// Text readers of both generations over any text: the input is a script of
// reads (see ReaderInput) and the text (see ByteSource::Unit).

#include "reader_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const ReaderInput input(&in);
  const FuzzText text(&in);
  // Every ReadType consumes a unit or more until the text ends.
  const size_t bound = size_t{text.length} + 2;
  if (input.second()) {
    RunReaderScript(QkXDRCreateTextIStream2(text.text.get(), text.length), input, bound, false);
  } else {
    RunReaderScript(QkXDRCreateTextIStream(text.text.get(), text.length), input, bound, false);
  }
  return 0;
}
