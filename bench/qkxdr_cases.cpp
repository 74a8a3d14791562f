// QkXDR through its public interfaces, as its users call it: the binary and
// text writers, the pull readers, and QkXDRTextParse.

#include <stdexcept>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "cases.h"

namespace bench {
namespace {

// Writes into either writer: binary and text share the interface.
class QkxdrSink {
 public:
  explicit QkxdrSink(QkXDROStream2* out) : out_(out) {}
  void BeginTop(size_t) {}
  void EndTop() {}
  void Int(int32_t v) { out_->WriteInt(v); }
  void Int64(int64_t v) { out_->WriteInt64(v); }
  void Double(double v) { out_->WriteDouble(v); }
  void String(const Text& s) { out_->WriteString(s.wide.c_str()); }
  void Binary(const Blob& b) { out_->WriteBinary(&b.slot); }
  void BeginArray(size_t) { out_->BeginArray(); }
  void EndArray() { out_->EndArray(); }

 private:
  QkXDROStream2* out_;
};

// Hands out one reused buffer, as large as the longest string asked for.
class ScratchAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    count_ = count;
    if (count > buffer_.size()) buffer_.resize(count);
    return buffer_.data();
  }
  void Forget() { count_ = 0; }
  const char16_t* units() const { return buffer_.data(); }
  uint32_t count() const { return count_; }

 private:
  std::vector<char16_t> buffer_;
  uint32_t count_ = 0;
};

// Reads from either reader; every read must succeed.
class QkxdrSource {
 public:
  explicit QkxdrSource(QkXDRIStream2* in) : in_(in) {}
  ~QkxdrSource() { QkXDRBinaryFree(&slot_); }
  QkxdrSource(const QkxdrSource&) = delete;
  QkxdrSource& operator=(const QkxdrSource&) = delete;

  void BeginTop() {}
  void EndTop() {}
  void Int(Tally& t) {
    int32_t v = 0;
    ok_ &= in_->ReadInt(&v);
    t.Int(v);
  }
  void Int64(Tally& t) {
    int64_t v = 0;
    ok_ &= in_->ReadInt64(&v);
    t.Int(v);
  }
  void Double(Tally& t) {
    double v = 0;
    ok_ &= in_->ReadDouble(&v);
    t.Double(v);
  }
  void String(Tally& t) {
    allocator_.Forget();
    ok_ &= in_->ReadString(&allocator_);
    t.Units(allocator_.units(), allocator_.count());
  }
  void Binary(Tally& t) {
    ok_ &= in_->ReadBinary(&slot_);
    t.Units(static_cast<const uint8_t*>(QkXDRBinaryData(&slot_)), QkXDRBinarySize(&slot_));
  }
  void BeginArray(Tally& t) {
    ok_ &= in_->ReadBeginArray();
    t.Marker();
  }
  void EndArray(Tally& t) {
    ok_ &= in_->ReadEndArray();
    t.Marker();
  }
  bool ok() const { return ok_; }

 private:
  QkXDRIStream2* in_;
  ScratchAllocator allocator_;
  QkXDRBinary slot_{};
  bool ok_ = true;
};

// Tallies what QkXDRTextParse reports; strings are copied out, as a caller
// keeping them would.
class TallyHandler final : public QkXDRTextHandler {
 public:
  bool OnDouble(double v) override {
    tally.Double(v);
    return true;
  }
  bool OnInt(int32_t v) override {
    tally.Int(v);
    return true;
  }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    copy_.assign(begin, end);
    tally.Units(copy_.data(), copy_.size());
    return true;
  }
  bool OnBeginArray() override {
    tally.Marker();
    return true;
  }
  bool OnEndArray() override {
    tally.Marker();
    return true;
  }

  Tally tally;

 private:
  std::u16string copy_;
};

QkXDROStream2* Written(QkXDROStream2* out, const Workload& w) {
  if (out == nullptr) throw std::runtime_error("QkXDR writer not available");
  QkxdrSink sink(out);
  Emit(w, sink);
  return out;
}

