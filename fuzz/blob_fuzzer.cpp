// The blob functions under any sequence of attach, copy, free, read and
// write on four slots, against a model of what each slot holds. Views are
// attached to the input itself or to a null pointer; owning blobs come from
// a second-generation text reader, and copies of them share one block, so
// that a wrong reference count shows as a use after free or a leak.
//
// The input is a sequence of operations: one byte (bits 0-2: operation,
// bits 3-4: slot, bits 5-6: second slot, bit 7: the allocator refuses)
// followed by the operation's argument.

#include <cstring>
#include <string>

#include "fuzz_support.h"

namespace {

constexpr int kSlots = 4;

// What a slot should hold.
struct Model {
  const void* data = nullptr;
  uint32_t size = 0;
  std::string bytes;  // what data points at, when it is not null
};

class Slots {
 public:
  Slots() : binary_(QkXDRCreateOStream2()), text_(QkXDRCreateTextOStream2()), slots_(), models_() {}
  Slots(const Slots&) = delete;
  Slots& operator=(const Slots&) = delete;
  ~Slots() {
    for (QkXDRBinary& slot : slots_) QkXDRBinaryFree(&slot);
    for (QkXDROStream2* out : {binary_, text_}) {
      if (out != nullptr) out->Release();
    }
  }

  void Run(uint8_t code, ByteSource* in) {
    const int a = code >> 3 & 3;
    const int b = code >> 5 & 3;
    switch (code & 7) {
      case 0: {
        size_t size;
        const uint8_t* data = in->Take(in->Byte(), &size);
        Attach(a, data, static_cast<uint32_t>(size));
        break;
      }
      case 1:
        Attach(a, nullptr, static_cast<uint32_t>(in->Bits(4)));
        break;
      case 2:
        QkXDRBinaryCopy(&slots_[a], &slots_[b]);
        models_[a] = models_[b];
        break;
      case 3:
        QkXDRBinaryFree(&slots_[a]);
        models_[a] = Model();
        break;
      case 4:
        ReadOut(a, (code & 0x80) != 0);
        break;
      case 5:
        ReadOwner(a, in);
        break;
      case 6:
        WriteOut(a);
        break;
      default:
        for (int i = 0; i < kSlots; ++i) Check(i);
        break;
    }
  }

 private:
  void Attach(int a, const void* data, uint32_t size) {
    QkXDRBinaryAttach(&slots_[a], data, size);
    models_[a] = {data, size,
                  data == nullptr ? "" : std::string(static_cast<const char*>(data), size)};
  }

  // A view on null data has nothing to copy out, whatever its size.
  void ReadOut(int a, bool refuse) {
    FuzzAllocator allocator(UINT32_MAX);
    allocator.refuse = refuse;
    const Model& model = models_[a];
    const uint32_t copied = QkXDRBinaryRead(&slots_[a], &allocator);
    const bool nothing = model.size == 0 || model.data == nullptr;
    FUZZ_CHECK(allocator.calls == (nothing ? 0 : 1));
    FUZZ_CHECK(copied == (nothing || refuse ? 0 : model.size));
    if (copied != 0) FUZZ_CHECK(allocator.Last<char>() == model.bytes);
  }

  // An owning blob of up to 255 bytes, decoded from blob text.
  void ReadOwner(int a, ByteSource* in) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::u16string text = u"'0X";
    std::string bytes;
    for (uint8_t n = in->Byte(); n != 0; --n) {
      const uint8_t byte = in->Byte();
      bytes.push_back(static_cast<char>(byte));
      text.push_back(static_cast<char16_t>(kDigits[byte >> 4]));
      text.push_back(static_cast<char16_t>(kDigits[byte & 15]));
    }
    text.push_back(u'\'');
    QkXDRIStream2* reader =
        QkXDRCreateTextIStream2(text.data(), static_cast<uint32_t>(text.size()));
    if (reader == nullptr) return;
    FUZZ_CHECK(reader->ReadBinary(&slots_[a]));
    reader->Release();
    models_[a] = {QkXDRBinaryData(&slots_[a]), static_cast<uint32_t>(bytes.size()), bytes};
    FUZZ_CHECK(models_[a].data != nullptr);
  }

  // Writers read the blob's bytes; a view on null data is written empty.
  void WriteOut(int a) {
    for (QkXDROStream2* out : {binary_, text_}) {
      if (out == nullptr) continue;
      const uint32_t before = out->GetSize();
      out->WriteBinary(&slots_[a]);
      FUZZ_CHECK(out->GetSize() > before);
    }
  }

  void Check(int i) {
    const Model& model = models_[i];
    FUZZ_CHECK(QkXDRBinaryData(&slots_[i]) == model.data);
    FUZZ_CHECK(QkXDRBinarySize(&slots_[i]) == model.size);
    if (model.data != nullptr) {
      FUZZ_CHECK(std::memcmp(model.data, model.bytes.data(), model.size) == 0);
    }
  }

  QkXDROStream2* binary_;
  QkXDROStream2* text_;
  QkXDRBinary slots_[kSlots];
  Model models_[kSlots];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  Slots slots;
  while (!in.empty()) slots.Run(in.Byte(), &in);
  return 0;
}
