// Python objects read through the typed layer's reads: a Codec for
// ObjectRead, so that qkxdr::from_binary, qkxdr::from_text and the stream
// readers' views read them, with the library's checks, offsets and paths.
//
// Int -> int, Double -> float, String -> str, Binary -> bytes, Array ->
// list; with `arrays`, an array of Ints only gives a numpy int64 array and
// one of Doubles only a float64 array.
//
// Memory: each object counts against the read's budget (ReadLimits) at
// more than it takes, so that a read of n units makes at most
// 64 * n + 16 MiB bytes of objects. Every valid value takes less than 64
// bytes a unit but arrays nested in runs of brackets.

#ifndef QKXDR_PYTHON_OBJECT_READER_H_
#define QKXDR_PYTHON_OBJECT_READER_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "qkxdr/typed.hpp"
#include "str_units.h"

namespace qkxdr::python {

// What an object read counts against the budget (ReadLimits): at least
// what it takes with the allocator's rounding to 16 bytes, and its place in
// the list that holds it, which a growing list allocates half more of.
// The empty str and bytes are shared, and cost only their place.
namespace cost {
constexpr std::size_t kItem = sizeof(PyObject*) + 4;  // a list grows by halves
constexpr std::size_t kInt = kItem + 32;
constexpr std::size_t kFloat = kItem + 32;
constexpr std::size_t kAsciiStr = kItem + 64;  // and a byte a unit
constexpr std::size_t kStr = kItem + 80;       // and four bytes a unit
constexpr std::size_t kBytes = kItem + 48;     // and a byte a byte
constexpr std::size_t kList = kItem + 112;     // with the spare places of a growing list
constexpr std::size_t kArray = kItem + 192;    // numpy, with its owner; and 8 bytes a number
}  // namespace cost

struct ReadOptions {
  bool arrays = false;  // numpy arrays for arrays of Ints or of Doubles
};

// The object read (a new reference, null until one is), and how to read.
struct ObjectRead {
  explicit ObjectRead(ReadOptions options) : options(options) {}
  ObjectRead(const ObjectRead&) = delete;
  ObjectRead& operator=(const ObjectRead&) = delete;
  ~ObjectRead() { Py_XDECREF(object); }

  // The object, owned by the caller from now on.
  pybind11::object take() {
    PyObject* const o = object;
    object = nullptr;
    return pybind11::reinterpret_steal<pybind11::object>(o);
  }

  PyObject* object = nullptr;
  ReadOptions options;
};

// Numbers of one type gathered for a numpy array, in memory that the array
// then owns.
template <typename T>
class NumberBlock {
 public:
  NumberBlock() = default;
  NumberBlock(const NumberBlock&) = delete;
  NumberBlock& operator=(const NumberBlock&) = delete;
  ~NumberBlock() { std::free(data_); }

  // Room for at least `more` numbers after the ones held; null when memory
  // runs out.
  T* Room(std::size_t more) {
    if (capacity_ - size_ < more) {
      const std::size_t capacity = (size_ + more) * 3 / 2;
      void* const grown = std::realloc(data_, capacity * sizeof(T));
      if (grown == nullptr) return nullptr;
      data_ = static_cast<T*>(grown);
      capacity_ = capacity;
    }
    return data_ + size_;
  }
  // Room for `total` numbers in all, at once; false when memory runs out.
  bool Reserve(std::size_t total) {
    if (total <= capacity_) return true;
    void* const grown = std::realloc(data_, total * sizeof(T));
    if (grown == nullptr) return false;
    data_ = static_cast<T*>(grown);
    capacity_ = total;
    return true;
  }
  void Added(std::size_t n) { size_ += n; }
  std::size_t size() const { return size_; }
  const T* data() const { return data_; }

