#include "KivPyText.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/KivUtf8.h"

namespace {

bool isAscii(const unsigned char* p, std::size_t size) {
  constexpr uint64_t kHigh = 0x8080808080808080;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    if ((word & kHigh) != 0) {
      return false;
    }
  }
  for (; i < size; ++i) {
    if (p[i] >= 0x80) {
      return false;
    }
  }
  return true;
}

PyObject* mixedText(const unsigned char* p, std::size_t size) {
  std::vector<Py_UCS4> characters;
  characters.reserve(size);
  const unsigned char* const end = p + size;
  while (p != end) {
    const std::size_t length = *p < 0x80 ? 1 : utf8Length(p, end);
    if (length <= 1) {
      characters.push_back(*p++);
      continue;
    }
    Py_UCS4 c = *p & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
      c = (c << 6) | (p[i] & 0x3F);
    }
    characters.push_back(c);
    p += length;
  }
  return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, characters.data(),
                                   static_cast<Py_ssize_t>(characters.size()));
}

}  // namespace

PyObject* kivPyText(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<Py_ssize_t>(bytes.size());
  if (isAscii(p, bytes.size())) {
    PyObject* text = PyUnicode_New(size, 127);
    if (text != nullptr) {
      std::memcpy(PyUnicode_DATA(text), p, bytes.size());
    }
    return text;
  }
  // Python's strict decoder accepts exactly the valid UTF-8 that kivlog writes as it is.
  if (PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), size, nullptr)) {
    return text;
  }
  if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
    return nullptr;
  }
  PyErr_Clear();
  return mixedText(p, bytes.size());
}
