// JSON Lines into the binary encoding and back, with the JSON converter of
// qkxdr/json.hpp (CMake: QkXDR::json, component json; pkg-config: qkxdr-json).

#include <qkxdr/json.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int main() {
  const std::string lines = "[1,\"tea\",3.5]\n[2,\"cake\",4.25]\n";

  qkxdr::BinaryWriter binary;
  if (!binary) {
    std::fprintf(stderr, "this library build has no binary writer\n");
    return 1;
  }
  qkxdr::json::Error error;
  if (!qkxdr::json::from_json(lines, binary, {}, &error)) {
    std::fprintf(stderr, "from_json, at byte %zu: %s\n", error.offset, error.message.c_str());
    return 1;
  }

  // The reader points into the bytes: keep them alive.
  const std::vector<std::uint8_t> bytes = binary.bytes();
  qkxdr::BinaryReader reader(bytes);
  std::string back;
  if (!qkxdr::json::to_json(reader, &back, {}, &error)) {
    std::fprintf(stderr, "to_json, at value %zu: %s\n", error.offset, error.message.c_str());
    return 1;
  }
  const bool ok = back == lines;
  std::printf("%zu bytes of JSON, %zu bytes binary, round trip %s\n", lines.size(), bytes.size(),
              ok ? "ok" : "FAILED");
  if (!ok) std::fputs(back.c_str(), stderr);
  return ok ? 0 : 1;
}