// Creates a writer with `create`, writes w and returns the output size.
uint64_t WriteAll(QkXDROStream2* (*create)(), const Workload& w) {
  QkXDROStream2* out = Written(create(), w);
  const uint64_t size = out->GetSize();
  out->Release();
  return size;
}

template <QkXDROStream2* (*kCreate)()>
class WriteRunner final : public Runner {
 public:
  explicit WriteRunner(const Workload& w) : w_(w) { bytes_ = WriteAll(kCreate, w); }
  uint64_t Run() override { return WriteAll(kCreate, w_); }

 private:
  const Workload& w_;
};

// The readers' input: QkXDR's own binary encoding of the workload.
struct BinaryInput {
  explicit BinaryInput(const Workload& w) : bytes(QkxdrBinary(w)) {}
  uint64_t size() const { return bytes.size(); }
  QkXDRIStream2* Open() const {
    return QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }

  std::vector<uint8_t> bytes;
};

// The readers' input: QkXDR's own text of the workload.
struct TextInput {
  explicit TextInput(const Workload& w) : text(QkxdrText(w)) {}
  uint64_t size() const { return text.size() * 2; }
  uint32_t length() const { return static_cast<uint32_t>(text.size()); }
  QkXDRIStream2* Open() const { return QkXDRCreateTextIStream2(text.data(), length()); }

  std::u16string text;
};

template <typename Input>
class PullReadRunner final : public Runner {
 public:
  explicit PullReadRunner(const Workload& w) : w_(w), input_(w) {
    bytes_ = input_.size();
    bool ok = false;
    const Tally tally = Read(&ok);
    CheckDelivered(w, tally, ok, "QkXDR reader");
  }
  uint64_t Run() override {
    bool ok;
    return Digest(Read(&ok));
  }

 private:
  // Reads all of the workload; `ok` tells whether every read succeeded and
  // nothing was left.
  Tally Read(bool* ok) {
    QkXDRIStream2* in = input_.Open();
    if (in == nullptr) throw std::runtime_error("QkXDR reader not available");
    Tally tally;
    {
      QkxdrSource source(in);
      Consume(w_, source, tally);
      *ok = source.ok() && !in->IsValid();
    }
    in->Release();
    return tally;
  }

  const Workload& w_;
  Input input_;
};

class TextParseRunner final : public Runner {
 public:
  explicit TextParseRunner(const Workload& w) : input_(w) {
    bytes_ = input_.size();
    CheckDelivered(w, Parse(), true, "QkXDRTextParse");
  }
  uint64_t Run() override { return Digest(Parse()); }

 private:
  Tally Parse() {
    TallyHandler handler;
    QkXDRTextParse(&handler, input_.text.data(), input_.length());
    return handler.tally;
  }

  TextInput input_;
};

}  // namespace

std::vector<uint8_t> QkxdrBinary(const Workload& w) {
  QkXDROStream2* out = Written(QkXDRCreateOStream2(), w);
  const auto* data = static_cast<const uint8_t*>(out->GetData());
  std::vector<uint8_t> bytes(data, data + out->GetSize());
  out->Release();
  return bytes;
}

std::u16string QkxdrText(const Workload& w) {
  QkXDROStream2* out = Written(QkXDRCreateTextOStream2(), w);
  const auto* data = static_cast<const char16_t*>(out->GetData());
  std::u16string text(data, data + out->GetSize() / 2);
  out->Release();
  return text;
}

void AddQkxdrCases(std::vector<Case>& cases) {
  for (Kind kind : kAllKinds) {
    cases.push_back({kind, "qkxdr", "binary-write", MakeRunner<WriteRunner<QkXDRCreateOStream2>>});
    cases.push_back({kind, "qkxdr", "binary-read", MakeRunner<PullReadRunner<BinaryInput>>});
    if (kind == Kind::Blobs) continue;
    cases.push_back(
        {kind, "qkxdr", "text-write", MakeRunner<WriteRunner<QkXDRCreateTextOStream2>>});
    cases.push_back({kind, "qkxdr", "text-read", MakeRunner<PullReadRunner<TextInput>>});
    cases.push_back({kind, "qkxdr", "text-parse", MakeRunner<TextParseRunner>});
  }
}

}  // namespace bench
