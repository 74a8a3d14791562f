// The fixed cost of QkXDR's writing interface: a writer behind
// QkXDROStream2 that encodes nothing. It keeps one count in itself, as every
// writer must keep its position between calls, adds one for each value and
// the length of each string, which a writer of zero-terminated strings must
// find. Any writer of the interface pays at least this; the rest of a QkXDR
// writer's time is its encoding.

#include <cstring>
#include <string>

#include "QkXDR.h"
#include "cases.h"

namespace bench {
namespace {

class CallCounter final : public QkXDROStream2 {
 public:
  void WriteStringA(const char* s) override { count_ += 1 + std::strlen(s); }
  void WriteBinary(const QkXDRBinary*) override { ++count_; }
  void WriteInt64(int64_t) override { ++count_; }
  void WriteString(const char16_t* s) override {
    count_ += 1 + std::char_traits<char16_t>::length(s);
  }
  void WriteDouble(double) override { ++count_; }
  void WriteInt(int32_t) override { ++count_; }
  void BeginArray() override { ++count_; }
  void EndArray() override { ++count_; }
  const void* GetData() override { return nullptr; }
  uint32_t GetSize() override { return count_; }
  void Release() override { delete this; }

 private:
  ~CallCounter() = default;
  uint32_t count_ = 0;
};

}  // namespace

QkXDROStream2* CreateCallCounter() { return new CallCounter; }

}  // namespace bench
