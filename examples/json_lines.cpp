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
  if (const qkxdr::Result<void> written = qkxdr::json::from_json(lines, binary); !written) {
    std::fprintf(stderr, "from_json: %s\n", written.error().message().c_str());
    return 1;
  }

  // The reader points into the bytes: keep them alive.
  const std::vector<std::uint8_t> bytes = binary.bytes();
  qkxdr::BinaryReader reader(bytes);
  const qkxdr::Result<std::string> json = qkxdr::json::to_json(reader);
  if (!json) {
    std::fprintf(stderr, "to_json: %s\n", json.error().message().c_str());
    return 1;
  }
  const std::string& back = *json;
  const bool ok = back == lines;
  std::printf("%zu bytes of JSON, %zu bytes binary, round trip %s\n", lines.size(), bytes.size(),
              ok ? "ok" : "FAILED");
  if (!ok) std::fputs(back.c_str(), stderr);
  return ok ? 0 : 1;
}
