// A script of reads run on a reader of either encoding and generation, with
// the properties that every reader keeps whatever its input:
// - a read that fails changes nothing: not the type, not the output, and it
//   asks the allocator for nothing;
// - a read that succeeds had a current value of a type it accepts, and asks
//   the allocator at most once;
// - a blob handed out lies in memory that may be read in full;
// - ReadType returns what PeekType said, and stepping with it ends.

#ifndef QKXDR_FUZZ_READER_SCRIPT_H_
#define QKXDR_FUZZ_READER_SCRIPT_H_

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "QkXDR.h"
#include "fuzz_support.h"

template <typename I>
class ReaderScript {
 public:
  using Type = decltype(std::declval<I&>().PeekType());
  static constexpr bool kSecond = std::is_same_v<I, QkXDRIStream2>;

  // Takes over the reader.
  explicit ReaderScript(I* reader) : reader_(reader), allocator_(kReaderBlockLimit) {}
  ReaderScript(const ReaderScript&) = delete;
  ReaderScript& operator=(const ReaderScript&) = delete;
  ~ReaderScript() {
    QkXDRBinaryFree(&slot_);
    reader_->Release();
  }

  // One operation, chosen by the low four bits; bit 4 makes the allocator
  // refuse.
  void Run(uint8_t code) {
    allocator_.refuse = (code & 0x10) != 0;
    switch ((code & 0x0F) % (kSecond ? 12 : 9)) {
      case 0:
        Read(Units<char16_t>(&I::ReadString), {Type::String, StringOrBlob()});
        break;
      case 1:
        ReadNumber(&I::ReadDouble);
        break;
      case 2:
        ReadNumber(&I::ReadInt);
        break;
      case 3: {
        const Type before = reader_->PeekType();
        FUZZ_CHECK(reader_->ReadType() == before);
        break;
      }
      case 4:
        FUZZ_CHECK(reader_->PeekType() == reader_->PeekType());
        break;
      case 5:
        Read([this] { return reader_->ReadBeginArray(); }, {Type::ArrayBegin});
        break;
      case 6:
        Read([this] { return reader_->ReadEndArray(); }, {Type::ArrayEnd});
        break;
      case 7:
        reader_->Skip();
        break;
      case 8:
        // Reads without a current value fail: Read checks that.
        static_cast<void>(reader_->IsValid());
        break;
      default:
        if constexpr (kSecond) RunSecond(code);
        break;
    }
  }

  // Steps with ReadType at most `bound` times, or until there is no current
  // value when `until_invalid`; then the reader must be used up.
  void Drain(size_t bound, bool until_invalid) {
    for (size_t i = 0; i < bound && !(until_invalid && !reader_->IsValid()); ++i) {
      reader_->ReadType();
    }
    FUZZ_CHECK(!reader_->IsValid());
  }

 private:
  void RunSecond(uint8_t code) {
    if constexpr (kSecond) {
      switch ((code & 0x0F) % 12) {
        case 9:
          Read(Units<uint8_t>(&I::ReadStringA), {Type::String, Type::Binary});
          break;
        case 10:
          Read([this] { return ReadBlob(); }, {Type::Binary});
          break;
        default:
          ReadNumber(&I::ReadInt64);
          break;
      }
    }
  }

  static Type StringOrBlob() {
    if constexpr (kSecond) return Type::Binary;
    return Type::String;
  }

  // A string read into a block of Unit elements.
  template <typename Unit>
  auto Units(bool (I::*read)(QkXDRAllocator*)) {
    return [this, read] {
      allocator_.unit_size = sizeof(Unit);
      return (reader_->*read)(&allocator_);
    };
  }

  // A number read into an output that keeps its marker when the read fails.
  template <typename T>
  void ReadNumber(bool (I::*read)(T*)) {
    T v;
    std::memset(&v, 0xA5, sizeof v);
    T marker = v;
    if (!Read([&] { return (reader_->*read)(&v); }, {Type::Int, Type::Double})) {
      FUZZ_CHECK(SameBits(v, marker));
    }
  }

  // A blob into the slot, read in full; a failure leaves the slot as it was.
  bool ReadBlob() {
    if constexpr (kSecond) {
      const void* data = QkXDRBinaryData(&slot_);
      const uint32_t size = QkXDRBinarySize(&slot_);
      if (!reader_->ReadBinary(&slot_)) {
        FUZZ_CHECK(QkXDRBinaryData(&slot_) == data && QkXDRBinarySize(&slot_) == size);
        return false;
      }
      const void* blob = QkXDRBinaryData(&slot_);
      if (blob != nullptr) Touch(blob, QkXDRBinarySize(&slot_));
      return true;
    }
    return false;
  }

  // Runs one read and checks what it may and may not have changed.
  template <typename Operation>
  bool Read(Operation read, std::initializer_list<Type> accepted) {
    const Type type = reader_->PeekType();
    const bool valid = reader_->IsValid();
    const int calls = allocator_.calls;
    const bool ok = read();
    // The reader calls the allocator through its interface, which cppcheck
    // does not follow.
    // cppcheck-suppress [knownConditionTrueFalse, duplicateExpression]
    const int asked = allocator_.calls - calls;
    if (!ok) {
      FUZZ_CHECK(reader_->PeekType() == type && reader_->IsValid() == valid);
      FUZZ_CHECK(asked == 0);
      return false;
    }
    FUZZ_CHECK(valid);
    FUZZ_CHECK(asked <= 1);
    bool known = false;
    for (Type t : accepted) known = known || t == type;
    FUZZ_CHECK(known);
    return true;
  }

  I* reader_;
  FuzzAllocator allocator_;
  QkXDRBinary slot_{};
};

// The start of a reader target's input: a head byte (bit 7: second
// generation; bits 0-5: length of the script) and the script of reads. The
// data to read follows.
struct ReaderInput {
  explicit ReaderInput(ByteSource* in) : head(in->Byte()) {
    script = in->Take(head & 0x3F, &script_size);
  }
  bool second() const { return (head & 0x80) != 0; }

  uint8_t head;
  const uint8_t* script;
  size_t script_size;
};

// Runs the script's operations on the reader, if there is one, then drains
// it (see Drain).
template <typename I>
void RunReaderScript(I* reader, const ReaderInput& input, size_t drain_bound, bool until_invalid) {
  if (reader == nullptr) return;
  ReaderScript<I> run(reader);
  for (size_t i = 0; i < input.script_size; ++i) run.Run(input.script[i]);
  run.Drain(drain_bound, until_invalid);
}

#endif  // QKXDR_FUZZ_READER_SCRIPT_H_
