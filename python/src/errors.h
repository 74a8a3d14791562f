// The C++ exceptions by which the module's code raises its Python errors;
// bindings.cpp turns each into its Python exception (qkxdr.DecodeError
// comes from the library's own qkxdr::BadResultAccess, which carries the
// Error of a read).

#ifndef QKXDR_PYTHON_ERRORS_H_
#define QKXDR_PYTHON_ERRORS_H_

#include <stdexcept>
#include <string>
#include <utility>

#include "qkxdr/error.hpp"

namespace qkxdr::python {

// Raised as qkxdr.EncodeError: a value of a mapped type that has no form.
class EncodeFault : public std::runtime_error {
 public:
  EncodeFault(std::string path, const std::string& what)
      : std::runtime_error(path.empty() ? what : "at " + path + ": " + what),
        path_(std::move(path)) {}
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
};

// Raised as TypeError: an object of a type with no mapping.
class TypeFaultError : public std::runtime_error {
 public:
  TypeFaultError(const std::string& path, const std::string& what)
      : std::runtime_error(path.empty() ? what : "at " + path + ": " + what) {}
};

}  // namespace qkxdr::python

#endif  // QKXDR_PYTHON_ERRORS_H_
