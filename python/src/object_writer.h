// Python objects written through the typed layer's writes: a Codec for
// ObjectToWrite, so that qkxdr::to_binary and qkxdr::to_text encode them.
//
// A value with no form in the format raises a Python exception, which
// leaves the encoder as a C++ exception (pybind11::error_already_set):
//   TypeError   an object of a type with no mapping, which default= (if
//               given) did not turn into one
//   EncodeError an int beyond 64 bits, a str holding U+0000 or a split
//               surrogate pair, in the text form a str starting "0x",
//               a blob of 4 GiB or more, arrays nested deeper than 512
// Each message starts with the path of the value: "at [3][0]: ...".

#ifndef QKXDR_PYTHON_OBJECT_WRITER_H_
#define QKXDR_PYTHON_OBJECT_WRITER_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "qkxdr/typed.hpp"
#include "str_units.h"

namespace qkxdr::python {

// An object to write, and the callable that turns other objects into ones
// that can be written (default=), or null.
struct ObjectToWrite {
  PyObject* object;
  PyObject* fallback;
};

// Runs of at least this many numbers are encoded without the GIL.
constexpr std::size_t kNumbersWithoutLock = std::size_t{1} << 16;

inline bool IsNumpyArray(PyObject* o) {
  // numpy is loaded when one of its arrays exists; it is not imported here.
  PyObject* const modules = PyImport_GetModuleDict();
  return PyDict_GetItemString(modules, "numpy") != nullptr &&
         pybind11::isinstance<pybind11::array>(o);
}

// Bytes that the binary encoding of `o` may take, to make room for at
// once: for a numpy array of numbers, at most 10 bytes an int64 (5 an
// int32, 8 a double) with its runs' tag bytes and its rows' brackets; for
// anything else a start that grows. At most 1 GiB: beyond, it grows.
inline std::size_t EncodedSizeHint(PyObject* o) {
  constexpr std::size_t kStart = 256;
  constexpr std::size_t kMost = std::size_t{1} << 30;
  if (Py_TYPE(o) == &PyList_Type || !IsNumpyArray(o)) return kStart;
  const auto a = pybind11::reinterpret_borrow<pybind11::array>(o);
  const auto n = static_cast<std::size_t>(a.size());
  const std::size_t most = a.dtype().kind() == 'f' ? 8 : a.itemsize() == 4 ? 5 : 10;
  return n < kMost / 16 ? kStart + n * most + n / 8 : kMost;
}

template <typename Encoder>
class ObjectWriter {
 public:
  ObjectWriter(detail::Writing<Encoder>& out, PyObject* fallback)
      : out_(out), fallback_(fallback), text_(detail::IsTextForm<Encoder>::value) {}

  void Write(PyObject* o) {
    PyTypeObject* const type = Py_TYPE(o);
    if (type == &PyLong_Type) return WriteInt(o);
    if (type == &PyFloat_Type) return out_.WriteDouble(PyFloat_AS_DOUBLE(o));
    if (type == &PyUnicode_Type) return WriteStr(o);
    if (type == &PyList_Type) return WriteItems(o, ListSize, ListItem);
    if (type == &PyTuple_Type) return WriteItems(o, TupleSize, TupleItem);
    if (type == &PyBytes_Type) {
      return WriteBlob(PyBytes_AS_STRING(o), static_cast<std::size_t>(PyBytes_GET_SIZE(o)));
    }
    WriteOther(o);
  }

 private:
  // Subclasses of the types above, numpy arrays, objects with __index__,
  // other bytes-like objects, and what default= makes of the rest.
  void WriteOther(PyObject* o) {
    if (PyBool_Check(o) || o == Py_None) return Convert(o);
    if (PyLong_Check(o)) return WriteInt(o);
    if (PyFloat_Check(o)) return out_.WriteDouble(PyFloat_AS_DOUBLE(o));
    if (PyUnicode_Check(o)) return WriteStr(o);
    if (PyList_Check(o)) return WriteItems(o, ListSize, ListItem);
    if (PyTuple_Check(o)) return WriteItems(o, TupleSize, TupleItem);
    if (PyByteArray_Check(o)) {
      return WriteBlob(PyByteArray_AS_STRING(o), static_cast<std::size_t>(PyByteArray_GET_SIZE(o)));
    }
    if (IsNumpyArray(o)) return WriteArray(pybind11::reinterpret_borrow<pybind11::array>(o));
    if (PyMemoryView_Check(o) || PyBytes_Check(o)) return WriteBuffer(o);
    if (PyIndex_Check(o)) {
      const pybind11::object index = Steal(PyNumber_Index(o));
      return WriteInt(index.ptr());
    }
    Convert(o);
  }

