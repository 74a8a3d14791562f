// Typed values: a struct made serializable with one line, written to both
// encodings, read back, read by a newer version of the struct, and a read
// that fails with its place.
#include <qkxdr/typed.hpp>

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct Order {
  std::uint32_t id = 0;
  std::string item;
  double price = 0;
  QKXDR_FIELDS(id, item, price)
};

// A later version: one more field at the end.
struct OrderV2 {
  std::uint32_t id = 0;
  std::string item;
  double price = 0;
  std::optional<std::string> coupon;
  QKXDR_FIELDS(id, item, price, coupon)
};

int main() {
  const std::vector<Order> orders = {{1, "tea", 3.5}, {2, "cake", 4.25}};

  const std::vector<std::uint8_t> bytes = qkxdr::to_binary(orders).value();
  const qkxdr::Result<std::vector<Order>> back = qkxdr::from_binary<std::vector<Order>>(bytes);
  if (!back || back->size() != 2 || (*back)[1].item != "cake") return 1;

  // Old data, new struct: the missing field keeps its default.
  const auto newer = qkxdr::from_binary<std::vector<OrderV2>>(bytes);
  if (!newer || (*newer)[0].coupon) return 1;

  // The text form of a map of orders: [[key,value],...].
  const std::map<std::string, Order> by_name = {{"first", orders[0]}};
  const std::u16string text = qkxdr::to_text(by_name).value();
  std::printf("%zu bytes of binary, %zu units of text\n", bytes.size(), text.size());

  // A price written as a string is reported with its place.
  const auto bad = qkxdr::from_text<std::vector<Order>>(u"[[1,'tea','3.5']]");
  if (bad) return 1;
  std::printf("%s\n", bad.error().message().c_str());
  return 0;
}
