// Parses text with handlers: an object with the five event members, and
// lambdas gathered in a qkxdr::TextEvents.

#include <QkXDR.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Prints an outline of the text; stops at the first negative integer.
struct Outline {
  int depth = 0;

  void Indent() const { std::printf("%*s", 2 * depth, ""); }
  void on_double(double v) {
    Indent();
    std::printf("double %g\n", v);
  }
  bool on_int(std::int32_t v) {
    Indent();
    std::printf("int %d\n", static_cast<int>(v));
    return v >= 0;  // false stops the parse
  }
  void on_string(std::u16string_view s) {  // valid only during the call
    Indent();
    std::printf("string of %zu units\n", s.size());
  }
  void on_begin_array() {
    Indent();
    std::printf("[\n");
    ++depth;
  }
  void on_end_array() {
    --depth;
    Indent();
    std::printf("]\n");
  }
};

int main() {
  const std::u16string_view text = u"[1, 'two', [3.5, \"four\"], []] 5 -6 7";

  Outline outline;
  if (!qkxdr::parse_text(text, outline)) return 1;  // a string holding U+0000, or too long a text

  std::int64_t sum = 0;
  int strings = 0;
  const qkxdr::Result<void> parsed =
      qkxdr::parse_text(text, qkxdr::TextEvents{
                                  [](double) {},
                                  [&](std::int32_t v) { sum += v; },
                                  [&](std::u16string_view) { ++strings; },
                                  [] {},
                                  [] {},
                              });
  if (!parsed) std::printf("%s\n", parsed.error().message().c_str());
  std::printf("sum of integers %lld, %d strings\n", static_cast<long long>(sum), strings);
  return sum == 7 && strings == 2 ? 0 : 1;
}
