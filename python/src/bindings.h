// The functions and classes of the extension module qkxdr._qkxdr, defined
// into a module object: the extension's own (module.cpp), or one that a
// program embedding Python makes (the fuzz target).

#ifndef QKXDR_PYTHON_BINDINGS_H_
#define QKXDR_PYTHON_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace qkxdr::python {

void DefineModule(pybind11::module_& m);

}  // namespace qkxdr::python

#endif  // QKXDR_PYTHON_BINDINGS_H_
