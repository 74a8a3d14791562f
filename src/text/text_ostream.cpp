// The text writer's operations, instantiated for both generations.

#include "text/text_ostream.h"

#include <cstddef>
#include <cstring>

#include "library/string_length.h"
#include "sbuf/binary.h"
#include "text/double_format.h"
#include "text/int_format.h"
#include "text/string_escape.h"

namespace qkxdr::impl {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Numbers are formatted into a scratch area of this many units, where they
// do not go straight into the buffer.
constexpr uint32_t kNumberScratch = 32;
static_assert(kNumberScratch >= kIntTextRoom && kNumberScratch >= kMaxDoubleText,
              "room for every formatter");

// Quotation marks around a string; a blob's text also starts with "0X".
constexpr uint32_t kQuoteUnits = 2;
constexpr uint32_t kBlobPrefixUnits = kQuoteUnits + 2;

inline char16_t Widen(char16_t unit) { return unit; }
// Sign extension: 0x80..0xFF become U+FF80..U+FFFF.
inline char16_t Widen(char byte) { return static_cast<char16_t>(static_cast<signed char>(byte)); }

// Copies the units of s[0..n) up to the first that takes an escape.
inline size_t CopyPlain(const char16_t* s, size_t n, char16_t* dst) {
  return CopyPlainUnits(s, n, dst);
}
inline size_t CopyPlain(const char* s, size_t n, char16_t* dst) {
  return CopyPlainUnitsOneByOne<char>(s, n, dst, Widen);
}

// Units of the first n units of s in quoted, escaped form.
template <typename Unit>
uint64_t QuotedLength(const Unit* s, size_t n) {
  uint64_t units = kQuoteUnits + uint64_t{n};
  for (size_t i = 0; i < n; ++i) units += EscapeLetter(Widen(s[i])) != 0;
  return units;
}

}  // namespace

template <typename I>
inline char16_t* QkXDRTextOStreamImp<I>::StartValue(uint64_t units) {
  char16_t* p = out.Extend(CommaUnits() + units);  // throws before any change
  if (needComma) *p++ = u',';
  needComma = true;
  return p;
}

template <typename I>
void QkXDRTextOStreamImp<I>::FinishAt(const char16_t* end) {
  out.Resize(static_cast<uint32_t>(end - out.data()));
}

template <typename I>
void QkXDRTextOStreamImp<I>::AppendValue(const char16_t* text, uint32_t n) {
  std::memcpy(StartValue(n), text, n * sizeof(char16_t));
}

template <typename I>
template <typename Unit>
void QkXDRTextOStreamImp<I>::AppendString(const Unit* s) {
  const size_t n = StringLength(s);
  // Room for the worst case, every unit escaped, when it is already there;
  // otherwise the buffer grows to the exact size.
  uint64_t units = kQuoteUnits + 2 * uint64_t{n};
  if (uint64_t{out.size()} + CommaUnits() + units > out.capacity()) units = QuotedLength(s, n);
  char16_t* p = StartValue(units);
  *p++ = u'"';
  // Runs of plain units are copied whole; each escape ends one.
  for (size_t i = 0;;) {
    const size_t plain = CopyPlain(s + i, n - i, p);
    p += plain;
    i += plain;
    if (i == n) break;
    *p++ = u'\\';
    *p++ = EscapeLetter(Widen(s[i++]));
  }
  *p++ = u'"';
  FinishAt(p);
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteStringA(const char* s) {
  AppendString(s);
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteString(const char16_t* s) {
  AppendString(s);
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteBinary(const QkXDRBinary* blob) {
  const sbuf::binary_base* held = blob == nullptr ? nullptr : sbuf::Held(blob);
  const uint8_t* data = held == nullptr ? nullptr : held->data();
  const uint32_t size = data == nullptr ? 0 : held->size();
  char16_t* p = out.Extend(kBlobPrefixUnits + 2 * uint64_t{size});  // throws before any change
  *p++ = u'"';
  *p++ = u'0';
  *p++ = u'X';
  for (uint32_t i = 0; i < size; ++i) {
    *p++ = static_cast<char16_t>(kHexDigits[data[i] >> 4]);
    *p++ = static_cast<char16_t>(kHexDigits[data[i] & 0x0F]);
  }
  *p = u'"';
}

template <typename I>
template <typename T>
void QkXDRTextOStreamImp<I>::AppendNumber(char16_t* (*format)(T, char16_t*), T v, uint32_t room) {
  // Straight into the buffer when it has room for the comma and whatever the
  // formatter stores; the buffer then cannot grow, so nothing is reserved.
  if (out.capacity() - out.size() > room) {
    char16_t* p = out.data() + out.size();
    *p = u',';
    p += needComma;
    needComma = true;
    out.ResizeWithin(static_cast<uint32_t>(format(v, p) - out.data()));
    return;
  }
  char16_t scratch[kNumberScratch];
  const char16_t* end = format(v, scratch);
  AppendValue(scratch, static_cast<uint32_t>(end - scratch));
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteInt64(int64_t v) {
  AppendNumber(FormatInt64, v, kIntTextRoom);
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteInt(int32_t v) {
  AppendNumber(FormatInt32, v, kIntTextRoom);
}

template <typename I>
void QkXDRTextOStreamImp<I>::WriteDouble(double v) {
  AppendNumber(FormatDouble, v, kMaxDoubleText);
}

template <typename I>
void QkXDRTextOStreamImp<I>::BeginArray() {
  *StartValue(1) = u'[';
  needComma = false;
}

template <typename I>
void QkXDRTextOStreamImp<I>::EndArray() {
  out.PushBack(u']');
  needComma = true;
}

template <typename I>
const void* QkXDRTextOStreamImp<I>::GetData() {
  return out.size() == 0 ? nullptr : out.data();
}

template <typename I>
uint32_t QkXDRTextOStreamImp<I>::GetSize() {
  return out.size() * 2;
}

template <typename I>
void QkXDRTextOStreamImp<I>::Release() {
  delete this;
}

template class QkXDRTextOStreamImp<QkXDROStream>;
template class QkXDRTextOStreamImp<QkXDROStream2>;

}  // namespace qkxdr::impl
