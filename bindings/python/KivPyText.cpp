#include "KivPyText.h"

#include <cstdint>
#include <cstring>
#include <vector>

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

// The length of the valid UTF-8 sequence at `p`, or 0 when the byte there starts none: a stray
// continuation byte, an overlong form, a surrogate, a value beyond U+10FFFF or a cut sequence.
std::size_t utf8Length(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;
    }
  }
  return length;
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
