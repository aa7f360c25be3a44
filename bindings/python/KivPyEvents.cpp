#include "KivPyEvents.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "KivPyText.h"

namespace {

// Puts `value` (a new reference, taken over; null after a failure) into the dict.
bool put(PyObject* dict, PyObject* key, PyObject* value) {
  if (value == nullptr) {
    return false;
  }
  const int failed = PyDict_SetItem(dict, key, value);
  Py_DECREF(value);
  return failed == 0;
}

bool putText(PyObject* dict, PyObject* key, std::string_view bytes) {
  return put(dict, key, kivPyText(bytes));
}

// Puts a borrowed reference.
bool putShared(PyObject* dict, PyObject* key, PyObject* value) {
  return value != nullptr && PyDict_SetItem(dict, key, value) == 0;
}

bool putNumber(PyObject* dict, PyObject* key, unsigned long long value) {
  return put(dict, key, PyLong_FromUnsignedLongLong(value));
}

PyObject* finished(PyObject* dict, bool complete) {
  if (!complete) {
    Py_XDECREF(dict);
    return nullptr;
  }
  return dict;
}

// The last eight bytes of a text (fewer in a shorter one), as a number.
uint64_t tail(const std::string& text) {
  uint64_t word = 0;
  const std::size_t size = std::min<std::size_t>(text.size(), sizeof word);
  std::memcpy(&word, text.data() + text.size() - size, size);
  return word;
}

void release(PyObject*& object) {
  Py_XDECREF(object);
  object = nullptr;
}

}  // namespace

// Each key and its name.
const std::pair<PyObject * KivPyEvents::Keys::*, const char*> KivPyEvents::kKeyNames[] = {
    {&Keys::n, "n"},
    {&Keys::host, "host"},
    {&Keys::prefix, "prefix"},
    {&Keys::device, "device"},
    {&Keys::timestamp, "timestamp"},
    {&Keys::type, "type"},
    {&Keys::level, "level"},
    {&Keys::module, "module"},
    {&Keys::file, "file"},
    {&Keys::sourceLine, "source_line"},
    {&Keys::format, "format"},
    {&Keys::values, "values"},
    {&Keys::message, "message"},
    {&Keys::umac, "umac"},
    {&Keys::lmac, "lmac"},
    {&Keys::compatible, "compatible"},
    {&Keys::firmware, "firmware"},
    {&Keys::line, "line"},
    {&Keys::undecoded, "undecoded"},
    {&Keys::diag, "diag"},
    {&Keys::text, "text"},
};

KivPyEvents::KivPyEvents() : statements_(kStatementSets) {
  bool made = true;
  for (const auto& [key, name] : kKeyNames) {
    keys_.*key = PyUnicode_InternFromString(name);
    made = made && keys_.*key != nullptr;
  }
  shape_ = PyDict_New();
  made = made && shape_ != nullptr;
  for (PyObject* key :
       {keys_.n, keys_.prefix, keys_.device, keys_.timestamp, keys_.type, keys_.level, keys_.module,
        keys_.file, keys_.sourceLine, keys_.format, keys_.values, keys_.message}) {
    made = made && PyDict_SetItem(shape_, key, Py_None) == 0;
  }
  if (!made) {
    releaseAll();
    throw std::bad_alloc();
  }
}

KivPyEvents::~KivPyEvents() {
  releaseAll();
}

void KivPyEvents::releaseAll() {
  for (std::array<Statement, 2>& set : statements_) {
    set[0].clear();
    set[1].clear();
  }
  scratch_.clear();
  release(shape_);
  for (Word& w : devices_) {
    release(w.text);
  }
  for (Word& w : types_) {
    release(w.text);
  }
  release(lastPrefixText_);
  for (const auto& [key, name] : kKeyNames) {
    release(keys_.*key);
  }
}

PyObject* KivPyEvents::toDict(const kivlog::Event& event) {
  return std::visit(
      [this](const auto& e) -> PyObject* {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, kivlog::HostLine>) {
          return host(e);
        } else if constexpr (std::is_same_v<T, kivlog::DescriptorLine>) {
          return descriptor(e);
        } else if constexpr (std::is_same_v<T, kivlog::DecodedRecord>) {
          return decoded(e);
        } else if constexpr (std::is_same_v<T, kivlog::UndecodedLine>) {
          return undecoded(e);
        } else {
          return diagnostic(e);
        }
      },
      event);
}

PyObject* KivPyEvents::host(const kivlog::HostLine& e) {
  PyObject* dict = PyDict_New();
  return finished(
      dict, dict != nullptr && putNumber(dict, keys_.n, e.n) && putText(dict, keys_.host, e.line));
}

PyObject* KivPyEvents::descriptor(const kivlog::DescriptorLine& e) {
  PyObject* dict = PyDict_New();
  bool complete = dict != nullptr && putNumber(dict, keys_.n, e.n) &&
                  (e.device.empty() || putText(dict, keys_.device, e.device)) &&
                  putText(dict, keys_.umac, e.umac) && putText(dict, keys_.lmac, e.lmac) &&
                  putShared(dict, keys_.compatible, e.compatible ? Py_True : Py_False) &&
                  (!e.firmware || putText(dict, keys_.firmware, *e.firmware)) &&
                  putText(dict, keys_.line, e.line);
  return finished(dict, complete);
}

