// Streaming reads. QkXDR's stream readers (qkxdr/stream.hpp) are fed the
// encoded workload in chunks of 4 KiB and 64 KiB, and after each chunk the
// values it completed are read, value by value, through the view next_all()
// hands out ("stream-*-read-4k", "-64k"); the same typed reads run over the
// whole buffer with the library's decoder, as from_binary and from_text read
// ("decoder-*-read"), which is what streaming costs on top. msgpack-c's
// msgpack::unpacker is fed its own encoding of the values, one top-level
// object each, in the same chunks ("msgpack/stream-read-*").

#include <msgpack.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "cases.h"
#include "qkxdr/stream.hpp"

namespace bench {
namespace {

// The reads of a view, over a decoder of the whole buffer: each value read
// as from_binary and from_text read theirs.
template <typename Decoder>
class WholeBuffer {
 public:
  template <typename Unit>
  explicit WholeBuffer(const std::basic_string<Unit>& input)
      : decoder_(input.data(), input.data() + input.size()), size_(input.size()) {}

  bool valid() const { return decoder_.IsValid(); }
  template <typename T>
  qkxdr::Result<void> read(T& out) {
    return qkxdr::detail::DecodeNext(decoder_, size_, qkxdr::ReadLimits{}, out);
  }
  template <typename T>
  qkxdr::Result<T> read() {
    T value{};
    qkxdr::Result<void> done = read(value);
    if (!done) return done.error();
    return qkxdr::Result<T>(std::move(value));
  }
  qkxdr::Result<void> begin_array() { return Marker(decoder_.ReadBeginArray()); }
  qkxdr::Result<void> end_array() { return Marker(decoder_.ReadEndArray()); }

 private:
  static qkxdr::Result<void> Marker(bool ok) {
    if (ok) return {};
    return qkxdr::Error(qkxdr::ErrorCode::type_mismatch, 0, "not an array marker");
  }

  Decoder decoder_;
  std::size_t size_;
};

// Reads Consume's calls, value by value, from the views that next_all()
// hands out, asking for the next one whenever the one in hand has no value
// left.
template <typename View, typename Next>
class ViewSource {
 public:
  explicit ViewSource(Next next) : next_(next) {}
  static constexpr bool kBinary = std::is_same_v<View, qkxdr::BinaryValues> ||
                                  std::is_same_v<View, WholeBuffer<qkxdr::impl::BinaryDecoder>>;

  void BeginTop() {}
  void EndTop() {}
  void Int(Tally& t) { t.Int(Take<int32_t>()); }
  void Int64(Tally& t) { t.Int(Take<int64_t>()); }
  void Double(Tally& t) { t.Double(Take<double>()); }
  // Strings as bytes from binary (as msgpack's), as UTF-16 from text, each
  // into one kept string, as a caller keeping it would.
  void String(Tally& t) {
    if constexpr (kBinary) {
      ok_ &= Current().read(narrow_).ok();  // ASCII: a byte a unit
      t.Units(reinterpret_cast<const uint8_t*>(narrow_.data()), narrow_.size());
    } else {
      ok_ &= Current().read(wide_).ok();
      t.Units(wide_.data(), wide_.size());
    }
  }
  void Binary(Tally& t) {
    if constexpr (kBinary) {
      ok_ &= Current().read(bytes_).ok();
      t.Units(bytes_.data(), bytes_.size());
    } else {
      t.Units(static_cast<const uint8_t*>(nullptr), 0);
    }
  }
  void BeginArray(Tally& t) {
    ok_ &= Current().begin_array().ok();
    t.Marker();
  }
  void EndArray(Tally& t) {
    ok_ &= Current().end_array().ok();
    t.Marker();
  }
  bool ok() const { return ok_; }

 private:
  template <typename T>
  T Take() {
    qkxdr::Result<T> v = Current().template read<T>();
    ok_ &= v.ok();
    return v ? std::move(*v) : T{};
  }
  View& Current() {
    if (in_ == nullptr || !in_->valid()) in_ = next_();
    return *in_;
  }

  Next next_;
  View* in_ = nullptr;
  std::string narrow_;
  std::u16string wide_;
  std::vector<uint8_t> bytes_;
  bool ok_ = true;
};

template <typename View, typename Next>
Tally ReadWith(const Workload& w, Next next, bool* ok) {
  ViewSource<View, Next> source(next);
  Tally tally;
  Consume(w, source, tally);
  *ok = source.ok();
  return tally;
}

// An input: QkXDR's binary or text encoding, with its reader and view.
struct BinaryEncoding {
  using Unit = uint8_t;
  using Decoder = qkxdr::impl::BinaryDecoder;
  using View = qkxdr::BinaryValues;
  using Reader = qkxdr::BinaryStreamReader;
  static std::basic_string<Unit> Encode(const Workload& w) {
    const std::vector<uint8_t> bytes = QkxdrBinary(w);
    return {bytes.begin(), bytes.end()};
  }
};
struct TextEncoding {
  using Unit = char16_t;
  using Decoder = qkxdr::impl::TextDecoder;
  using View = qkxdr::TextValues;
  using Reader = qkxdr::TextStreamReader;
  static std::basic_string<Unit> Encode(const Workload& w) { return QkxdrText(w); }
};

// Reads the whole buffer with the decoder (kChunk 0) or feeds it to the
// stream reader in chunks of kChunk bytes.
template <typename Encoding, size_t kChunk>
class StreamReadRunner final : public Runner {
  using Unit = typename Encoding::Unit;
  using View = typename Encoding::View;