  // A 1-d numpy array that owns the numbers; the block is left empty.
  pybind11::array ToArray() {
    T* const exact = size_ == 0 ? data_ : static_cast<T*>(std::realloc(data_, size_ * sizeof(T)));
    T* const owned = exact != nullptr ? exact : data_;
    const pybind11::capsule owner(owned, [](void* p) { std::free(p); });
    const std::size_t n = size_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return pybind11::array_t<T>({n}, {sizeof(T)}, owned, owner);
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Appends an item (a new reference, which the list takes) to a list made
// by PyList_New(0): the list's own array grows by halves, and no count of
// references changes.
inline bool AppendTaking(PyObject* list, PyObject* item) {
  auto* const l = reinterpret_cast<PyListObject*>(list);
  const Py_ssize_t n = Py_SIZE(l);
  if (n == l->allocated) {
    const Py_ssize_t grown = n + (n >> 1) + 4;
    auto* const items = static_cast<PyObject**>(
        PyMem_Realloc(l->ob_item, static_cast<std::size_t>(grown) * sizeof(PyObject*)));
    if (items == nullptr) {
      Py_DECREF(item);
      PyErr_NoMemory();
      return false;
    }
    l->ob_item = items;
    l->allocated = grown;
  }
  l->ob_item[n] = item;
  Py_SET_SIZE(l, n + 1);
  return true;
}

// Cuts the room of a list grown by AppendTaking down to its items, when
// more than a quarter of it (and 8 places) is spare.
inline bool ShrinkToFit(PyObject* list) {
  auto* const l = reinterpret_cast<PyListObject*>(list);
  const Py_ssize_t n = Py_SIZE(l);
  const Py_ssize_t spare = l->allocated - n;
  if (spare <= 8 || spare <= n / 4) return true;
  if (n == 0) {
    PyMem_Free(l->ob_item);
    l->ob_item = nullptr;
  } else {
    auto* const items = static_cast<PyObject**>(
        PyMem_Realloc(l->ob_item, static_cast<std::size_t>(n) * sizeof(PyObject*)));
    if (items == nullptr) return PyErr_NoMemory(), false;
    l->ob_item = items;
  }
  l->allocated = n;
  return true;
}

template <typename Decoder>
class ObjectReader {
 public:
  static constexpr bool kBinary = std::is_same_v<Decoder, impl::BinaryDecoder>;

  ObjectReader(detail::Reading<Decoder>& r, ReadOptions options) : r_(r), options_(options) {}
  ObjectReader(const ObjectReader&) = delete;
  ObjectReader& operator=(const ObjectReader&) = delete;

  // The current value as a new object; null after recording why in the
  // Reading (or, when a Python call failed, with its Python error set).
  PyObject* Read() {
    switch (r_.Peek()) {
      case QkXDRType2::Int:
        return ReadInt();
      case QkXDRType2::Double:
        return ReadDouble();
      case QkXDRType2::String:
        return ReadStr();
      case QkXDRType2::Binary:
        return ReadBlob();
      case QkXDRType2::ArrayBegin:
        return ReadArray();
      default:
        r_.Mismatch("a value");
        return nullptr;
    }
  }

 private:
  PyObject* ReadInt() {
    std::int64_t v = 0;
    if (!r_.in.ReadInt64(&v)) return Failed(ErrorCode::truncated, "a cut Int");
    return r_.Take(cost::kInt) ? Made(PyLong_FromLongLong(v)) : nullptr;
  }

  PyObject* ReadDouble() {
    double v = 0;
    if (!r_.ReadDouble(&v)) return Failed(ErrorCode::truncated, "a cut number");
    return r_.Take(cost::kFloat) ? Made(PyFloat_FromDouble(v)) : nullptr;
  }

  PyObject* ReadStr() {
    if constexpr (kBinary) {
      // ASCII, the common case, is decoded straight into the str.
      PyObject* str = nullptr;
      bool refused = false;
      const auto room = [&](std::uint32_t n) -> std::uint8_t* {
        refused = !r_.Take(n == 0 ? cost::kItem : cost::kAsciiStr + n);
        str = refused ? nullptr : PyUnicode_New(static_cast<Py_ssize_t>(n), 0x7F);
        return str == nullptr ? nullptr : PyUnicode_1BYTE_DATA(str);
      };
      if (r_.in.ReadAsciiUnits(room)) return WithoutZero(str);
      if (refused) return nullptr;
      if (PyErr_Occurred()) return Failed(ErrorCode::io, "");
    }
    if (!r_.ReadUnits(r_.units)) return nullptr;
    if (!r_.Take(r_.units.empty() ? cost::kItem : cost::kStr + 4 * r_.units.size())) return nullptr;
    return Made(StrFromUnits(r_.units.data(), r_.units.size()));
  }

  // An ASCII str read, unless it holds U+0000.
  PyObject* WithoutZero(PyObject* str) {
    const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    if (n == 0 || std::memchr(PyUnicode_1BYTE_DATA(str), 0, n) == nullptr) return str;
    Py_DECREF(str);
    return Failed(ErrorCode::unsupported, std::string(impl::kZeroUnitDetail));
  }

  PyObject* ReadBlob() {
    if constexpr (kBinary) {
      const std::uint8_t* bytes = nullptr;
      std::uint32_t n = 0;
      if (!r_.in.ReadBytes(&bytes, &n)) return Failed(ErrorCode::truncated, "a cut Binary");
      if (!r_.Take(n == 0 ? cost::kItem : cost::kBytes + n)) return nullptr;
      return Made(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes), n));
    } else {
      r_.in.ReadBytes(&blob_);  // the type was checked: it reads
      if (!r_.Take(blob_.empty() ? cost::kItem : cost::kBytes + blob_.size())) return nullptr;
      return Made(PyBytes_FromStringAndSize(blob_.data(), static_cast<Py_ssize_t>(blob_.size())));
    }
  }

