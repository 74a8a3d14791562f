// The text writer: appends values as comma-separated UTF-16 text.

#ifndef QKXDR_SRC_TEXT_TEXT_OSTREAM_H_
#define QKXDR_SRC_TEXT_TEXT_OSTREAM_H_

#include <cstdint>

#include "QkXDR.h"
#include "library/inline_buffer.h"

namespace qkxdr::impl {

// GetSize reports the text in bytes as 32 bits, which caps the unit count.
constexpr uint32_t kMaxTextUnits = 0x7FFFFFFF;

// The output text: 256 units inside the writer, then a heap block.
using TextBuffer = InlineBuffer<char16_t, 256, kMaxTextUnits>;

// The writer behind QkXDROStream (I = QkXDROStream) and QkXDROStream2.
//
// Values are separated by ","; a blob gets none in front and leaves the
// comma flag alone, so it is followed by one only when the value before it
// was. Nothing else is ever added: no whitespace, no brackets around the top
// level, no terminator. Strings are quoted with U+0022 and escape LF, CR,
// U+0022, U+0027 and backslash; 8-bit strings are widened by sign extension.
// A null string pointer writes "" and a null blob, or one without data, "0X".
//
// Every write is all or nothing: one that would take the text past
// kMaxTextUnits throws std::bad_alloc and leaves the text and the comma flag
// as they were. The buffer grows only when the text itself passes its
// capacity, to one and a half times the size then needed.
//
// Created by the factories only and destroyed by Release. The members carry
// no `override`: in the first generation the three extra writes have no slot
// and stay plain members; the class is final and would be abstract, and fail
// to compile, if a slot were missed.
template <typename I>
class QkXDRTextOStreamImp final : public I {
 public:
  QkXDRTextOStreamImp() = default;
  QkXDRTextOStreamImp(const QkXDRTextOStreamImp&) = delete;
  QkXDRTextOStreamImp& operator=(const QkXDRTextOStreamImp&) = delete;

  void WriteStringA(const char* s);
  void WriteBinary(const QkXDRBinary* blob);
  void WriteInt64(int64_t v);
  void WriteString(const char16_t* s);
  void WriteDouble(double v);
  void WriteInt(int32_t v);
  void BeginArray();
  void EndArray();
  const void* GetData();
  uint32_t GetSize();
  void Release();

  const TextBuffer& text() const { return out; }

 private:
  ~QkXDRTextOStreamImp() = default;

  uint32_t CommaUnits() const { return needComma ? 1 : 0; }
  // Reserves the comma the rule asks for and `units` more, writes the comma
  // and sets the flag; returns where the value goes.
  char16_t* StartValue(uint64_t units);
  // Drops the units reserved past `end`.
  void FinishAt(const char16_t* end);
  // Comma rule, then the n units of a formatted number.
  void AppendValue(const char16_t* text, uint32_t n);
  // Comma rule, then the text format(v, ...) writes; the formatter may
  // store up to `room` units.
  template <typename T>
  void AppendNumber(char16_t* (*format)(T, char16_t*), T v, uint32_t room);
  // Comma rule, then s (null: empty) quoted and escaped.
  template <typename Unit>
  void AppendString(const Unit* s);

  TextBuffer out;
  bool needComma = false;
};

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_TEXT_TEXT_OSTREAM_H_
