// Reading sessions as scripts, one language for the readers of both encodings
// and generations: the fuzz targets run its operations by byte code, the
// tests by name (read_script::Run). Results: Peek, Type: the type's name;
// Begin, End: yes/no; Int, Int64, Double: the number or "no"; Str, StrA: the
// units in hex ("[0061 0062]", CCCC for one left unwritten), "ok" when no
// buffer was asked for, "refused", "no"; Bin: the blob's bytes or "no"; Skip:
// "-"; Valid: 1/0; Nulls: "yes" when a read into a null output succeeds. Each
// checks what every reader keeps whatever its input: reads into null outputs
// fail; a read that fails changes nothing (type, output, blob slot) and asks
// the allocator nothing; one that succeeds had a current value of a type it
// accepts, asked the allocator at most once and wrote no unit past the count
// asked for; a blob may be read in full; ReadType returns what PeekType said.

#ifndef QKXDR_FUZZ_READER_SCRIPT_H_
#define QKXDR_FUZZ_READER_SCRIPT_H_

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "QkXDR.h"
#include "fuzz_support.h"

// A broken property stops a fuzz run; the tests report it and go on.
#ifndef READER_CHECK
#define READER_CHECK(condition) FUZZ_CHECK(condition)
#endif

// The operations in the order of their byte codes: the first nine are the
// first generation's; Nulls has none.
inline const char* const kReadOps[] = {"Str",  "Double", "Int",  "Type", "Peek",  "Begin", "End",
                                       "Skip", "Valid",  "StrA", "Bin",  "Int64", "Nulls"};

// Runs operations on a reader, which stays the caller's. As the allocator of
// string reads it hands out blocks one unit longer than asked, filled with the
// marker byte 0xCC, and refuses when told to and above kReaderBlockLimit units.
template <typename I>
class ReaderScript final : public QkXDRAllocator {
 public:
  using Type = decltype(std::declval<I&>().PeekType());
  static constexpr bool kSecond = std::is_same_v<I, QkXDRIStream2>;

  // The blob slot starts as a view, which a failed ReadBinary must leave.
  explicit ReaderScript(I* reader) : reader_(reader) { QkXDRBinaryAttach(&slot_, &kBefore, 1); }
  ~ReaderScript() { QkXDRBinaryFree(&slot_); }

  // One operation, "?" for one the reader does not have.
  std::string Run(const std::string& op, bool refuse = false) {
    refuse_ = refuse;
    if (op == "Str") return Units<char16_t>(&I::ReadString, {Type::String, kBlobType});
    if (op == "Double") return Number(&I::ReadDouble);
    if (op == "Int") return Number(&I::ReadInt);
    if (op == "Peek" || op == "Type") {
      const Type type = reader_->PeekType();
      READER_CHECK((op == "Type" ? reader_->ReadType() : reader_->PeekType()) == type);
      return Name(type);
    }
    if (op == "Begin") return Marker(&I::ReadBeginArray, Type::ArrayBegin);
    if (op == "End") return Marker(&I::ReadEndArray, Type::ArrayEnd);
    if (op == "Skip") return reader_->Skip(), "-";
    if (op == "Valid") return reader_->IsValid() ? "1" : "0";
    if constexpr (kSecond) {
      if (op == "StrA") return Units<uint8_t>(&I::ReadStringA, {Type::String, Type::Binary});
      if (op == "Bin") return Blob();
      if (op == "Int64") return Number(&I::ReadInt64);
    }
    if (op != "Nulls") return "?";
    bool any =
        reader_->ReadInt(nullptr) || reader_->ReadDouble(nullptr) || reader_->ReadString(nullptr);
    if constexpr (kSecond) {
      any = any || reader_->ReadInt64(nullptr) || reader_->ReadStringA(nullptr) ||
            reader_->ReadBinary(nullptr);
    }
    READER_CHECK(!any);
    return any ? "yes" : "no";
  }

  void* Alloc(uint32_t n) override {
    ++calls_;
    count_ = n;
    block_.reset();
    if (refuse_ || n > kReaderBlockLimit) return nullptr;
    block_.reset(new uint8_t[(size_t{n} + 1) * unit_size_]);
    std::memset(block_.get(), 0xCC, (size_t{n} + 1) * unit_size_);
    return block_.get();
  }

 private:
  static std::string Name(Type t) {
    static const char* const kNames[] = {
        "ArrayBegin", "ArrayEnd", "Int",  "String", "Double", "None",  // first generation
        "ArrayBegin", "ArrayEnd", "None", "Int",    "String", "Double", "Binary"};
    const auto k = static_cast<size_t>(t);
    return k < (kSecond ? 7 : 6) ? kNames[k + (kSecond ? 6 : 0)] : "?";
  }

  // Each unit in hex, 2 * sizeof(Unit) digits.
  template <typename Unit>
  static std::string Hex(const Unit* p, size_t n) {
    std::string text = "[";
    for (size_t k = 0; k < n; ++k) {
      if (k != 0) text += ' ';
      for (int shift = 8 * static_cast<int>(sizeof(Unit)) - 4; shift >= 0; shift -= 4) {
        text += "0123456789ABCDEF"[(p[k] >> shift) & 15];
      }
    }
    return text + "]";
  }

  std::string Marker(bool (I::*read)(), Type type) {
    return Read([this, read] { return (reader_->*read)(); }, {type}) ? "yes" : "no";
  }

