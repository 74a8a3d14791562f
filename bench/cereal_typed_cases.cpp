// cereal on the typed values: its BinaryOutputArchive and BinaryInputArchive,
// the record bound by a serialize function beside it. The archives take
// std::ostream and std::istream; here those run over a stream buffer that
// appends to a kept std::string (a std::ostringstream would copy the whole
// output once more to hand it out) and one that reads the encoded bytes in
// place. Loading a vector resizes it and loads every element over the one it
// holds, so the kept object's storage is reused.

#include <cereal/archives/binary.hpp>
#include <cereal/types/array.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include <istream>
#include <ostream>
#include <streambuf>

#include "typed.h"

namespace bench {

template <typename Archive, typename Str>
void serialize(Archive& archive, BasicRecord<Str>& r) {
  archive(r.id, r.score, r.name, r.stamp, r.triple);
}

namespace {

// Appends whatever is written to `out`.
class AppendBuffer final : public std::streambuf {
 public:
  explicit AppendBuffer(std::string& out) : out_(out) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    out_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    out_.push_back(traits_type::to_char_type(c));
    return c;
  }

 private:
  std::string& out_;
};

// Reads the bytes of `in` where they lie.
class ViewBuffer final : public std::streambuf {
 public:
  explicit ViewBuffer(std::string& in) { setg(in.data(), in.data(), in.data() + in.size()); }
};

struct CerealCodec {
  using String = std::string;
  static constexpr bool kBlobs = true;
  static constexpr bool kRounded = false;
  using Encoded = std::string;

  template <typename T>
  static void Encode(const T& value, Encoded& out) {
    out.clear();
    AppendBuffer buffer(out);
    std::ostream stream(&buffer);
    cereal::BinaryOutputArchive archive(stream);
    archive(value);
  }
  // Throws cereal::Exception when the bytes end early.
  template <typename T>
  static bool Decode(Encoded& in, T& out) {
    ViewBuffer buffer(in);
    std::istream stream(&buffer);
    cereal::BinaryInputArchive archive(stream);
    archive(out);
    return true;
  }
  static uint64_t Bytes(const Encoded& e) { return e.size(); }
};

}  // namespace

void AddCerealTypedCases(std::vector<Case>& cases) {
  AddTypedCases<CerealCodec>(cases, "cereal", "save", "load");
}

}  // namespace bench
