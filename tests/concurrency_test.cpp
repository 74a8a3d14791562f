// Streams on different threads share nothing but constant tables: four
// threads started together write the same values, read the same input and
// parse the same text, and each gets what a single thread gets. Each test
// runs in a process of its own, so the readers' first blobs are decoded on
// four threads at once. Labelled "concurrency"; CI runs these tests under
// ThreadSanitizer (preset tsan).

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "QkXDR.h"

namespace {

constexpr int kThreads = 4;

// Runs work() on kThreads threads that start together; returns the results.
template <typename Work>
auto OnThreads(Work work) {
  std::vector<decltype(work())> results(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      results[t] = work();
    });
  }
  for (std::thread& thread : threads) thread.join();
  return results;
}

// Values of every kind, in nested arrays.
std::string Written(QkXDROStream2* out) {
  const uint8_t bytes[] = {0x01, 0xAB, 0xFF};
  QkXDRBinary blob{};
  QkXDRBinaryAttach(&blob, bytes, sizeof bytes);
  for (int i = 0; i < 300; ++i) {
    out->BeginArray();
    out->WriteInt(i);
    out->WriteInt64(-(int64_t{i} << 40));
    out->WriteDouble(i / 3.0);
    out->WriteString(u"quote\" backslash\\ \u20AC");
    out->WriteStringA("bytes");
    out->WriteBinary(&blob);
    out->EndArray();
  }
  std::string written(static_cast<const char*>(out->GetData()), out->GetSize());
  out->Release();
  return written;
}

class StringBuffer final : public QkXDRAllocator {
 public:
  void* Alloc(uint32_t count) override {
    text.assign(count, '\0');
    return text.data();
  }
  std::string text;
};

// Reads every value and describes it as text.
std::string Described(QkXDRIStream2* in) {
  std::string d;
  int64_t i;
  double v;
  StringBuffer s;
  QkXDRBinary blob{};
  while (in->IsValid()) {
    switch (in->PeekType()) {
      case QkXDRType2::Int:
        in->ReadInt64(&i);
        d += "i" + std::to_string(i);
        break;
      case QkXDRType2::Double:
        in->ReadDouble(&v);
        d += "d" + std::to_string(v);
        break;
      case QkXDRType2::String:
        in->ReadStringA(&s);
        d += "s" + s.text;
        break;
      case QkXDRType2::Binary:
        in->ReadBinary(&blob);
        d += "b" +
             std::string(static_cast<const char*>(QkXDRBinaryData(&blob)), QkXDRBinarySize(&blob));
        break;
      default:
        d += static_cast<char>('0' + static_cast<int>(in->ReadType()));
        break;
    }
  }
  QkXDRBinaryFree(&blob);
  in->Release();
  return d;
}

// A text writer's output as the units it holds.
std::u16string Units(const std::string& written) {
  std::u16string text(written.size() / 2, u'\0');
  std::memcpy(text.data(), written.data(), written.size());
  return text;
}

struct Encoding {
  const char* name;
  QkXDROStream2* (*create)();
  std::string (*read)(const std::string& written);
};

const Encoding kEncodings[] = {
    {"binary", QkXDRCreateOStream2,
     [](const std::string& written) {
       return Described(QkXDRCreateIStream2(written.data(), static_cast<uint32_t>(written.size())));
     }},
    {"text", QkXDRCreateTextOStream2,
     [](const std::string& written) {
       const std::u16string text = Units(written);
       return Described(QkXDRCreateTextIStream2(text.data(), static_cast<uint32_t>(text.size())));
     }},
};

TEST(Concurrency, WritersAndReadersOnFourThreads) {
  for (const Encoding& encoding : kEncodings) {
    SCOPED_TRACE(encoding.name);
    const std::string alone = Written(encoding.create());
    for (const std::string& written : OnThreads([&] { return Written(encoding.create()); })) {
      EXPECT_EQ(written, alone);
    }
    const std::string described = encoding.read(alone);
    EXPECT_NE(described.find("b\x01\xAB\xFF"), std::string::npos);
    for (const std::string& d : OnThreads([&] { return encoding.read(alone); })) {
      EXPECT_EQ(d, described);
    }
  }
}

class CountingHandler final : public QkXDRTextHandler {
 public:
  bool OnDouble(double) override { return Count(); }
  bool OnInt(int32_t) override { return Count(); }
  bool OnString(const char16_t* begin, const char16_t* end) override {
    units += end - begin;
    return Count();
  }
  bool OnBeginArray() override { return Count(); }
  bool OnEndArray() override { return Count(); }

  long calls = 0;
  long units = 0;

 private:
  bool Count() {
    ++calls;
    return true;
  }
};

TEST(Concurrency, TextParseOnFourThreads) {
  const std::u16string text = Units(Written(QkXDRCreateTextOStream2()));
  const auto parse = [&text] {
    CountingHandler handler;
    QkXDRTextParse(&handler, text.data(), static_cast<uint32_t>(text.size()));
    return std::to_string(handler.calls) + "/" + std::to_string(handler.units);
  };
  const std::string alone = parse();
  // Blobs arrive as strings of their text.
  EXPECT_EQ(alone, std::to_string(300 * 8) + "/" + std::to_string(300 * (19 + 5 + 8)));
  for (const std::string& counts : OnThreads(parse)) EXPECT_EQ(counts, alone);
}

}  // namespace
