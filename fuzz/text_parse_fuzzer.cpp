// QkXDRTextParse over any text, with a handler that stops at a chosen call.
// What the parse reports is checked against a first-generation text reader
// over the same text: the same brackets and values in the same order, and
// where the parse ends by itself the reader has no readable value either.
// The input is the number of the call at which the handler stops (0: never)
// and the text (see ByteSource::Unit).

#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

struct Event {
  enum Kind { kDouble, kInt, kString, kBegin, kEnd } kind;
  double real = 0;
  int32_t integer = 0;
  std::u16string text;
};

class RecordingHandler final : public QkXDRTextHandler {
 public:
  explicit RecordingHandler(size_t stop_at) : stop_at_(stop_at) {}

  bool OnDouble(double v) override { return Record({Event::kDouble, v, 0, {}}); }
  bool OnInt(int32_t v) override { return Record({Event::kInt, 0, v, {}}); }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    FUZZ_CHECK(begin <= end && *end == 0);
    return Record({Event::kString, 0, 0, std::u16string(begin, end)});
  }
  bool OnBeginArray() override { return Record({Event::kBegin, 0, 0, {}}); }
  bool OnEndArray() override { return Record({Event::kEnd, 0, 0, {}}); }

  std::vector<Event> events;
  bool stopped = false;

 private:
  bool Record(Event event) {
    FUZZ_CHECK(!stopped);
    events.push_back(std::move(event));
    stopped = events.size() == stop_at_;
    return !stopped;
  }

  size_t stop_at_;
};

// Reads the event's value from the reader; false when it is not there.
bool ReadsSame(QkXDRIStream* reader, const Event& event, FuzzAllocator* allocator) {
  switch (event.kind) {
    case Event::kDouble: {
      double d;
      return reader->PeekType() == QkXDRType::Double && reader->ReadDouble(&d) &&
             SameBits(d, event.real);
    }
    case Event::kInt: {
      int32_t i;
      return reader->PeekType() == QkXDRType::Int && reader->ReadInt(&i) && i == event.integer;
    }
    case Event::kString: {
      const int calls = allocator->calls;
      if (reader->PeekType() != QkXDRType::String || !reader->ReadString(allocator)) return false;
      return event.text.empty() ? allocator->calls == calls
                                : allocator->Last<char16_t>() == event.text;
    }
    case Event::kBegin:
      return reader->ReadBeginArray();
    default:
      return reader->ReadEndArray();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  RecordingHandler handler(in.Byte());
  const FuzzText text(&in);
  QkXDRTextParse(&handler, text.text.get(), text.length);
  FUZZ_CHECK(handler.events.size() <= text.length);

  QkXDRIStream* reader = QkXDRCreateTextIStream(text.text.get(), text.length);
  if (reader == nullptr) return 0;
  FuzzAllocator allocator(text.length);
  allocator.unit_size = sizeof(char16_t);
  for (const Event& event : handler.events) FUZZ_CHECK(ReadsSame(reader, event, &allocator));
  if (!handler.stopped) FUZZ_CHECK(!reader->IsValid());
  reader->Release();
  return 0;
}