  // The items are appended to the list as they are read, so that the
  // memory a long array takes is touched once, in the list itself.
  PyObject* ReadArray() {
    if (!detail::OpenArray(r_) || !r_.Take(cost::kList)) return nullptr;
    const pybind11::object list = pybind11::reinterpret_steal<pybind11::object>(PyList_New(0));
    if (!list) return Failed(ErrorCode::io, "");
    if (options_.arrays) {
      PyObject* array = nullptr;
      if (!ReadNumberArray(list.ptr(), &array)) return Dropped(list.ptr());
      if (array != nullptr) return array;
    }
    for (QkXDRType2 type; (type = r_.Peek()) != QkXDRType2::ArrayEnd;) {
      if (!ReadItem(type, list.ptr())) return Dropped(list.ptr());
    }
    if (!detail::CloseArray(r_, false)) return Dropped(list.ptr());
    if (!ShrinkToFit(list.ptr())) return Failed(ErrorCode::io, "");
    return pybind11::object(list).release().ptr();
  }

  // The item of the given type that is current, appended to the list.
  bool ReadItem(QkXDRType2 type, PyObject* list) {
    if constexpr (kBinary) {
      if (type == QkXDRType2::Int) return ReadNumberRun<std::int64_t>(list);
      if (type == QkXDRType2::Double) return ReadNumberRun<double>(list);
    }
    return Append(list, Read());
  }

  // Numbers of type T (Ints as int64_t, or Doubles) from the current one
  // on, as many as follow in a row, appended to the list: the decoder reads
  // them run by run (the vector kernels decode runs of Ints). False after
  // recording why.
  template <typename T>
  bool ReadNumberRun(PyObject* list) {
    constexpr bool kInts = std::is_integral_v<T>;
    // A record's few numbers cost less one by one.
    if (r_.in.run.count < kFewNumbers) return Append(list, kInts ? ReadInt() : ReadDouble());
    T v[64] = {};
    const std::size_t n = r_.in.ReadNumbers(v, 64);
    if (n == 0) return Append(list, kInts ? ReadInt() : ReadDouble());  // cut: its read says why
    if (!r_.Take(n * (kInts ? cost::kInt : cost::kFloat))) return false;
    for (std::size_t i = 0; i < n; ++i) {
      PyObject* const o = kInts ? PyLong_FromLongLong(static_cast<long long>(v[i]))
                                : PyFloat_FromDouble(static_cast<double>(v[i]));
      if (!Append(list, Made(o))) return false;
    }
    return true;
  }

  // With `arrays`: the array just opened, when its values are all Ints or
  // all Doubles, as a numpy array in *array (and its end consumed). Else
  // *array stays null, and the numbers read are appended to the list for
  // the array to go on from. False after recording why.
  bool ReadNumberArray(PyObject* list, PyObject** array) {
    switch (r_.Peek()) {
      case QkXDRType2::Int:
        return ReadNumbers<std::int64_t>(list, array);
      case QkXDRType2::Double:
        return ReadNumbers<double>(list, array);
      default:
        return true;
    }
  }

