#include "bindings.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "object_reader.h"
#include "object_writer.h"
#include "qkxdr/json.hpp"
#include "qkxdr/stream.hpp"
#include "qkxdr/typed.hpp"
#include "str_units.h"

namespace py = pybind11;

namespace qkxdr::python {
namespace {

// The contiguous bytes of a bytes-like object, held while this lives.
class Bytes {
 public:
  explicit Bytes(py::handle o) {
    if (PyObject_GetBuffer(o.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() { PyBuffer_Release(&view_); }

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(view_.buf); }
  std::size_t size() const { return static_cast<std::size_t>(view_.len); }

 private:
  Py_buffer view_;
};

const char* CodeName(ErrorCode code) {
  static const char* const kNames[] = {"malformed",    "truncated", "type_mismatch",
                                       "out_of_range", "too_deep",  "too_large",
                                       "unsupported",  "io",        "no_value"};
  return kNames[static_cast<int>(code)];
}

py::object PackageError(const char* name) { return py::module_::import("qkxdr").attr(name); }

void RaiseDecodeError(const Error& error) {
  const py::object type = PackageError("DecodeError");
  const py::object offset =
      error.offset() == Error::kNoOffset ? py::object(py::none()) : py::int_(error.offset());
  const py::object e = type(error.message(), offset, error.path(), CodeName(error.code()));
  PyErr_SetObject(type.ptr(), e.ptr());
}

void RaiseEncodeError(const EncodeFault& fault) {
  const py::object type = PackageError("EncodeError");
  const py::object e = type(fault.what(), fault.path());
  PyErr_SetObject(type.ptr(), e.ptr());
}

// By value: the signature pybind11::register_exception_translator takes.
void Translate(std::exception_ptr p) {  // NOLINT(performance-unnecessary-value-param)
  try {
    if (p) std::rethrow_exception(p);
  } catch (const BadResultAccess& fault) {
    RaiseDecodeError(fault.error());
  } catch (const EncodeFault& fault) {
    RaiseEncodeError(fault);
  } catch (const TypeFaultError& fault) {
    PyErr_SetString(PyExc_TypeError, fault.what());
  }
}

// A failed read: the Python error that stopped it, or its Error.
[[noreturn]] void ThrowRead(const Error& error) {
  if (PyErr_Occurred()) throw py::error_already_set();
  throw BadResultAccess(error);
}

py::bytes BytesOf(const void* data, std::size_t n) {
  return py::reinterpret_steal<py::bytes>(
      PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(n)));
}

py::str StrOf(const std::u16string& units) {
  PyObject* const s = StrFromUnits(units.data(), units.size());
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::u16string UnitsOf(py::handle text) {
  std::u16string units;
  TextToUnits(text.ptr(), &units);
  return units;
}

// A bytes object as the container of a binary encoder's output, so that
// the encoded bytes are not copied again: it grows by reallocation, and
// take() cuts it to the size written. Shrinking waits for take(), so that
// the encoder's end, which sets the size, cannot fail.
class BytesOutput {
 public:
  using value_type = std::uint8_t;

  explicit BytesOutput(std::size_t room)
      : bytes_(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(room))), size_(room) {
    if (bytes_ == nullptr) throw py::error_already_set();
  }
  BytesOutput(const BytesOutput&) = delete;
  BytesOutput& operator=(const BytesOutput&) = delete;
  ~BytesOutput() { Py_XDECREF(bytes_); }

  std::size_t size() const { return size_; }
  std::size_t capacity() const {
    return bytes_ == nullptr ? 0 : static_cast<std::size_t>(PyBytes_GET_SIZE(bytes_));
  }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_)); }
  void reserve(std::size_t n) {
    if (n > capacity()) Reallocate(n);
  }
  // After a failed growth, which lost the bytes, only the size is kept.
  void resize(std::size_t n) {
    if (bytes_ != nullptr) reserve(n);
    size_ = n;
  }
  void clear() { size_ = 0; }

  // The bytes written, owned by the caller from now on.
  py::bytes take() {
    if (size_ != capacity()) Reallocate(size_);
    PyObject* const bytes = bytes_;
    bytes_ = nullptr;
    return py::reinterpret_steal<py::bytes>(bytes);
  }

 private:
  void Reallocate(std::size_t n) {
    if (bytes_ == nullptr || _PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(n)) != 0) {
      PyErr_Clear();  // the encoder reports it as std::bad_alloc
      throw std::bad_alloc();
    }
  }

  PyObject* bytes_;  // null after a failed growth
  std::size_t size_;
};

py::object Dumps(py::handle o, bool text, py::handle fallback) {
  const ObjectToWrite v{o.ptr(), fallback.is_none() ? nullptr : fallback.ptr()};
  if (text) {
    std::u16string out;
    Result<void> done = to_text(v, out);
    if (!done) throw EncodeFault(done.error().path(), done.error().detail());
    return StrOf(out);
  }
  BytesOutput out(EncodedSizeHint(o.ptr()));
  Result<void> done = detail::EncodeInto<impl::BinaryEncoderInto>(v, out);
  if (!done) throw EncodeFault(done.error().path(), done.error().detail());
  return out.take();
}

