// QkXDR through its public interfaces, as its users call it: the binary and
// text writers, the pull readers, and QkXDRTextParse.

#include <stdexcept>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "cases.h"

namespace bench {
namespace {

// Which string calls a case makes: WriteString and ReadString with UTF-16
// units, or WriteStringA and ReadStringA with bytes. The text paths use
// UTF-16, as RapidJSON does; the binary paths bytes, as msgpack does, and
// UTF-16 in the cases whose operation ends in "-utf16".
enum class Width { kUtf16, kBytes };

// Writes into either writer: binary and text share the interface.
class QkxdrSink {
 public:
  QkxdrSink(QkXDROStream2* out, Width width) : out_(out), width_(width) {}
  void BeginTop(size_t) {}
  void EndTop() {}
  void Int(int32_t v) { out_->WriteInt(v); }
  void Int64(int64_t v) { out_->WriteInt64(v); }
  void Double(double v) { out_->WriteDouble(v); }
  void String(const Text& s) {
    if (width_ == Width::kUtf16) {
      out_->WriteString(s.wide.c_str());
    } else {
      out_->WriteStringA(s.narrow.c_str());
    }
  }
  void Binary(const Blob& b) { out_->WriteBinary(&b.slot); }
  void BeginArray(size_t) { out_->BeginArray(); }
  void EndArray() { out_->EndArray(); }

 private:
  QkXDROStream2* out_;
  Width width_;
};

// Hands out one reused buffer, as large as the longest string asked for
// (in UTF-16 units, so that it holds as many bytes too).
class ScratchAllocator final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    count_ = count;
    if (count > buffer_.size()) buffer_.resize(count);
    return buffer_.data();
  }
  void Forget() { count_ = 0; }
  // Tallies the string delivered last, as units of the given width.
  void TallyString(Width width, Tally& t) const {
    if (width == Width::kUtf16) {
      t.Units(buffer_.data(), count_);
    } else {
      t.Units(reinterpret_cast<const uint8_t*>(buffer_.data()), count_);
    }
  }

 private:
  std::vector<char16_t> buffer_;
  uint32_t count_ = 0;
};

// Reads from either reader; every read must succeed.
class QkxdrSource {
 public:
  QkxdrSource(QkXDRIStream2* in, Width width) : in_(in), width_(width) {}
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
    if (width_ == Width::kUtf16) {
      ok_ &= in_->ReadString(&allocator_);
    } else {
      ok_ &= in_->ReadStringA(&allocator_);
    }
    allocator_.TallyString(width_, t);
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
  Width width_;
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

QkXDROStream2* Written(QkXDROStream2* out, const Workload& w, Width width) {
  if (out == nullptr) throw std::runtime_error("QkXDR writer not available");
  QkxdrSink sink(out, width);
  Emit(w, sink);
  return out;
}

// Creates a writer with `create`, writes w and returns the output size.
uint64_t WriteAll(QkXDROStream2* (*create)(), const Workload& w, Width width) {
  QkXDROStream2* out = Written(create(), w, width);
  const uint64_t size = out->GetSize();
  out->Release();
  return size;
}

template <QkXDROStream2* (*kCreate)(), Width kWidth>
class WriteRunner final : public Runner {
 public:
  explicit WriteRunner(const Workload& w) : w_(w) { bytes_ = WriteAll(kCreate, w, kWidth); }
  uint64_t Run() override { return WriteAll(kCreate, w_, kWidth); }

 private:
  const Workload& w_;
};

// The readers' input: QkXDR's own binary encoding of the workload.
template <Width kWidth>
struct BinaryInput {
  static constexpr Width kStrings = kWidth;
  explicit BinaryInput(const Workload& w) : bytes(QkxdrBinary(w)) {}
  uint64_t size() const { return bytes.size(); }
  QkXDRIStream2* Open() const {
    return QkXDRCreateIStream2(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }

  std::vector<uint8_t> bytes;
};

// The readers' input: QkXDR's own text of the workload.
struct TextInput {
  static constexpr Width kStrings = Width::kUtf16;
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
      QkxdrSource source(in, Input::kStrings);
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
  QkXDROStream2* out = Written(QkXDRCreateOStream2(), w, Width::kBytes);
  const auto* data = static_cast<const uint8_t*>(out->GetData());
  std::vector<uint8_t> bytes(data, data + out->GetSize());
  out->Release();
  return bytes;
}

std::u16string QkxdrText(const Workload& w) {
  QkXDROStream2* out = Written(QkXDRCreateTextOStream2(), w, Width::kUtf16);
  const auto* data = static_cast<const char16_t*>(out->GetData());
  std::u16string text(data, data + out->GetSize() / 2);
  out->Release();
  return text;
}

void AddQkxdrCases(std::vector<Case>& cases) {
  using BinaryWrite = WriteRunner<QkXDRCreateOStream2, Width::kBytes>;
  using BinaryWrite16 = WriteRunner<QkXDRCreateOStream2, Width::kUtf16>;
  using TextWrite = WriteRunner<QkXDRCreateTextOStream2, Width::kUtf16>;
  using CallsOnly = WriteRunner<CreateCallCounter, Width::kBytes>;
  using CallsOnly16 = WriteRunner<CreateCallCounter, Width::kUtf16>;
  for (Kind kind : kAllKinds) {
    cases.push_back({kind, "calls", "write", MakeRunner<CallsOnly>});
    if (kind == Kind::Strings || kind == Kind::Records)
      cases.push_back({kind, "calls", "write-utf16", MakeRunner<CallsOnly16>});
    cases.push_back({kind, "qkxdr", "binary-write", MakeRunner<BinaryWrite>});
    cases.push_back(
        {kind, "qkxdr", "binary-read", MakeRunner<PullReadRunner<BinaryInput<Width::kBytes>>>});
    if (kind == Kind::Strings || kind == Kind::Records) {
      cases.push_back({kind, "qkxdr", "binary-write-utf16", MakeRunner<BinaryWrite16>});
      cases.push_back({kind, "qkxdr", "binary-read-utf16",
                       MakeRunner<PullReadRunner<BinaryInput<Width::kUtf16>>>});
    }
    if (kind == Kind::Blobs) continue;
    cases.push_back({kind, "qkxdr", "text-write", MakeRunner<TextWrite>});
    cases.push_back({kind, "qkxdr", "text-read", MakeRunner<PullReadRunner<TextInput>>});
    cases.push_back({kind, "qkxdr", "text-parse", MakeRunner<TextParseRunner>});
  }
}

}  // namespace bench
