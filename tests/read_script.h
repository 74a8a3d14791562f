// Reading sessions as scripts: space-separated operations run on one reader
// of either encoding and generation, each giving a short result, so that one
// table row states a whole session. "Op*3" runs Op three times.
//
// Operations and results: Peek and Type give the type's name; Begin, End:
// yes/no; Int, Int64, Double: the number or "no"; Str, StrA: the units in hex
// ("[0061 0062]"), "ok" when no buffer was asked for, "no"; StrNull, StrANull:
// the same with an allocator that refuses ("refused" when it was asked);
// Bin: the blob's bytes or "no"; Skip: "-"; Valid: 1/0; Nulls: "yes" when
// any read with a null output succeeds.

#ifndef QKXDR_TESTS_READ_SCRIPT_H_
#define QKXDR_TESTS_READ_SCRIPT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <type_traits>

#include "QkXDR.h"
#include "test_allocator.h"
#include "test_util.h"
#include "test_values.h"

namespace read_script {

inline std::string TypeName(test_values::Kind kind) {
  static const char* const kNames[] = {"ArrayBegin", "ArrayEnd", "Int",    "Int64", "Double",
                                       "String",     "StringA",  "Binary", "None"};
  return kNames[static_cast<int>(kind)];
}

// "[61 62]": n elements of Unit in hex; checks that the one after them is
// still the allocator's marker.
template <typename Unit>
std::string Hex(const Unit* p, size_t n, bool check_marker) {
  std::string text = "[";
  for (size_t k = 0; k < n; ++k) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%s%0*X", k == 0 ? "" : " ", static_cast<int>(2 * sizeof(Unit)),
                  static_cast<unsigned>(p[k]));
    text += hex;
  }
  EXPECT_TRUE(!check_marker || p[n] == static_cast<Unit>(0xCCCC)) << "written beyond " << n;
  return text + "]";
}

template <typename Unit>
std::string Units(bool ok, const TestAllocator& allocator) {
  if (!ok) {
    EXPECT_TRUE(allocator.requests.empty()) << "a failed read asked for a buffer";
    return "no";
  }
  if (allocator.requests.empty()) return "ok";
  if (allocator.buffers.empty()) return "refused";
  return Hex(reinterpret_cast<const Unit*>(allocator.buffers[0].get()), allocator.requests[0],
             true);
}

// The number read into v, or "no"; a failed read must leave v alone.
template <typename T, typename ReadFn>
std::string Number(ReadFn read) {
  T v = 7;
  if (read(&v)) return std::is_same_v<T, double> ? DoubleText(v) : std::to_string(v);
  EXPECT_EQ(v, 7) << "a failed read wrote its output";
  return "no";
}

template <typename I>
std::string RunOne(I* r, const std::string& op) {
  TestAllocator allocator;
  TestAllocator refusing(true);
  if (op == "Peek") return TypeName(test_values::KindOf(r->PeekType()));
  if (op == "Type") return TypeName(test_values::KindOf(r->ReadType()));
  if (op == "Begin") return r->ReadBeginArray() ? "yes" : "no";
  if (op == "End") return r->ReadEndArray() ? "yes" : "no";
  if (op == "Valid") return r->IsValid() ? "1" : "0";
  if (op == "Skip") return r->Skip(), "-";
  if (op == "Int") return Number<int32_t>([r](int32_t* v) { return r->ReadInt(v); });
  if (op == "Double") return Number<double>([r](double* v) { return r->ReadDouble(v); });
  if (op == "Str") return Units<char16_t>(r->ReadString(&allocator), allocator);
  if (op == "StrNull") return Units<char16_t>(r->ReadString(&refusing), refusing);
  if (op == "Nulls") {
    bool any = r->ReadInt(nullptr) || r->ReadDouble(nullptr) || r->ReadString(nullptr);
    if constexpr (std::is_same_v<I, QkXDRIStream2>) {
      any = any || r->ReadInt64(nullptr) || r->ReadStringA(nullptr) || r->ReadBinary(nullptr);
    }
    return any ? "yes" : "no";
  }
  if constexpr (std::is_same_v<I, QkXDRIStream2>) {
    if (op == "Int64") return Number<int64_t>([r](int64_t* v) { return r->ReadInt64(v); });
    if (op == "StrA") return Units<uint8_t>(r->ReadStringA(&allocator), allocator);
    if (op == "StrANull") return Units<uint8_t>(r->ReadStringA(&refusing), refusing);
    if (op == "Bin") {
      // The slot holds a view before; a failed read must leave it.
      const uint8_t before = 0;
      QkXDRBinary slot{};
      QkXDRBinaryAttach(&slot, &before, 1);
      const bool ok = r->ReadBinary(&slot);
      const auto* data = static_cast<const uint8_t*>(QkXDRBinaryData(&slot));
      const std::string result = ok ? Hex(data, QkXDRBinarySize(&slot), false) : "no";
      EXPECT_TRUE(ok || data == &before) << "a failed ReadBinary changed the slot";
      QkXDRBinaryFree(&slot);
      return result;
    }
  }
  ADD_FAILURE() << "unknown operation " << op;
  return "?";
}

// Runs the script on r and returns the results, space-separated. After
// every read that failed, state(r) must be what it was before.
template <typename I, typename State>
std::string Run(I* r, const std::string& ops, State state) {
  std::istringstream in(ops);
  std::string results;
  for (std::string op; in >> op;) {
    const auto star = op.find('*');
    const int times = star == std::string::npos ? 1 : std::stoi(op.substr(star + 1));
    for (int k = 0; k < times; ++k) {
      const auto before = state(r);
      const std::string result = RunOne(r, op.substr(0, star));
      EXPECT_TRUE(result != "no" || state(r) == before) << op << " failed but moved";
      results += (results.empty() ? "" : " ") + result;
    }
  }
  return results;
}

}  // namespace read_script

#endif  // QKXDR_TESTS_READ_SCRIPT_H_
