#pragma once

#include <Python.h>

#include <string_view>

// A Python str of the bytes as kivlog -j writes them, read back: valid UTF-8 as its characters,
// and every byte that is not part of valid UTF-8 as the character of its value (U+0000 to
// U+00FF). A new reference, or null with a Python error set. Needs the GIL.
PyObject* kivPyText(std::string_view bytes);
