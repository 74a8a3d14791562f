// Text readers of both generations over any text. The input is a head byte
// (bit 7: second generation; bits 0-5: length of the script), the script of
// reads, and the text (see ByteSource::Unit).

#include "fuzz_support.h"
#include "reader_script.h"

namespace {

template <typename I>
void ReadAll(I* reader, const uint8_t* script, size_t script_size, uint32_t length) {
  if (reader == nullptr) return;
  // Every ReadType consumes a unit or more until the text ends.
  RunReaderScript(reader, script, script_size, length + 1, size_t{length} + 2, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t head = in.Byte();
  size_t script_size;
  const uint8_t* script = in.Take(head & 0x3F, &script_size);
  const FuzzText text(&in);
  if (head & 0x80) {
    ReadAll(QkXDRCreateTextIStream2(text.text.get(), text.length), script, script_size,
            text.length);
  } else {
    ReadAll(QkXDRCreateTextIStream(text.text.get(), text.length), script, script_size, text.length);
  }
  return 0;
}
