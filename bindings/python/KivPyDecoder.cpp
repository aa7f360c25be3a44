#include "KivPyDecoder.h"

#include <stdexcept>
#include <string_view>

namespace py = pybind11;

namespace {

// How many events a part of a file brings at most: enough for the GIL to be released rarely,
// few enough for the events to stay in the caches.
constexpr std::size_t kPart = 128;

constexpr const char* kInUse = "the decoder is in use";

// The bytes of a str (as UTF-8) or of a bytes-like object.
class LineBytes {
 public:
  explicit LineBytes(py::handle line) {
    if (PyUnicode_Check(line.ptr())) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(line.ptr(), &size);
      if (data == nullptr) {
        throw py::error_already_set();
      }
      bytes_ = {data, static_cast<std::size_t>(size)};
    } else if (PyObject_GetBuffer(line.ptr(), &buffer_, PyBUF_SIMPLE) == 0) {
      held_ = true;
      bytes_ = {static_cast<const char*>(buffer_.buf), static_cast<std::size_t>(buffer_.len)};
    } else {
      PyErr_Clear();
      throw py::type_error("decode() takes a line as str or bytes, not " +
                           std::string(Py_TYPE(line.ptr())->tp_name));
    }
  }
  ~LineBytes() {
    if (held_) {
      PyBuffer_Release(&buffer_);
    }
  }
  LineBytes(const LineBytes&) = delete;
  LineBytes& operator=(const LineBytes&) = delete;

  std::string_view bytes() const { return bytes_; }

 private:
  Py_buffer buffer_{};
  bool held_ = false;
  std::string_view bytes_;
};

}  // namespace

KivPyDecoder::Use::Use(KivPyDecoder& decoder) : decoder_(decoder) {
  if (decoder_.inUse_) {
    throw std::logic_error(kInUse);
  }
  decoder_.inUse_ = true;
}

KivPyDecoder::KivPyDecoder(const kivlog::Options& options) {
  const py::gil_scoped_release released;
  decoder_ = std::make_unique<kivlog::Decoder>(options);
}

py::list KivPyDecoder::decode(py::handle line) {
  const LineBytes bytes(line);
  const Use use(*this);
  py::list dicts;
  // A dict that cannot be made stops the conversion; its error is raised once the line is done.
  bool failed = false;
  decoder_->decode(bytes.bytes(), [&](const kivlog::Event& event) {
    if (failed) {
      return;
    }
    PyObject* dict = events_.toDict(event);
    failed = dict == nullptr || PyList_Append(dicts.ptr(), dict) != 0;
    Py_XDECREF(dict);
  });
  if (failed) {
    throw py::error_already_set();
  }
  return dicts;
}

py::object KivPyDecoder::report() {
  const Use use(*this);
  const std::string line = kivlog::toJsonLine(decoder_->finish());
  return py::module_::import("json").attr("loads")(line)["report"];
}

std::uint64_t KivPyDecoder::open(const std::filesystem::path& path) {
  const Use use(*this);
  // The file before ends even when this one cannot be opened.
  const std::uint64_t file = ++file_;
  const py::gil_scoped_release released;
  decoder_->open(path.string());
  return file;
}

bool KivPyDecoder::read(std::vector<kivlog::Event>& events) {
  const Use use(*this);
  const py::gil_scoped_release released;
  return decoder_->read(events, kPart);
}

PyObject* KivPyDecoder::dictOf(const kivlog::Event& event) {
  if (inUse_) {
    PyErr_SetString(PyExc_RuntimeError, kInUse);
    return nullptr;
  }
  inUse_ = true;
  PyObject* dict = events_.toDict(event);
  inUse_ = false;
  return dict;
}
