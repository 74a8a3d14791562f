#include "str_units.h"

#include <cstdint>

namespace qkxdr::python {
namespace {

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code points at data, of `Char` width, as units; with kStrict,
// split_pair where a lone high surrogate meets a lone low one.
template <bool kStrict, typename Char>
StrFault ToUnits(const Char* data, std::size_t n, std::u16string* units) {
  units->resize(n * (sizeof(Char) == 4 ? 2 : 1));
  char16_t* out = units->data();
  bool after_high = false;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t c = data[i];
    if (kStrict && after_high && IsLowSurrogate(c)) return StrFault::split_pair;
    after_high = IsHighSurrogate(c);
    if (c > 0xFFFF) {
      *out++ = static_cast<char16_t>(0xD7C0 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(c);
    }
  }
  units->resize(static_cast<std::size_t>(out - units->data()));
  return StrFault::none;
}

// The greatest of the n units at u.
char16_t MaxUnit(const char16_t* u, std::size_t n) {
  char16_t max = 0;
  for (std::size_t i = 0; i < n; ++i) max = u[i] > max ? u[i] : max;
  return max;
}

// A str of the n units at u, none of them a surrogate, each its own code
// point, stored at the width of `Char`.
template <typename Char>
PyObject* NarrowStr(const char16_t* u, std::size_t n, Py_UCS4 max) {
  PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), max);
  if (s == nullptr) return nullptr;
  auto* out = static_cast<Char*>(PyUnicode_DATA(s));
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Char>(u[i]);
  return s;
}

template <bool kStrict>
StrFault AnyToUnits(PyObject* s, std::u16string* units) {
  const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
  switch (PyUnicode_KIND(s)) {
    case PyUnicode_1BYTE_KIND:
      return ToUnits<kStrict>(PyUnicode_1BYTE_DATA(s), n, units);
    case PyUnicode_2BYTE_KIND:
      return ToUnits<kStrict>(PyUnicode_2BYTE_DATA(s), n, units);
    default:
      return ToUnits<kStrict>(PyUnicode_4BYTE_DATA(s), n, units);
  }
}

}  // namespace

StrFault StrToUnits(PyObject* s, std::u16string* units) { return AnyToUnits<true>(s, units); }

void TextToUnits(PyObject* s, std::u16string* units) { AnyToUnits<false>(s, units); }

PyObject* StrFromUnits(const char16_t* u, std::size_t n) {
  const char16_t max = MaxUnit(u, n);
  if (max < 0x80) return NarrowStr<Py_UCS1>(u, n, 0x7F);
  if (max < 0x100) return NarrowStr<Py_UCS1>(u, n, 0xFF);
  bool surrogates = false;
  for (std::size_t i = 0; i < n && !surrogates; ++i) {
    surrogates = IsHighSurrogate(u[i]) || IsLowSurrogate(u[i]);
  }
  if (!surrogates) return NarrowStr<Py_UCS2>(u, n, 0xFFFF);
  int native_order = PY_LITTLE_ENDIAN ? -1 : 1;  // no byte-order mark taken off
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(u),
                               static_cast<Py_ssize_t>(n * sizeof(char16_t)), "surrogatepass",
                               &native_order);
}

}  // namespace qkxdr::python
