#include "KivPyFileEvents.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <vector>

#include "KivPyDecoder.h"
#include "KivPyErrors.h"

namespace py = pybind11;

namespace {

struct Reading {
  py::object owner;  // the kivlog.Decoder
  KivPyDecoder* decoder;
  std::uint64_t file;
  std::vector<kivlog::Event> events;
  std::size_t next = 0;
  bool ended = false;
};

struct FileEvents {
  PyObject_HEAD Reading* reading;
};

// The type of the iterators; made ready when the module is imported.
PyTypeObject fileEventsType{};

void setError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const kivlog::Error&) {
    kivPySetError(error);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
}

PyObject* nextEvent(PyObject* self) {
  Reading& r = *reinterpret_cast<FileEvents*>(self)->reading;
  if (!r.ended && !r.decoder->reading(r.file)) {
    r.ended = true;
    r.events.clear();
    PyErr_SetString(PyExc_RuntimeError, "the decoder has opened another file since");
    return nullptr;
  }
  if (r.next == r.events.size()) {
    if (r.ended) {
      return nullptr;
    }
    r.next = 0;
    try {
      if (!r.decoder->read(r.events)) {
        r.ended = true;
        return nullptr;
      }
    } catch (...) {
      r.ended = true;
      r.events.clear();
      setError(std::current_exception());
      return nullptr;
    }
  }
  return r.decoder->dictOf(r.events[r.next++]);
}

void deallocate(PyObject* self) {
  delete reinterpret_cast<FileEvents*>(self)->reading;
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

void kivPyAddFileEvents(py::module_& module) {
  PyTypeObject& type = fileEventsType;
  auto* object = reinterpret_cast<PyObject*>(&type);
  if ((type.tp_flags & Py_TPFLAGS_READY) == 0) {
    // A type that lives as long as the process: one reference that is never given back.
    Py_SET_REFCNT(object, 1);
    type.tp_name = "kivlog.FileEvents";
    type.tp_basicsize = sizeof(FileEvents);
    type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;
    type.tp_doc = "The events of a raw log file as dicts, decoded as they are asked for.";
    type.tp_dealloc = deallocate;
    type.tp_iter = PyObject_SelfIter;
    type.tp_iternext = nextEvent;
    if (PyType_Ready(&type) < 0) {
      throw py::error_already_set();
    }
  }
  module.add_object("FileEvents", py::reinterpret_borrow<py::object>(object));
}

py::object kivPyFileEvents(py::handle decoder, std::uint64_t file) {
  auto reading = std::make_unique<Reading>();
  reading->owner = py::reinterpret_borrow<py::object>(decoder);
  reading->decoder = &decoder.cast<KivPyDecoder&>();
  reading->file = file;
  PyObject* self = fileEventsType.tp_alloc(&fileEventsType, 0);
  if (self == nullptr) {
    throw py::error_already_set();
  }
  reinterpret_cast<FileEvents*>(self)->reading = reading.release();
  return py::reinterpret_steal<py::object>(self);
}
