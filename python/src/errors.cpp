// Translation of the library's exceptions into the Python classes of ccal._errors.
//
// Every toolkit exception (tkException) becomes an instance of the Python class registered under
// its qualified C++ class name ("tkCalibrateLineScanCameraDefs::BadParams"), which sits in a
// Python tree of the same shape as the C++ one (leaf <- family <- ccal.Error), carrying the
// message (what()), the error number and the C++ class name. The point-file reader's errors
// become ccal.PointFileError (a ValueError).
#include "bindings.h"

#include <point_file.h>
#include <tk/archive.h>
#include <tk/exception.h>
#include <tk/persistent.h>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

// The qualified name of the dynamic class, e.g. "tkArchive::Corrupt".
std::string className(const tkException& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

py::object make(const char* factory, const py::tuple& args) {
  py::object errors = py::module_::import("ccal._errors");
  return errors.attr(factory)(*args);
}

void translate(std::exception_ptr pointer) {
  py::object instance = tfPyLibraryException(pointer);
  if (instance.is_none() && pointer)
    std::rethrow_exception(pointer);  // not ours: the next translator's
  if (!instance.is_none())
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.ptr())), instance.ptr());
}

}  // namespace

py::object tfPyLibraryException(std::exception_ptr pointer) {
  try {
    if (pointer)
      std::rethrow_exception(pointer);
  } catch (const tkException& error) {
    return make("from_library", py::make_tuple(className(error), std::string(error.what()),
                                               static_cast<long long>(error.errorNumber())));
  } catch (const tkPointFileError& error) {
    return make("point_file_error", py::make_tuple(std::string(error.what())));
  } catch (...) {
  }
  return py::none();
}

void tfPyBindErrors(py::module_& m) {
  py::register_exception_translator(&translate);
  // Loads a failure stored in an archive through a tkPersistent* (its registered class name,
  // then its fields) and throws it: the way a stored failure is raised again, and the way the
  // tests reach every leaf of every family without provoking each one.
  m.def(
      "rethrow_stored_error",
      [](const py::bytes& data) {
        const std::string text = data;
        std::vector<unsigned char> buffer(text.begin(), text.end());
        tkPersistent* object = nullptr;
        {
          tkArchive archive(buffer, tkArchive::eLoad);
          archive || object;
        }
        tkException* error = dynamic_cast<tkException*>(object);
        if (error == nullptr) {
          delete object;
          throw py::value_error("the archive holds no stored failure");
        }
        error->suicideAndRethrow();
      },
      py::arg("data"));
}