 public:
  explicit StreamReadRunner(const Workload& w) : w_(w), input_(Encoding::Encode(w)) {
    bytes_ = input_.size() * sizeof(Unit);
    bool ok = false;
    const Tally tally = Read(&ok);
    CheckDelivered(w, tally, ok, "QkXDR stream reader");
  }
  uint64_t Run() override {
    bool ok = false;
    return Digest(Read(&ok));
  }

 private:
  Tally Read(bool* ok) {
    if constexpr (kChunk == 0) {
      WholeBuffer<typename Encoding::Decoder> whole(input_);
      return ReadWith<WholeBuffer<typename Encoding::Decoder>>(
          w_, [&whole] { return &whole; }, ok);
    }
    typename Encoding::Reader reader;
    size_t fed = 0;
    return ReadWith<View>(
        w_, [this, &reader, &fed] { return Next(reader, fed); }, ok);
  }

  // The next values, feeding chunks until one is complete.
  View* Next(typename Encoding::Reader& reader, size_t& fed) {
    constexpr size_t kUnits = kChunk / sizeof(Unit);
    while (true) {
      if (View* values = reader.next_all()) return values;
      if (fed == input_.size()) throw std::runtime_error("QkXDR stream reader: no value left");
      const size_t n = std::min(kUnits, input_.size() - fed);
      reader.feed(input_.data() + fed, n);
      fed += n;
      if (fed == input_.size()) reader.finish();
    }
  }

  const Workload& w_;
  std::basic_string<Unit> input_;
};

// Tallies one top-level msgpack object of w's kind.
class ObjectTally {
 public:
  void Value(Kind kind, const msgpack::object& o, Tally& t) {
    switch (kind) {
      case Kind::Ints:
        return t.Int(o.as<int32_t>());
      case Kind::Doubles:
        return t.Double(o.as<double>());
      case Kind::Strings:
        return String(o, t);
      case Kind::Blobs:
        if (o.type != msgpack::type::BIN) throw msgpack::type_error();
        return t.Units(reinterpret_cast<const uint8_t*>(o.via.bin.ptr), o.via.bin.size);
      case Kind::Records:
        return Record(o, t);
    }
  }

 private:
  static const msgpack::object* Array(const msgpack::object& o, uint32_t n, Tally& t) {
    if (o.type != msgpack::type::ARRAY || o.via.array.size != n) throw msgpack::type_error();
    t.Marker();
    t.Marker();
    return o.via.array.ptr;
  }
  void String(const msgpack::object& o, Tally& t) {
    const auto view = o.as<std::string_view>();
    copy_.assign(view.data(), view.size());
    t.Units(reinterpret_cast<const uint8_t*>(copy_.data()), copy_.size());
  }
  void Record(const msgpack::object& o, Tally& t) {
    const msgpack::object* field = Array(o, 5, t);
    t.Int(field[0].as<int32_t>());
    t.Double(field[1].as<double>());
    String(field[2], t);
    t.Int(field[3].as<int64_t>());
    const msgpack::object* triple = Array(field[4], 3, t);
    for (int i = 0; i < 3; ++i) t.Int(triple[i].as<int32_t>());
  }

  std::string copy_;
};

bool ByReference(msgpack::type::object_type, std::size_t, void*) { return true; }

template <size_t kChunk>
class MsgpackStreamRunner final : public Runner {
 public:
  explicit MsgpackStreamRunner(const Workload& w) : w_(w), input_(MsgpackSequence(w)) {
    bytes_ = input_.size();
    CheckDelivered(w, Read(), true, "msgpack::unpacker");
  }
  uint64_t Run() override { return Digest(Read()); }

 private:
  Tally Read() {
    msgpack::unpacker unpacker(ByReference);
    msgpack::object_handle handle;
    ObjectTally objects;
    Tally tally;
    for (size_t fed = 0; fed < input_.size(); fed += kChunk) {
      const size_t n = std::min(kChunk, input_.size() - fed);
      unpacker.reserve_buffer(n);
      std::memcpy(unpacker.buffer(), input_.data() + fed, n);
      unpacker.buffer_consumed(n);
      while (unpacker.next(handle)) objects.Value(w_.kind, handle.get(), tally);
    }
    return tally;
  }

  const Workload& w_;
  std::string input_;
};

}  // namespace

void AddStreamCases(std::vector<Case>& cases) {
  constexpr size_t k4K = 4096;
  constexpr size_t k64K = 65536;
  for (Kind kind : kAllKinds) {
    cases.push_back(
        {kind, "qkxdr", "decoder-binary-read", MakeRunner<StreamReadRunner<BinaryEncoding, 0>>});
    cases.push_back({kind, "qkxdr", "stream-binary-read-4k",
                     MakeRunner<StreamReadRunner<BinaryEncoding, k4K>>});
    cases.push_back({kind, "qkxdr", "stream-binary-read-64k",
                     MakeRunner<StreamReadRunner<BinaryEncoding, k64K>>});
    cases.push_back({kind, "msgpack", "stream-read-4k", MakeRunner<MsgpackStreamRunner<k4K>>});
    cases.push_back({kind, "msgpack", "stream-read-64k", MakeRunner<MsgpackStreamRunner<k64K>>});
    if (kind == Kind::Blobs) continue;  // no text form
    cases.push_back(
        {kind, "qkxdr", "decoder-text-read", MakeRunner<StreamReadRunner<TextEncoding, 0>>});
    cases.push_back(
        {kind, "qkxdr", "stream-text-read-4k", MakeRunner<StreamReadRunner<TextEncoding, k4K>>});
    cases.push_back(
        {kind, "qkxdr", "stream-text-read-64k", MakeRunner<StreamReadRunner<TextEncoding, k64K>>});
  }
}

}  // namespace bench
