// Streams records through a pipe in bounded memory:
//   ./stream_pipe write | ./stream_pipe
// The writer passes its output on every 64 KiB; the reader takes each record
// as soon as its last byte has arrived, whatever the chunks are.

#include <qkxdr/stream.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

struct Reading {
  std::int32_t sensor = 0;
  double value = 0;
  std::string unit;
  QKXDR_FIELDS(sensor, value, unit)
};

int Write() {
  qkxdr::BinaryStreamWriter out(
      [](const std::uint8_t* data, std::size_t n) { return std::fwrite(data, 1, n, stdout) == n; });
  for (std::int32_t i = 0; i < 1000000 && out.ok(); ++i)
    out.write(Reading{i % 16, i * 0.25, "kPa"});
  const qkxdr::Result<void> flushed = out.flush();
  if (!flushed) std::fprintf(stderr, "%s\n", flushed.error().message().c_str());
  return flushed ? 0 : 1;
}

int Read() {
  qkxdr::BinaryStreamReader in;
  std::uint8_t chunk[4096];
  std::uint64_t count = 0;
  double sum = 0;
  for (bool more = true; more;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, stdin);
    more = n != 0;
    if (more) {
      in.feed(chunk, n);
    } else {
      in.finish();  // the end of the input completes nothing, but checks it
    }
    while (qkxdr::BinaryValues* value = in.next()) {
      const qkxdr::Result<Reading> reading = value->read<Reading>();
      if (!reading) {
        std::fprintf(stderr, "%s\n", reading.error().message().c_str());
        return 1;
      }
      sum += reading->value;
      ++count;
    }
  }
  if (in.failed()) {
    std::fprintf(stderr, "%s\n", in.error().message().c_str());
    return 1;
  }
  std::printf("%llu readings, sum %.2f\n", static_cast<unsigned long long>(count), sum);
  return 0;
}

int main(int argc, char** argv) {
  return argc > 1 && std::strcmp(argv[1], "write") == 0 ? Write() : Read();
}
