// qkxdr._qkxdr: the compiled part of the Python package qkxdr. Python's
// own module (python/qkxdr/__init__.py) wraps it with file handling and the
// exception classes, which this module raises by name.

#include <pybind11/pybind11.h>

#include "bindings.h"

PYBIND11_MODULE(_qkxdr, m) { qkxdr::python::DefineModule(m); }