PyObject* KivPyEvents::undecoded(const kivlog::UndecodedLine& e) {
  PyObject* dict = PyDict_New();
  return finished(dict, dict != nullptr && putNumber(dict, keys_.n, e.n) &&
                            (e.device.empty() || putText(dict, keys_.device, e.device)) &&
                            putText(dict, keys_.undecoded, e.reason) &&
                            putText(dict, keys_.line, e.line));
}

PyObject* KivPyEvents::diagnostic(const kivlog::Diagnostic& e) {
  PyObject* dict = PyDict_New();
  return finished(dict, dict != nullptr && putText(dict, keys_.diag, e.level) &&
                            putText(dict, keys_.text, e.text));
}

template <std::size_t N>
PyObject* KivPyEvents::word(std::array<Word, N>& words, std::size_t& oldest,
                            std::string_view bytes) {
  for (Word& w : words) {
    if (w.text != nullptr && w.bytes == bytes) {
      return w.text;
    }
  }
  PyObject* text = kivPyText(bytes);
  if (text == nullptr) {
    return nullptr;
  }
  Word& w = words[oldest];
  oldest = (oldest + 1) % N;
  Py_XDECREF(w.text);
  w.text = text;
  w.bytes.assign(bytes);
  return text;
}

bool KivPyEvents::Statement::holds(const kivlog::DecodedRecord& e) const {
  return members[0] != nullptr && sourceLine == e.sourceLine && module == e.module &&
         fileSize == e.file.size() && formatSize == e.format.size() &&
         texts.size() == fileSize + formatSize + e.level.size() &&
         std::memcmp(texts.data(), e.file.data(), fileSize) == 0 &&
         std::memcmp(texts.data() + fileSize, e.format.data(), formatSize) == 0 &&
         std::memcmp(texts.data() + fileSize + formatSize, e.level.data(), e.level.size()) == 0;
}

void KivPyEvents::Statement::clear() {
  for (PyObject*& member : members) {
    release(member);
  }
}

KivPyEvents::Statement* KivPyEvents::statement(const kivlog::DecodedRecord& e) {
  // The set follows from a few of the statement's bytes and numbers; the comparison decides.
  uint64_t key = tail(e.format) ^ (tail(e.file) * 0x9E3779B97F4A7C15) ^
                 (uint64_t{e.sourceLine} << 32 | uint64_t{e.module} << 16 | e.format.size());
  key = (key ^ (key >> 31)) * 0xBF58476D1CE4E5B9;
  std::array<Statement, 2>& set = statements_[(key >> 32) % kStatementSets];
  const bool cached = e.file.size() + e.format.size() + e.level.size() <= kCachedTexts;
  if (set[0].holds(e)) {
    return &set[0];
  }
  if (set[1].holds(e)) {
    std::swap(set[0], set[1]);
    return &set[0];
  }
  if (cached) {
    set[1].clear();
    std::swap(set[0], set[1]);
  } else {
    scratch_.clear();
  }
  Statement& s = cached ? set[0] : scratch_;
  s.members = {kivPyText(e.level), PyLong_FromUnsignedLong(e.module), kivPyText(e.file),
               PyLong_FromUnsignedLong(e.sourceLine), kivPyText(e.format)};
  for (PyObject* member : s.members) {
    if (member == nullptr) {
      s.clear();
      return nullptr;
    }
  }
  if (!cached) {
    return &s;
  }
  s.texts.assign(e.file).append(e.format).append(e.level);
  s.fileSize = e.file.size();
  s.formatSize = e.format.size();
  s.module = e.module;
  s.sourceLine = e.sourceLine;
  return &s;
}

PyObject* KivPyEvents::decoded(const kivlog::DecodedRecord& e) {
  const Statement* s = statement(e);
  if (s == nullptr) {
    return nullptr;
  }
  if (lastPrefixText_ == nullptr || lastPrefix_ != e.prefix) {
    PyObject* prefix = kivPyText(e.prefix);
    if (prefix == nullptr) {
      return nullptr;
    }
    Py_XDECREF(lastPrefixText_);
    lastPrefixText_ = prefix;
    lastPrefix_ = e.prefix;
  }
  PyObject* values = PyList_New(2);
  if (values == nullptr) {
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < 2; ++i) {
    PyObject* value = PyLong_FromUnsignedLong(e.values[static_cast<std::size_t>(i)]);
    if (value == nullptr) {
      Py_DECREF(values);
      return nullptr;
    }
    PyList_SET_ITEM(values, i, value);
  }
  PyObject* dict = PyDict_Copy(shape_);
  if (dict == nullptr) {
    Py_DECREF(values);
    return nullptr;
  }
  // A record without a device id has no "device" member.
  const bool complete =
      put(dict, keys_.values, values) && putNumber(dict, keys_.n, e.n) &&
      putShared(dict, keys_.prefix, lastPrefixText_) &&
      (e.device.empty() ? PyDict_DelItem(dict, keys_.device) == 0
                        : putShared(dict, keys_.device, word(devices_, nextDevice_, e.device))) &&
      putNumber(dict, keys_.timestamp, e.timestamp) &&
      putShared(dict, keys_.type, word(types_, nextType_, e.type)) &&
      putShared(dict, keys_.level, s->members[0]) && putShared(dict, keys_.module, s->members[1]) &&
      putShared(dict, keys_.file, s->members[2]) &&
      putShared(dict, keys_.sourceLine, s->members[3]) &&
      putShared(dict, keys_.format, s->members[4]) && putText(dict, keys_.message, e.message);
  return finished(dict, complete);
}
