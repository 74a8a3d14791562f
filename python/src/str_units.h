// Python str to and from the format's UTF-16 units, without loss: every str
// the writer takes comes back unchanged, unpaired surrogates included.

#ifndef QKXDR_PYTHON_STR_UNITS_H_
#define QKXDR_PYTHON_STR_UNITS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string>

namespace qkxdr::python {

// Why a str has no form as UTF-16 units.
enum class StrFault {
  none,
  // A lone high surrogate followed by a lone low one: as units they are one
  // pair, and would read back as the one character they encode.
  split_pair,
};

// The UTF-16 units of `s` into *units (its contents replaced).
StrFault StrToUnits(PyObject* s, std::u16string* units);

// The UTF-16 units of `s`, text to read, into *units: its lone surrogates
// as they fall.
void TextToUnits(PyObject* s, std::u16string* units);

// A new str of the n units at u: pairs joined, unpaired surrogates kept as
// code points. Null, with a Python error set, when memory runs out.
PyObject* StrFromUnits(const char16_t* u, std::size_t n);

}  // namespace qkxdr::python

#endif  // QKXDR_PYTHON_STR_UNITS_H_
