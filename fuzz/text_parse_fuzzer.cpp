// QkXDRTextParse over any text (after a first byte, the call to stop at, 0 for
// none): each call matches what a first-generation reader reads next, and a
// parse that ends by itself leaves the reader nothing readable.

#include <string>

#include "fuzz_support.h"

namespace {

class CheckingHandler final : public QkXDRTextHandler {
 public:
  CheckingHandler(QkXDRIStream* reader, FuzzAllocator* allocator, size_t stop_at)
      : reader_(reader), allocator_(allocator), stop_at_(stop_at) {}

  bool OnDouble(double v) override {
    double d = 0;
    return Next(reader_->PeekType() == QkXDRType::Double && reader_->ReadDouble(&d) &&
                SameBits(d, v));
  }
  bool OnInt(int32_t v) override {
    int32_t i = 0;
    return Next(reader_->PeekType() == QkXDRType::Int && reader_->ReadInt(&i) && i == v);
  }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    FUZZ_CHECK(begin <= end && *end == 0);
    const int asked = allocator_->calls;
    FUZZ_CHECK(reader_->PeekType() == QkXDRType::String && reader_->ReadString(allocator_));
    // An empty string asks for no buffer.
    return Next(begin == end ? allocator_->calls == asked
                             : allocator_->Last<char16_t>() == std::u16string(begin, end));
  }
  bool OnBeginArray() override { return Next(reader_->ReadBeginArray()); }
  bool OnEndArray() override { return Next(reader_->ReadEndArray()); }

  size_t calls = 0;
  bool stopped = false;

 private:
  bool Next(bool same) {
    FUZZ_CHECK(same && !stopped);
    stopped = ++calls == stop_at_;
    return !stopped;
  }

  QkXDRIStream* reader_;
  FuzzAllocator* allocator_;
  size_t stop_at_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  const uint8_t stop_at = in.Byte();
  const FuzzText text(&in);
  QkXDRIStream* reader = QkXDRCreateTextIStream(text.text.get(), text.length);
  if (reader == nullptr) return 0;
  FuzzAllocator allocator(text.length);
  allocator.unit_size = sizeof(char16_t);
  CheckingHandler handler(reader, &allocator, stop_at);
  QkXDRTextParse(&handler, text.text.get(), text.length);
  FUZZ_CHECK(handler.calls <= text.length);
  if (!handler.stopped) FUZZ_CHECK(!reader->IsValid());
  reader->Release();
  return 0;
}
