// The C++ exceptions by which the module's code raises its Python errors;
// module.cpp turns each into its Python exception.

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

// Raised as qkxdr.DecodeError: the library's Error of a read.
class DecodeFault : public std::runtime_error {
 public:
  explicit DecodeFault(Error error)
      : std::runtime_error(error.message()), error_(std::move(error)) {}
  const Error& error() const noexcept { return error_; }

 private:
  Error error_;
};

}  // namespace qkxdr::python

#endif  // QKXDR_PYTHON_ERRORS_H_
