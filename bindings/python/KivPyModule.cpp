// The Python module kivlog: kivlog's decoder, giving each event as the dict of its JSON Lines
// object.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <filesystem>
#include <optional>
#include <string>

#include "KivPyDecoder.h"
#include "KivPyErrors.h"
#include "KivPyFileEvents.h"

namespace py = pybind11;

namespace {

using Path = std::optional<std::filesystem::path>;

KivPyDecoder* makeDecoder(const Path& elf, const Path& umac, const Path& lmac,
                          const std::optional<std::string>& sigUmac,
                          const std::optional<std::string>& sigLmac, bool strict,
                          const Path& library, int verbosity) {
  if (elf && (umac || lmac)) {
    throw py::value_error(
        "elf names the combined image; umac and lmac name legacy images: give one or the other");
  }
  kivlog::Options options;
  if (elf) {
    options.elf = elf->string();
  }
  options.umac = umac ? umac->string() : "";
  options.lmac = lmac ? lmac->string() : "";
  options.sigUmac = sigUmac.value_or("");
  options.sigLmac = sigLmac.value_or("");
  options.strict = strict;
  options.library = library ? library->string() : "";
  options.verbosity = verbosity;
  return new KivPyDecoder(options);
}

constexpr const char* kModuleDoc = R"(Decodes tokenized firmware logs as kivlog does.

Each event comes as the dict of the JSON Lines object that ``kivlog -j`` writes for it: host
lines, descriptor lines, decoded records, undecoded lines and diagnostics. Texts are str: valid
UTF-8 as its characters, any other byte as the character of its value (U+0000 to U+00FF).)";

constexpr const char* kDecoderDoc =
    R"(Decoder(elf=None, *, umac=None, lmac=None, sig_umac=None, sig_lmac=None, strict=False, library=None, verbosity=0)

Loads the firmware images: ``elf`` the combined image (default "kiv_log.elf"), or ``umac``
and ``lmac`` the legacy images (naming either selects legacy mode; the other defaults to
"umac.elf" or "lmac.elf"). ``sig_umac`` and ``sig_lmac`` are the signature strings, ``strict``
passes records of a device with other versions through undecoded, ``library`` is a folder of
firmware builds, ``verbosity`` the diagnostics to give (0 errors ... 3 traces, negative none): as
kivlog's options -f, -u, -l, -sig_umac, -sig_lmac, -s, -F and -v.

Raises ImageError when an image cannot be loaded and LibraryError when the folder cannot be read,
with kivlog's text. A decoder keeps the state of one raw log: its devices, line numbers and counts.)";

}  // namespace

PYBIND11_MODULE(kivlog, module) {
  module.doc() = kModuleDoc;
  kivPyAddErrors(module);
  kivPyAddFileEvents(module);

  py::class_<KivPyDecoder>(module, "Decoder", kDecoderDoc)
      .def(py::init(&makeDecoder), py::arg("elf") = py::none(), py::kw_only(),
           py::arg("umac") = py::none(), py::arg("lmac") = py::none(),
           py::arg("sig_umac") = py::none(), py::arg("sig_lmac") = py::none(),
           py::arg("strict") = false, py::arg("library") = py::none(), py::arg("verbosity") = 0)
      .def("decode", &KivPyDecoder::decode, py::arg("line"),
           "Decodes one input line (str or bytes, without its line end; a text holding line ends "
           "is taken as that many lines) and returns the list of its events' dicts.")
      .def(
          "decode_file",
          [](py::object self, const std::filesystem::path& path) {
            const std::uint64_t file = self.cast<KivPyDecoder&>().open(path);
            return kivPyFileEvents(self, file);
          },
          py::arg("path"),
          "Opens a raw log file and returns an iterator over its events' dicts, decoded a part "
          "at a time with the GIL released. Raises InputError when the file cannot be opened, "
          "and from the iterator after a read error. Opening another file ends this one.")
      .def("report", &KivPyDecoder::report,
           "The report of everything decoded so far: the \"report\" member of the object that "
           "kivlog -j -r writes at the end.");
}
