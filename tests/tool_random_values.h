// Random sequences of values for the tests of the qkxdr tool, written with
// the library's writers.

#ifndef QKXDR_TESTS_TOOL_RANDOM_VALUES_H_
#define QKXDR_TESTS_TOOL_RANDOM_VALUES_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "values.h"

// About `count` values of every kind with arrays nested up to five deep, all
// closed at the end. Integers need 32 or 64 bits, doubles are sixteenths (the
// text keeps them), strings are letters (so every "," and "[" of a text is
// structure), blobs view up to six bytes of their own in *bytes.
inline std::vector<qkxdr::tool::Value> RandomValues(std::mt19937& random, int count,
                                                    std::vector<uint8_t>* bytes) {
  using qkxdr::tool::Value;
  static const std::u16string kLetters = u"abcXYZ\u00E9\u4E2D";
  bytes->resize(6 * (count + 5));  // the closing ends come on top
  for (uint8_t& b : *bytes) b = static_cast<uint8_t>(random());
  std::vector<Value> values;
  int depth = 0;
  for (int i = 0; i < count || depth > 0; ++i) {
    Value v;
    const int kind = i < count ? static_cast<int>(random() % 6) : 1;
    v.type = static_cast<QkXDRType2>(kind == 0 ? 0 : kind == 1 ? 1 : kind + 1);
    if (v.type == QkXDRType2::ArrayBegin && depth == 5) v.type = QkXDRType2::ArrayEnd;
    if (v.type == QkXDRType2::ArrayEnd && depth == 0) v.type = QkXDRType2::ArrayBegin;
    depth += v.type == QkXDRType2::ArrayBegin ? 1 : v.type == QkXDRType2::ArrayEnd ? -1 : 0;
    v.integer = random() % 2 ? static_cast<int32_t>(random())
                             : static_cast<int64_t>(uint64_t{random()} << 32 | random());
    v.real = (static_cast<int>(random() % 20001) - 10000) / 16.0;
    for (int n = random() % 12; n > 0; --n) v.text += kLetters[random() % kLetters.size()];
    QkXDRBinaryAttach(v.blob.slot(), bytes->data() + 6 * i, random() % 7);
    values.push_back(v);
  }
  return values;
}

// The values written by `writer`, which is released; its bytes, or its
// UTF-16 text as bytes.
inline std::string Written(const std::vector<qkxdr::tool::Value>& values, QkXDROStream2* writer) {
  for (const qkxdr::tool::Value& v : values) qkxdr::tool::WriteValue(v, writer);
  const std::string out(static_cast<const char*>(writer->GetData()), writer->GetSize());
  writer->Release();
  return out;
}

#endif  // QKXDR_TESTS_TOOL_RANDOM_VALUES_H_