py::object Loads(py::handle data, bool arrays) {
  ObjectRead read(ReadOptions{arrays});
  Result<void> done;
  if (PyUnicode_Check(data.ptr())) {
    const std::u16string units = UnitsOf(data);
    done = from_text(units, read);
  } else {
    const Bytes bytes(data);
    done = from_binary(bytes.data(), bytes.size(), read);
  }
  if (!done) ThrowRead(done.error());
  return read.take();
}

json::Options JsonOptions(bool array, bool convert) {
  json::Options options;
  options.layout = array ? json::Layout::array : json::Layout::lines;
  options.others = convert ? json::Others::convert : json::Others::refuse;
  return options;
}

py::str ToJson(py::handle data, bool array) {
  Result<std::string> json = Error();
  {
    const auto convert = [&](Reader& in) {
      const py::gil_scoped_release unlocked;
      json = json::to_json(in, JsonOptions(array, false));
    };
    if (PyUnicode_Check(data.ptr())) {
      const std::u16string units = UnitsOf(data);
      TextReader in(units);
      convert(in);
    } else {
      const Bytes bytes(data);
      BinaryReader in(bytes.data(), bytes.size());
      convert(in);
    }
  }
  if (!json) throw BadResultAccess(json.error());
  return py::reinterpret_steal<py::str>(
      PyUnicode_DecodeUTF8(json->data(), static_cast<Py_ssize_t>(json->size()), "strict"));
}

py::object FromJson(py::handle json_text, bool text, bool array, bool convert) {
  std::string_view json;
  std::string held;
  if (PyUnicode_Check(json_text.ptr())) {
    Py_ssize_t n = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(json_text.ptr(), &n);
    if (utf8 == nullptr) throw py::error_already_set();
    json = std::string_view(utf8, static_cast<std::size_t>(n));
  } else {
    const Bytes bytes(json_text);
    held.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    json = held;
  }
  const auto write = [&](Writer& out) {
    Result<void> done;
    {
      const py::gil_scoped_release unlocked;
      done = json::from_json(json, out, JsonOptions(array, convert));
    }
    if (!done) throw BadResultAccess(done.error());
  };
  if (text) {
    TextWriter out;
    write(out);
    return StrOf(out.text());
  }
  BinaryWriter out;
  write(out);
  return BytesOf(out.data(), out.size());
}

// A stream reader for Python: fed chunks, it hands out lists of the values
// they completed.
template <typename StreamReader>
class Stream {
 public:
  Stream(bool elements, bool arrays, std::size_t max_value)
      : reader_(elements ? StreamUnit::elements : StreamUnit::values, max_value),
        options_{arrays} {}

  void Feed(py::handle chunk) {
    if constexpr (std::is_same_v<StreamReader, TextStreamReader>) {
      if (!PyUnicode_Check(chunk.ptr())) throw py::type_error("a text stream takes str chunks");
      reader_.feed(UnitsOf(chunk));
    } else {
      const Bytes bytes(chunk);
      reader_.feed(bytes.data(), bytes.size());
    }
  }
  void Finish() { reader_.finish(); }

  // The values completed since the last call. A failure is raised once the
  // values before it are handed out, and from then on.
  py::list Take() {
    py::list values;
    while (!failed_read_) {
      auto* view = Next();
      if (view == nullptr) break;
      while (view->valid()) {
        ObjectRead read(options_);
        Result<void> done = view->read(read);
        if (!done) {
          if (PyErr_Occurred()) throw py::error_already_set();
          failed_read_ = done.error();
          break;
        }
        values.append(read.take());
      }
    }
    if (!values.empty()) return values;
    if (failed_read_) throw BadResultAccess(*failed_read_);
    if (reader_.failed()) throw BadResultAccess(reader_.error());
    return values;
  }
  bool Done() const { return reader_.done(); }

 private:
  auto* Next() {
    const py::gil_scoped_release unlocked;  // the scan makes no objects
    return reader_.next_all();
  }

  StreamReader reader_;
  ReadOptions options_;
  std::optional<Error> failed_read_;  // the first value that did not read, raised from then on
};

template <typename StreamReader>
void BindStream(py::module_& m, const char* name) {
  py::class_<Stream<StreamReader>>(m, name)
      .def(py::init<bool, bool, std::size_t>(), py::arg("elements"), py::arg("arrays"),
           py::arg("max_value"))
      .def("feed", &Stream<StreamReader>::Feed)
      .def("finish", &Stream<StreamReader>::Finish)
      .def("take", &Stream<StreamReader>::Take)
      .def_property_readonly("done", &Stream<StreamReader>::Done);
}

}  // namespace

void DefineModule(py::module_& m) {
  m.doc() = "The compiled part of qkxdr; use the functions of the package qkxdr.";
  py::register_exception_translator(&Translate);
  m.def("dumps", &Dumps, py::arg("obj"), py::kw_only(), py::arg("text") = false,
        py::arg("default") = py::none());
  m.def("loads", &Loads, py::arg("data"), py::kw_only(), py::arg("arrays") = false);
  m.def("to_json", &ToJson, py::arg("data"), py::kw_only(), py::arg("array") = false);
  m.def("from_json", &FromJson, py::arg("json"), py::kw_only(), py::arg("text") = false,
        py::arg("array") = false, py::arg("convert") = false);
  BindStream<BinaryStreamReader>(m, "BinaryStream");
  BindStream<TextStreamReader>(m, "TextStream");
  m.attr("MAX_VALUE") = kDefaultMaxValue;
}

}  // namespace qkxdr::python