  template <typename T>
  bool ReadNumbers(PyObject* list, PyObject** array) {
    NumberBlock<T> block;
    if (!GatherNumbers(&block)) return false;
    if (r_.Peek() == QkXDRType2::ArrayEnd) {
      if (!r_.Take(cost::kArray) || !detail::CloseArray(r_, false)) return false;
      *array = block.ToArray().release().ptr();
      return true;
    }
    for (std::size_t i = 0; i < block.size(); ++i) {
      PyObject* const o = std::is_same_v<T, double> ? PyFloat_FromDouble(block.data()[i])
                                                    : PyLong_FromLongLong(block.data()[i]);
      if (!Append(list, Made(o))) return false;
    }
    // They count as objects now: the difference to what they counted as.
    return r_.Take(block.size() *
                   ((std::is_same_v<T, double> ? cost::kFloat : cost::kInt) - sizeof(T)));
  }

  // The numbers of type T from the current value on, as far as they go.
  // The vector kernels stop short of the input's end, where the numbers
  // left are read one by one.
  template <typename T>
  bool GatherNumbers(NumberBlock<T>* block) {
    constexpr std::size_t kStep = 4096;
    const std::size_t left = r_.limit - r_.in.Position();
    const bool large = left >= kNumbersWithoutLockBytes;
    for (;;) {
      T* const room = block->Room(kStep);
      if (room == nullptr) return Failed(ErrorCode::too_large, "numbers beyond the memory left");
      std::size_t n = 0;
      if constexpr (kBinary) {
        if (large) {
          const pybind11::gil_scoped_release unlocked;
          n = r_.in.ReadNumbers(room, kStep);
        } else {
          n = r_.in.ReadNumbers(room, kStep);
        }
      }
      if (n == 0 && !ReadNumber(room)) return true;
      n += n == 0;
      if (!r_.Take(n * sizeof(T))) return false;
      block->Added(n);
      // A long array: room at once for as many numbers as the input can
      // still hold (a binary Double takes 8 bytes, anything else at least
      // one unit), so that the block is not moved again; its pages are
      // touched only as they are filled.
      if (block->size() == kStep && !block->Reserve(kStep + left / (kBinary ? sizeof(T) : 1))) {
        return Failed(ErrorCode::too_large, "numbers beyond the memory left");
      }
    }
  }

  // The current value into *out when it is a number of type T, whole.
  template <typename T>
  bool ReadNumber(T* out) {
    if constexpr (std::is_same_v<T, double>) {
      return r_.Peek() == QkXDRType2::Double && r_.ReadDouble(out);
    } else {
      return r_.Peek() == QkXDRType2::Int && r_.in.ReadInt64(out);
    }
  }

  // Appends an item read to the list, which takes it; false for none.
  bool Append(PyObject* list, PyObject* item) {
    if (item == nullptr) return false;
    return AppendTaking(list, item) || Failed(ErrorCode::io, "") != nullptr;
  }

  // After the item that would have followed the list's failed: its place.
  PyObject* Dropped(PyObject* list) {
    if (r_.error) r_.Within(detail::Index(static_cast<std::size_t>(PyList_GET_SIZE(list))));
    return nullptr;
  }

  // An object a Python call made, or null after recording its failure.
  PyObject* Made(PyObject* o) { return o != nullptr ? o : Failed(ErrorCode::io, ""); }

  // Records a failure; a Python error already set is the one raised.
  PyObject* Failed(ErrorCode code, std::string detail) {
    r_.Fail(code, std::move(detail));
    return nullptr;
  }

  // Runs with fewer numbers left are read a number at a time.
  static constexpr std::uint8_t kFewNumbers = 16;
  // Input left from which numbers are decoded without the GIL.
  static constexpr std::size_t kNumbersWithoutLockBytes = std::size_t{1} << 16;

  detail::Reading<Decoder>& r_;
  ReadOptions options_;
  std::string ascii_;  // a binary ASCII string
  std::string blob_;   // a text blob
};

}  // namespace qkxdr::python

namespace qkxdr::detail {

template <>
struct Codec<python::ObjectRead> {
  template <typename D>
  static bool Read(Reading<D>& r, python::ObjectRead& out) {
    Py_CLEAR(out.object);
    out.object = python::ObjectReader<D>(r, out.options).Read();
    return out.object != nullptr;
  }
};

}  // namespace qkxdr::detail

#endif  // QKXDR_PYTHON_OBJECT_READER_H_
