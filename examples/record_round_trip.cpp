// Writes a record with the C++ layer in both encodings, reads it back, and
// checks that the same record comes out.

#include <QkXDR.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct Reading {
  std::int64_t id = 0;
  std::string station;  // UTF-8
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

// Reads one record. A value that is missing or of another type throws
// qkxdr::BadResultAccess from value(), whose error() tells what was found.
Reading Load(qkxdr::Reader& in) {
  Reading r;
  in.begin_array().value();
  r.id = in.read_int64().value();
  r.station = in.read_string().value();
  r.label = in.read_u16string().value();
  in.begin_array().value();
  while (auto v = in.read_double()) r.values.push_back(*v);  // up to the array's end
  in.end_array().value();
  r.raw = in.read_bytes().value();
  in.end_array().value();
  return r;
}

int main() {
  // Doubles in text keep 10 significant digits; these survive exactly.
  const Reading sent{5000000000,
                     "Z\u00fcrich-7",
                     u"Pegel \u00d6stersund",
                     {21.5, -3.25, 0.125},
                     {0x00, 0xFF, 0x10}};

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

  bool ok = false;
  try {
    ok = Load(from_bytes) == sent && Load(from_text) == sent;
  } catch (const qkxdr::BadResultAccess& e) {
    std::fprintf(stderr, "%s\n", e.error().message().c_str());
  }
  std::printf("binary: %zu bytes, text: %zu units, round trip %s\n", bytes.size(), chars.size(),
              ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
