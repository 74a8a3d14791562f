// The Python module's input paths, from an embedded interpreter: the
// extension's functions, defined into a module that stands in for
// qkxdr._qkxdr, under the package's own Python code. Each input is read
// as binary data and, its bytes taken as UTF-16 units, as text, with and
// without numpy arrays; and as JSON text. The properties (kChecks) raise on
// a break; so does any exception but the DecodeError a bad input gets, and
// the target then aborts with the traceback.

#include <pybind11/embed.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bindings.h"
#include "fuzz_support.h"

namespace py = pybind11;

// Where the leak checker runs, these pause and resume it (the sanitizer
// runtime's own names).
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __lsan_disable() __attribute__((weak));
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __lsan_enable() __attribute__((weak));

namespace {

struct LeakChecksPaused {
  LeakChecksPaused() {
    if (__lsan_disable != nullptr) __lsan_disable();
  }
  ~LeakChecksPaused() {
    if (__lsan_enable != nullptr) __lsan_enable();
  }
  LeakChecksPaused(const LeakChecksPaused&) = delete;
  LeakChecksPaused& operator=(const LeakChecksPaused&) = delete;
};

// The properties, as Python; check(data) tests one input.
constexpr const char* kChecks = R"py(
import numpy  # noqa: F401  (loads(..., arrays=True) makes numpy arrays)
import qkxdr
from qkxdr import DecodeError


def expect(holds, what):
    if not holds:
        raise AssertionError(what)


def encoded(values):
    """values as bytes, to compare them: NaN payloads count, numpy arrays
    equal the lists they are written as."""
    return qkxdr.dumps(list(values))


def error_of(e):
    return (e.offset, e.code)


def round_trip(value, arrays):
    for text in (False, True):
        once = qkxdr.dumps(value, text=text)
        expect(qkxdr.dumps(qkxdr.loads(once, arrays=arrays), text=text) == once,
               "a written value reads back to a value written differently")


def streamed(chunks, elements, arrays):
    """The values iter_load yields from chunks, and the failure after them."""
    values = []
    try:
        for value in qkxdr.iter_load(iter(chunks), elements=elements, arrays=arrays):
            values.append(value)
    except DecodeError as e:
        return encoded(values), error_of(e)
    return encoded(values), None


def pieces(source, cuts):
    cuts = sorted(cut % (len(source) + 1) for cut in cuts)
    return [source[a:b] for a, b in zip([0] + cuts, cuts + [len(source)])]


def check_json_round_trip(data, array, convert):
    json = qkxdr.to_json(data, array=array)
    expect(qkxdr.to_json(qkxdr.from_json(json, array=array, convert=convert), array=array) == json,
           "JSON written from values converts back to other values")


def check_source(source, cuts, arrays):
    """loads, its round trip, and iter_load whole and in pieces agreeing."""
    try:
        value = qkxdr.loads(source, arrays=arrays)
    except DecodeError:
        whole = None
    else:
        round_trip(value, arrays)
        whole = encoded([value])
    for elements in (False, True):
        at_once = streamed([source], elements, arrays)
        expect(streamed(pieces(source, cuts), elements, arrays) == at_once,
               "iter_load gives other values or another error on split input")
        if not elements:
            expect((at_once[1] is None and len(qkxdr.loads(at_once[0])) == 1) ==
                   (whole is not None), "loads and iter_load disagree on one value")
            expect(whole is None or at_once[0] == whole, "loads and iter_load read differently")


def check_to_json(source):
    for array in (False, True):
        try:
            check_json_round_trip(source, array, False)
        except DecodeError:
            pass


def check_from_json(data):
    for array in (False, True):
        for convert in (False, True):
            try:
                binary = qkxdr.from_json(data, array=array, convert=convert)
            except DecodeError as e:
                try:
                    qkxdr.from_json(data, text=True, array=array, convert=convert)
                except DecodeError as again:
                    expect(error_of(again) == error_of(e), "JSON refused differently as text")
                    continue
                raise AssertionError("JSON refused in binary only")
            text = qkxdr.from_json(data, text=True, array=array, convert=convert)
            expect(streamed([text], False, False) == streamed([binary], False, False),
                   "JSON converted to text and to binary holds other values")
            check_json_round_trip(binary, array, convert)


def check(data):
    cuts = list(data[-2:])
    text = data[:len(data) & ~1].decode("utf-16-le", "surrogatepass")
    for source in (data, text):
        for arrays in (False, True):
            check_source(source, cuts, arrays)
        check_to_json(source)
    check_from_json(data)
)py";

// The interpreter, numpy and the package, once; the check function. What
// they allocate for good (some of it unreachable, as the modules' code
// objects) is no leak of the inputs' work, and not reported.
py::object StartPython() {
  LeakChecksPaused paused;
  // Python's objects in blocks of their own, where the sanitizers see them.
  setenv("PYTHONMALLOC", "malloc", 1);
  setenv("PYTHONDONTWRITEBYTECODE", "1", 1);  // nothing written to the source tree
  py::initialize_interpreter(/*init_signal_handlers=*/false);
  py::module_ extension = py::reinterpret_steal<py::module_>(PyModule_New("qkxdr._qkxdr"));
  qkxdr::python::DefineModule(extension);
  py::module_ sys = py::module_::import("sys");
  sys.attr("modules")["qkxdr._qkxdr"] = extension;
  sys.attr("path").attr("insert")(0, QKXDR_PYTHON_SOURCE_DIR);
  py::dict scope;
  py::exec(kChecks, scope);
  return scope["check"];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    static py::object* const check = new py::object(StartPython());
    (*check)(py::bytes(reinterpret_cast<const char*>(data), size));
  } catch (py::error_already_set& e) {
    e.restore();
    PyErr_Print();
    std::abort();
  }
  return 0;
}