  // What default= makes of o, written in its place. What it returns must
  // have a form of its own, or hold objects to convert again.
  void Convert(PyObject* o) {
    if (fallback_ == nullptr || converting_) {
      throw TypeFault(std::string("an object of type '") + Py_TYPE(o)->tp_name +
                      "', which has no form in QkXDR" +
                      (fallback_ == nullptr ? " (default= can convert it)" : ""));
    }
    const pybind11::object converted = Steal(PyObject_CallOneArg(fallback_, o));
    converting_ = true;
    Write(converted.ptr());
    converting_ = false;
  }

  void WriteInt(PyObject* o) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow != 0) throw Fault("an int beyond 64 bits");
    if (v == -1 && PyErr_Occurred()) throw pybind11::error_already_set();
    out_.WriteInt64(v);
  }

  void WriteStr(PyObject* o) {
    if (text_ && StartsLikeBlobText(o)) {
      throw Fault("a str starting \"0x\", which the text form reads back as bytes");
    }
    if (PyUnicode_IS_ASCII(o)) {
      const std::string_view ascii(static_cast<const char*>(PyUnicode_DATA(o)),
                                   static_cast<std::size_t>(PyUnicode_GET_LENGTH(o)));
      out_.WriteUtf8(ascii);
    } else {
      if (StrToUnits(o, &units_) == StrFault::split_pair) {
        throw Fault(
            "a str holding a lone high surrogate before a lone low one, which read back "
            "as the one character they encode");
      }
      out_.WriteUnits(units_);
    }
    if (out_.refused()) throw Fault(std::string(impl::kZeroUnitDetail));
  }

  // Whether the str starts "0x" or "0X", as the text form's blobs do.
  static bool StartsLikeBlobText(PyObject* o) {
    return PyUnicode_GET_LENGTH(o) >= 2 && PyUnicode_READ_CHAR(o, 0) == '0' &&
           (PyUnicode_READ_CHAR(o, 1) | 0x20) == 'x';
  }

  void WriteBlob(const char* data, std::size_t n) {
    out_.WriteBytes(reinterpret_cast<const std::uint8_t*>(data), n);
    if (out_.refused()) throw Fault("a blob of 4 GiB or more");
  }

  // A memoryview or other contiguous buffer, as a blob of its bytes.
  void WriteBuffer(PyObject* o) {
    Py_buffer view;
    if (PyObject_GetBuffer(o, &view, PyBUF_SIMPLE) != 0) throw pybind11::error_already_set();
    struct Release {
      Py_buffer* view;
      ~Release() { PyBuffer_Release(view); }
    } held{&view};
    WriteBlob(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
  }

  template <typename Size, typename Item>
  void WriteItems(PyObject* o, Size size, Item item) {
    converting_ = false;  // items may be converted again
    Enter();
    out_.BeginArray();
    // default= and __index__ may run Python code that changes the sequence,
    // so its size is read again and each item is held while it is written.
    for (Py_ssize_t i = 0; i < size(o);) {
      path_.back() = i;
      PyTypeObject* const type = Py_TYPE(item(o, i));
      if (type == &PyLong_Type) {
        i = WriteNumberRun<std::int64_t>(o, i, size, item);
      } else if (type == &PyFloat_Type) {
        i = WriteNumberRun<double>(o, i, size, item);
      } else {
        const pybind11::object held = pybind11::reinterpret_borrow<pybind11::object>(item(o, i));
        Write(held.ptr());
        ++i;
      }
    }
    out_.EndArray();
    Leave();
  }

  // The items from i on that are exactly int (each within 64 bits) or
  // exactly float, as T says, written together, so that the encoder writes
  // them a run at a time (ints by the vector kernels); returns the index
  // after them. Reading them runs no Python code.
  template <typename T, typename Size, typename Item>
  Py_ssize_t WriteNumberRun(PyObject* o, Py_ssize_t i, Size size, Item item) {
    PyTypeObject* const type = std::is_same_v<T, double> ? &PyFloat_Type : &PyLong_Type;
    T v[64] = {};  // GCC cannot see that only the n written are read
    std::size_t n = 0;
    for (const Py_ssize_t end = size(o); i < end && n < 64 && Py_TYPE(item(o, i)) == type; ++i) {
      if constexpr (std::is_same_v<T, double>) {
        v[n++] = PyFloat_AS_DOUBLE(item(o, i));
      } else {
        int overflow = 0;
        v[n] = PyLong_AsLongLongAndOverflow(item(o, i), &overflow);
        if (overflow != 0) break;  // written alone, which refuses it with its place
        ++n;
      }
    }
    out_.WriteNumbers(v, n);
    if (n == 0) {
      const pybind11::object held = pybind11::reinterpret_borrow<pybind11::object>(item(o, i));
      Write(held.ptr());
      ++i;
    }
    return i;
  }

  static Py_ssize_t ListSize(PyObject* o) { return PyList_GET_SIZE(o); }
  static PyObject* ListItem(PyObject* o, Py_ssize_t i) { return PyList_GET_ITEM(o, i); }
  static Py_ssize_t TupleSize(PyObject* o) { return PyTuple_GET_SIZE(o); }
  static PyObject* TupleItem(PyObject* o, Py_ssize_t i) { return PyTuple_GET_ITEM(o, i); }

  // An int32, int64 or float64 array: nested arrays over its dimensions, the
  // last one written as runs of numbers in one call. A 0-d array is its
  // number. Others go to default=.
  void WriteArray(const pybind11::array& a) {
    converting_ = false;
    const pybind11::dtype dtype = a.dtype();
    const char kind = dtype.kind();
    const pybind11::ssize_t size = dtype.itemsize();
    if (kind == 'i' && size == 4) return WriteNumbersOf<std::int32_t>(a);
    if (kind == 'i' && size == 8) return WriteNumbersOf<std::int64_t>(a);
    if (kind == 'f' && size == 8) return WriteNumbersOf<double>(a);
    Convert(a.ptr());
  }

  template <typename T>
  void WriteNumbersOf(const pybind11::array& a) {
    using Contiguous = pybind11::array_t<T, pybind11::array::c_style>;
    const Contiguous c = Contiguous::ensure(a);
    if (!c) throw pybind11::error_already_set();
    if (a.ndim() == 0) return out_.WriteNumber(*c.data());
    WriteDimension(c.data(), c.shape(), c.ndim());
  }

  // The values at v of an array of the given shape, of `ndim` dimensions.
  template <typename T>
  const T* WriteDimension(const T* v, const pybind11::ssize_t* shape, pybind11::ssize_t ndim) {
    Enter();
    out_.BeginArray();
    const auto n = static_cast<std::size_t>(shape[0]);
    if (ndim == 1) {
      WriteRuns(v, n);
      v += n;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        path_.back() = static_cast<Py_ssize_t>(i);
        v = WriteDimension(v, shape + 1, ndim - 1);
      }
    }
    out_.EndArray();
    Leave();
    return v;
  }

  template <typename T>
  void WriteRuns(const T* v, std::size_t n) {
    if (n < kNumbersWithoutLock) return out_.WriteNumbers(v, n);
    const pybind11::gil_scoped_release unlocked;
    out_.WriteNumbers(v, n);
  }

  void Enter() {
    if (path_.size() == detail::kMaxDepth) throw Fault("arrays nested deeper than 512");
    path_.push_back(0);
  }
  void Leave() { path_.pop_back(); }

  static pybind11::object Steal(PyObject* o) {
    if (o == nullptr) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::object>(o);
  }

  std::string Path() const {
    std::string path;
    for (const Py_ssize_t i : path_) path += detail::Index(static_cast<std::size_t>(i));
    return path;
  }
  EncodeFault Fault(std::string what) const { return EncodeFault(Path(), std::move(what)); }
  TypeFaultError TypeFault(std::string what) const {
    return TypeFaultError(Path(), std::move(what));
  }

  detail::Writing<Encoder>& out_;
  PyObject* fallback_;
  bool text_;
  bool converting_ = false;  // writing what default= returned
  std::vector<Py_ssize_t> path_;
  std::u16string units_;
};

}  // namespace qkxdr::python

namespace qkxdr::detail {

template <>
struct Codec<python::ObjectToWrite> {
  template <typename E>
  static void Write(Writing<E>& out, const python::ObjectToWrite& v) {
    python::ObjectWriter<E>(out, v.fallback).Write(v.object);
  }
};

}  // namespace qkxdr::detail

#endif  // QKXDR_PYTHON_OBJECT_WRITER_H_
