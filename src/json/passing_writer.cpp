// PassingWriter: the exported writer interface over a streaming writer,
// every write passed on as it comes.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "qkxdr/json.hpp"
#include "qkxdr/stream.hpp"

namespace qkxdr::json {
namespace {

// What PassingWriter::values() reads, whatever the streaming writer.
class CountingStream : public QkXDROStream2 {
 public:
  std::uint64_t values() const { return values_; }

 protected:
  ~CountingStream() = default;
  void Count() { ++values_; }

 private:
  std::uint64_t values_ = 0;
};

template <typename Target>
class PassingStream final : public CountingStream {
 public:
  explicit PassingStream(Target& out) : out_(out) {}

  // Each byte a unit, as the exported writer of the same encoding takes it:
  // of the byte's value in binary, sign-extended in text.
  void WriteStringA(const char* s) override {
    constexpr bool kText = std::is_same_v<Target, TextStreamWriter>;
    units_.clear();
    for (; *s != '\0'; ++s) {
      units_.push_back(static_cast<char16_t>(kText ? static_cast<signed char>(*s)
                                                   : static_cast<unsigned char>(*s)));
    }
    WriteString(units_.c_str());
  }
  void WriteBinary(const QkXDRBinary* blob) override {
    const auto* data = static_cast<const std::uint8_t*>(QkXDRBinaryData(blob));
    Pass(std::vector<std::uint8_t>(data, data + QkXDRBinarySize(blob)));
  }
  void WriteInt64(std::int64_t v) override { Pass(v); }
  void WriteString(const char16_t* s) override { Pass(std::u16string_view(s)); }
  void WriteDouble(double v) override { Pass(v); }
  void WriteInt(std::int32_t v) override { Pass(v); }
  void BeginArray() override {
    Count();
    out_.begin_array();
  }
  void EndArray() override {
    Count();
    out_.end_array();
  }
  const void* GetData() override { return nullptr; }
  std::uint32_t GetSize() override { return 0; }
  void Release() override { delete this; }

 private:
  template <typename T>
  void Pass(const T& v) {
    Count();
    out_.write(v);
  }

  Target& out_;
  std::u16string units_;  // of the last WriteStringA
};

}  // namespace

PassingWriter::PassingWriter(BinaryStreamWriter& out)
    : Writer(new PassingStream<BinaryStreamWriter>(out)) {}

PassingWriter::PassingWriter(TextStreamWriter& out)
    : Writer(new PassingStream<TextStreamWriter>(out)) {}

// The stream is the one the constructor made, unless moved away.
std::uint64_t PassingWriter::values() const noexcept {
  return get() == nullptr ? 0 : static_cast<const CountingStream*>(get())->values();
}

}  // namespace qkxdr::json
