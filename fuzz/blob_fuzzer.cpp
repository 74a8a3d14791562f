// The blob functions under any sequence of operations on four slots, checked
// against a model of each slot: views on the input or on null, and owners from
// a text reader whose copies share a block counting the slots that share it.
// Each operation is a byte (bits 0-2: operation, 3-4: slot, 5-6: second
// slot, 7: the allocator refuses) followed by its argument.

#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "qkxdr/detail/base/blob_buffer.h"

namespace {

struct Model {
  const void* data = nullptr;
  uint32_t size = 0;
  std::string bytes;   // what data points at, when it is not null
  bool owner = false;  // an owner's block counts the owners that share it
};

struct Slots {
  ~Slots() {
    for (QkXDRBinary& slot : slots) QkXDRBinaryFree(&slot);
    for (QkXDROStream2* out : writers) {
      if (out != nullptr) out->Release();
    }
  }

  void Attach(int a, const void* data, uint32_t size) {
    QkXDRBinaryAttach(&slots[a], data, size);
    models[a] = {data, size,
                 data == nullptr ? "" : std::string(static_cast<const char*>(data), size)};
  }

  // An owning blob of up to 255 bytes, decoded from blob text.
  void ReadOwner(int a, ByteSource* in) {
    std::u16string text = u"'0X";
    std::string bytes;
    for (uint8_t n = in->Byte(); n != 0; --n) {
      const uint8_t byte = in->Byte();
      bytes.push_back(static_cast<char>(byte));
      for (int shift : {4, 0}) text.push_back(u"0123456789ABCDEF"[byte >> shift & 15]);
    }
    text.push_back(u'\'');
    QkXDRIStream2* reader =
        QkXDRCreateTextIStream2(text.data(), static_cast<uint32_t>(text.size()));
    FUZZ_CHECK(reader != nullptr && reader->ReadBinary(&slots[a]));
    reader->Release();
    models[a] = {QkXDRBinaryData(&slots[a]), static_cast<uint32_t>(bytes.size()), bytes, true};
    FUZZ_CHECK(models[a].data != nullptr);
  }

  QkXDRBinary slots[4] = {};
  Model models[4];
  QkXDROStream2* writers[2] = {QkXDRCreateOStream2(), QkXDRCreateTextOStream2()};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteSource in(data, size);
  Slots s;
  while (!in.empty()) {
    const uint8_t code = in.Byte();
    const int a = code >> 3 & 3;
    const int op = code & 7;
    const Model& model = s.models[a];
    size_t taken = 0;
    if (op == 0) {
      const uint8_t* view = in.Take(in.Byte(), &taken);
      s.Attach(a, view, static_cast<uint32_t>(taken));
    } else if (op == 1) {
      s.Attach(a, nullptr, static_cast<uint32_t>(in.Bits(4)));
    } else if (op == 2) {
      QkXDRBinaryCopy(&s.slots[a], &s.slots[code >> 5 & 3]);
      s.models[a] = s.models[code >> 5 & 3];
    } else if (op == 3) {
      QkXDRBinaryFree(&s.slots[a]);
      s.models[a] = Model();
    } else if (op == 4) {  // copy-out: nothing from a view on null data, whatever its size
      FuzzAllocator allocator(UINT32_MAX);
      allocator.refuse = (code & 0x80) != 0;
      const uint32_t copied = QkXDRBinaryRead(&s.slots[a], &allocator);
      const bool nothing = model.size == 0 || model.data == nullptr;
      FUZZ_CHECK(allocator.calls == (nothing ? 0 : 1));
      FUZZ_CHECK(copied == (nothing || allocator.refuse ? 0 : model.size));
      FUZZ_CHECK(copied == 0 || allocator.Last<char>() == model.bytes);
    } else if (op == 5) {
      s.ReadOwner(a, &in);
    } else if (op == 6) {  // writers take the bytes; a view on null data is written empty
      for (QkXDROStream2* out : s.writers) {
        const uint32_t before = out == nullptr ? 0 : out->GetSize();
        if (out != nullptr) out->WriteBinary(&s.slots[a]);
        FUZZ_CHECK(out == nullptr || out->GetSize() > before);
      }
    } else {
      for (int i = 0; i < 4; ++i) {
        const Model& m = s.models[i];
        FUZZ_CHECK(QkXDRBinaryData(&s.slots[i]) == m.data);
        FUZZ_CHECK(QkXDRBinarySize(&s.slots[i]) == m.size);
        FUZZ_CHECK(m.data == nullptr || std::memcmp(m.data, m.bytes.data(), m.size) == 0);
        uint32_t sharing = 0;
        for (const Model& other : s.models) sharing += other.owner && other.data == m.data;
        FUZZ_CHECK(!m.owner ||
                   static_cast<const qkxdr::impl::deep_binary*>(qkxdr::impl::Held(&s.slots[i]))
                           ->references() == sharing);
      }
    }
  }
  return 0;
}
