#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kivlog/Events.h"
#include "kivlog/Export.h"

namespace kivlog {

// What kivlog's command line sets for a run, as a decoder takes it.
struct Options {
  // The firmware ELF file holding both images (-f). Used unless umac or lmac is given.
  std::string elf = "kiv_log.elf";
  // Legacy mode (-u, -l): one file per image; naming either selects it, and the other one
  // defaults to "umac.elf" or "lmac.elf".
  std::string umac;
  std::string lmac;
  // Signature strings (-sig_umac, -sig_lmac); empty for the mode's defaults.
  std::string sigUmac;
  std::string sigLmac;
  // Strict matching (-s): records of a device with other versions are passed through undecoded.
  bool strict = false;
  // A folder of firmware builds (-F); empty for none.
  std::string library;
  // Diagnostics (-v): 0 errors, 1 warnings, 2 information, 3 traces; negative for none.
  int verbosity = 0;
};

// Something the decoder could not do; what() is the text kivlog's command line prints for it.
class KIVLOG_API Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A firmware image that cannot be loaded (its ERR diagnostic's text).
class KIVLOG_API ImageError : public Error {
 public:
  using Error::Error;
};
// A firmware folder that cannot be read.
class KIVLOG_API LibraryError : public Error {
 public:
  using Error::Error;
};
// A raw log file that cannot be opened or read.
class KIVLOG_API InputError : public Error {
 public:
  using Error::Error;
};

// Decodes raw log lines against firmware images, as kivlog does, and hands out events instead of
// writing them. One decoder keeps the state of one raw log (its devices, line numbers and
// counters); it is not shared between threads, but decoders on different threads are independent.
//
// Diagnostics written while the decoder is made (image loading, at verbosity 3) come with the
// events of the first decoding call.
class KIVLOG_API Decoder {
 public:
  using Handler = std::function<void(const Event& event)>;

  // Loads the images; throws ImageError or LibraryError with the command line's text.
  explicit Decoder(const Options& options);
  ~Decoder();
  Decoder(Decoder&&) noexcept;
  Decoder& operator=(Decoder&&) noexcept;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes one input line (without its line end; a text holding line ends is taken as that many
  // lines). The handler gets each event; the event is valid only while the call runs.
  void decode(std::string_view line, const Handler& handler);
  std::vector<Event> decode(std::string_view line);

  // Decodes a whole raw log file. Throws InputError when it cannot be opened, or after every
  // line before a read error has been handed out.
  void decodeFile(const std::string& path, const Handler& handler);

  // Reading a raw log file a part at a time. open() throws InputError when the file cannot be
  // opened; each read() decodes lines until at least `count` events have come or the file has
  // ended, and puts them at the front of `events` (resized to fit, reusing the storage of what it
  // held); it returns false once the file has ended and nothing came, and throws InputError after
  // a read error.
  void open(const std::string& path);
  bool read(std::vector<Event>& events, std::size_t count);

  // The report of everything decoded so far, as kivlog -r writes it at the end of a run.
  // Indexing a firmware folder that no device needed may come with diagnostics for the handler.
  Report finish(const Handler& handler = {});

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kivlog
