#include "typed.h"

#include <cmath>
#include <map>
#include <memory>

namespace bench {
namespace {

template <typename Str>
BasicRecord<Str> Typed(const Record& r, const Str& name) {
  return {r.id, r.score, name, r.stamp, {r.triple[0], r.triple[1], r.triple[2]}};
}

// Each container is reserved first and filled in order, so that its strings
// and blobs lie in the heap in the order they are visited.
void Fill(const Workload& w, TypedSet& set) {
  auto& [ints, doubles, strings, strings16, blobs, records, records16] = set;
  ints = w.ints;
  doubles = w.doubles;
  strings.reserve(w.strings.size());
  strings16.reserve(w.strings.size());
  for (const Text& s : w.strings) strings.push_back(s.narrow);
  for (const Text& s : w.strings) strings16.push_back(s.wide);
  blobs.reserve(w.blobs.size());
  for (const Blob& b : w.blobs) blobs.push_back(b.bytes);
  records.reserve(w.records.size());
  records16.reserve(w.records.size());
  for (const Record& r : w.records) records.push_back(Typed(r, r.name.narrow));
  for (const Record& r : w.records) records16.push_back(Typed(r, r.name.wide));
}

}  // namespace

const TypedSet& ValuesOf(const Workload& w) {
  static std::map<const Workload*, std::unique_ptr<TypedSet>> made;
  std::unique_ptr<TypedSet>& set = made[&w];
  if (!set) {
    set = std::make_unique<TypedSet>();
    Fill(w, *set);
  }
  return *set;
}

bool Same(double a, double b, bool rounded) {
  return a == b || (rounded && std::fabs(a - b) <= 1e-9 * std::fabs(a));
}

}  // namespace bench
