// Writes a record with the C++ layer in both encodings, reads it back, and
// checks that the same record comes out.

#include <QkXDR.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct Reading {
  std::int64_t id = 0;
  std::string station;  // 8-bit text
  std::u16string label;
  std::vector<double> values;
  std::vector<std::uint8_t> raw;

  bool operator==(const Reading& o) const {
    return id == o.id && station == o.station && label == o.label && values == o.values &&
           raw == o.raw;
  }
};

// The record is one array: id, station, label, [values...], raw bytes.
void Save(qkxdr::Writer& out, const Reading& r) {
  auto record = out.array();  // ends the array when it goes out of scope
  out.write(r.id);
  out.write(r.station);
  out.write(r.label);
  {
    auto values = out.array();
    for (double v : r.values) out.write(v);
  }
  out.write(r.raw);
}

std::optional<Reading> Load(qkxdr::Reader& in) {
  Reading r;
  if (!in.begin_array()) return std::nullopt;
  auto id = in.read_int64();
  auto station = in.read_string();
  auto label = in.read_u16string();
  if (!id || !station || !label || !in.begin_array()) return std::nullopt;
  while (auto v = in.read_double()) r.values.push_back(*v);
  if (!in.end_array()) return std::nullopt;
  auto raw = in.read_bytes();
  if (!raw || !in.end_array()) return std::nullopt;
  r.id = *id;
  r.station = std::move(*station);
  r.label = std::move(*label);
  r.raw = std::move(*raw);
  return r;
}

int main() {
  // Doubles in text keep 10 significant digits; these survive exactly.
  const Reading sent{
      5000000000, "north-7", u"Pegel \u00d6stersund", {21.5, -3.25, 0.125}, {0x00, 0xFF, 0x10}};

  qkxdr::BinaryWriter binary;
  qkxdr::TextWriter text;
  if (!binary || !text) {
    std::fprintf(stderr, "this library build has no writer of that kind\n");
    return 1;
  }
  Save(binary, sent);
  Save(text, sent);

  // Readers point into their input: keep the bytes and the text alive.
  const std::vector<std::uint8_t> bytes = binary.bytes();
  const std::u16string chars = text.text();
  qkxdr::BinaryReader from_bytes(bytes);
  qkxdr::TextReader from_text(chars);

  const bool ok = Load(from_bytes) == sent && Load(from_text) == sent;
  std::printf("binary: %zu bytes, text: %zu units, round trip %s\n", bytes.size(), chars.size(),
              ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
