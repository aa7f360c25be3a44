#include "KivPyErrors.h"

#include "kivlog/Decoder.h"

namespace py = pybind11;

namespace {

PyObject* errorClass = nullptr;
PyObject* imageErrorClass = nullptr;
PyObject* libraryErrorClass = nullptr;
PyObject* inputErrorClass = nullptr;

PyObject* newClass(py::module_& module, const char* name, const char* doc, PyObject* bases) {
  const std::string qualified = std::string("kivlog.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases, nullptr);
  if (type == nullptr) {
    throw py::error_already_set();
  }
  // The module keeps a reference, and so does this file's pointer, for the module's lifetime.
  module.add_object(name, py::reinterpret_borrow<py::object>(type));
  return type;
}

}  // namespace

void kivPyAddErrors(py::module_& module) {
  errorClass = newClass(module, "Error", "Something the decoder could not do.", PyExc_Exception);
  imageErrorClass = newClass(
      module, "ImageError",
      "A firmware image that cannot be loaded; the text is kivlog's ERR diagnostic.", errorClass);
  libraryErrorClass = newClass(module, "LibraryError",
                               "A firmware folder (library=) that cannot be read.", errorClass);
  const py::tuple inputBases = py::make_tuple(py::handle(errorClass), py::handle(PyExc_OSError));
  inputErrorClass = newClass(module, "InputError", "A raw log file that cannot be opened or read.",
                             inputBases.ptr());
  py::register_exception_translator([](std::exception_ptr error) {
    if (error) {
      kivPySetError(error);
    }
  });
}

void kivPySetError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const kivlog::ImageError& e) {
    PyErr_SetString(imageErrorClass, e.what());
  } catch (const kivlog::LibraryError& e) {
    PyErr_SetString(libraryErrorClass, e.what());
  } catch (const kivlog::InputError& e) {
    PyErr_SetString(inputErrorClass, e.what());
  } catch (const kivlog::Error& e) {
    PyErr_SetString(errorClass, e.what());
  }
}