  template <typename Unit>
  std::string Units(bool (I::*read)(QkXDRAllocator*), std::initializer_list<Type> accepted) {
    unit_size_ = sizeof(Unit);
    const int calls = calls_;
    if (!Read([&] { return (reader_->*read)(this); }, accepted)) return "no";
    if (calls_ == calls) return "ok";
    const auto* units = reinterpret_cast<const Unit*>(block_.get());
    if (units == nullptr) return "refused";
    READER_CHECK(units[count_] == static_cast<Unit>(0xCCCC));
    return Hex(units, count_);
  }

  // A number read into an output that a failed read leaves.
  template <typename T>
  std::string Number(bool (I::*read)(T*)) {
    T v = 7;
    if (!Read([&] { return (reader_->*read)(&v); }, {Type::Int, Type::Double})) {
      READER_CHECK(v == 7);
      return "no";
    }
    if constexpr (std::is_integral_v<T>) return std::to_string(v);
    char text[32];
    return std::isnan(v) ? "nan" : std::string(text, std::to_chars(text, text + 32, v).ptr);
  }

  std::string Blob() {
    const void* data = QkXDRBinaryData(&slot_);
    const uint32_t size = QkXDRBinarySize(&slot_);
    if (!Read([this] { return reader_->ReadBinary(&slot_); }, {Type::Binary})) {
      READER_CHECK(QkXDRBinaryData(&slot_) == data && QkXDRBinarySize(&slot_) == size);
      return "no";
    }
    return Hex(static_cast<const uint8_t*>(QkXDRBinaryData(&slot_)), QkXDRBinarySize(&slot_));
  }

  // Runs one read and checks what it may and may not have changed.
  template <typename Operation>
  bool Read(Operation read, std::initializer_list<Type> accepted) {
    const Type type = reader_->PeekType();
    const bool valid = reader_->IsValid();
    const int calls = calls_;
    const bool ok = read();
    // Alloc, called through the reader's interface, counts calls_.
    // cppcheck-suppress duplicateExpression
    const int asked = calls_ - calls;
    bool known = false;
    for (Type t : accepted) known = known || t == type;
    READER_CHECK(ok ? valid && asked <= 1 && known
                    : reader_->PeekType() == type && reader_->IsValid() == valid && asked == 0);
    return ok;
  }

  static constexpr uint8_t kBefore = 0;
  // ReadString also reads a blob; a first-generation reader sees it as a String.
  static constexpr Type kBlobType = static_cast<Type>(
      kSecond ? static_cast<int>(QkXDRType2::Binary) : static_cast<int>(QkXDRType::String));
  I* reader_;
  QkXDRBinary slot_{};
  bool refuse_ = false;
  size_t unit_size_ = 1;
  int calls_ = 0;
  uint32_t count_ = 0;
  std::unique_ptr<uint8_t[]> block_;
};

namespace read_script {

// Runs operations by name, space-separated ("Op*3" three times; "StrNull" and
// "StrANull" with an allocator that refuses), and returns their results,
// space-separated. After every read that failed, state(r) must be as before.
template <typename I, typename State>
std::string Run(I* r, const std::string& ops, State state) {
  ReaderScript<I> script(r);
  std::istringstream in(ops);
  std::string results;
  for (std::string op; in >> op;) {
    const auto star = op.find('*');
    const int times = star == std::string::npos ? 1 : std::stoi(op.substr(star + 1));
    std::string name = op.substr(0, star);
    const bool refuse = name.size() > 4 && name.compare(name.size() - 4, 4, "Null") == 0;
    if (refuse) name.resize(name.size() - 4);
    for (int k = 0; k < times; ++k) {
      const auto before = state(r);
      const std::string result = script.Run(name, refuse);
      READER_CHECK(result != "no" || state(r) == before);
      results += (results.empty() ? "" : " ") + result;
    }
  }
  return results;
}

}  // namespace read_script

// The start of a reader target's input: a head byte (bit 7: second
// generation; bits 0-5: length of the script) and the script, a byte an
// operation (bits 0-3: its code, modulo the generation's count; bit 4: the
// allocator refuses). The data to read follows.
struct ReaderInput {
  explicit ReaderInput(ByteSource* in) : head(in->Byte()) {
    script = in->Take(head & 0x3F, &script_size);
  }
  bool second() const { return (head & 0x80) != 0; }

  uint8_t head;
  const uint8_t* script;
  size_t script_size;
};

// Runs the script on the reader, if there is one, then steps with ReadType at
// most `bound` times, or until there is no current value when
// `until_invalid`: the reader must then be used up. Releases it.
template <typename I>
void RunReaderScript(I* reader, const ReaderInput& input, size_t bound, bool until_invalid) {
  if (reader == nullptr) return;
  ReaderScript<I> script(reader);
  for (size_t i = 0; i < input.script_size; ++i) {
    const uint8_t code = input.script[i];
    script.Run(kReadOps[(code & 0x0F) % (ReaderScript<I>::kSecond ? 12 : 9)], (code & 0x10) != 0);
  }
  for (size_t i = 0; i < bound && !(until_invalid && !reader->IsValid()); ++i) reader->ReadType();
  READER_CHECK(!reader->IsValid());
  reader->Release();
}

#endif  // QKXDR_FUZZ_READER_SCRIPT_H_
