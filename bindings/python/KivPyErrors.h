#pragma once

#include <pybind11/pybind11.h>

#include <exception>

// The module's exception classes: kivlog.Error, the base, and kivlog.ImageError,
// kivlog.LibraryError and kivlog.InputError (also an OSError), each raised with the text kivlog's
// command line prints for the failure.
void kivPyAddErrors(pybind11::module_& module);

// Raises the Python exception of a C++ exception that a call of the decoder threw: sets the
// Python error.
void kivPySetError(const std::exception_ptr& error);
