#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>

// kivlog.FileEvents, the iterator that Decoder.decode_file() returns: a type of the C API, so that
// each step costs one call. It decodes the file a part at a time with the GIL released and makes
// each event's dict as it is asked for.
void kivPyAddFileEvents(pybind11::module_& module);

// A new iterator over file `file` of the decoder object `decoder` (a kivlog.Decoder), which it
// keeps alive.
pybind11::object kivPyFileEvents(pybind11::handle decoder, std::uint64_t file);
