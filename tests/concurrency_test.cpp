// Streams on different threads share no mutable state: the tables they read
// are constants built at compile time, and a reader only reads its input.
// Run under ThreadSanitizer (label "concurrency", preset tsan), a write to
// anything shared would show as a data race.

#include <gtest/gtest.h>

#include <future>
#include <tuple>
#include <vector>

#include "test_values.h"

namespace {

using namespace test_values;

// Four threads write the values in both encodings, read both back and parse
// the text; each gets what one thread alone gets, and that is right.
TEST(Concurrency, WriteReadAndParseOnFourThreads) {
  const Values values = Generator(11).Sequence(3000);
  const Bytes binary = Encode(QkXDRCreateOStream2(), values);
  const std::u16string text = TextOf(Encode(QkXDRCreateTextOStream2(), values));
  const auto work = [&] {
    Recorder parsed;
    QkXDRTextParse(&parsed, text.data(), static_cast<uint32_t>(text.size()));
    return std::make_tuple(Encode(QkXDRCreateOStream2(), values),
                           Encode(QkXDRCreateTextOStream2(), values),
                           ReadAll(Open<QkXDRIStream2>(binary)),
                           ReadAll(Open<QkXDRIStream2>(text.data(), text.size())), parsed.events);
  };
  ExpectRoundTrip(values);
  const auto alone = work();
  std::vector<std::future<decltype(work())>> threads;
  for (int t = 0; t < 4; ++t) threads.push_back(std::async(std::launch::async, work));
  for (auto& thread : threads) EXPECT_TRUE(thread.get() == alone);
}

}  // namespace
