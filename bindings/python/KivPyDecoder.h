#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "KivPyEvents.h"
#include "kivlog/Decoder.h"

// The state behind a kivlog.Decoder: the library's decoder, the dicts' caches, and what keeps two
// Python threads from using the decoder at once while one of them has released the GIL: the
// second one's call raises RuntimeError.
class KivPyDecoder {
 public:
  // Loads the images with the GIL released.
  explicit KivPyDecoder(const kivlog::Options& options);

  // Every event of the line (or lines) as dicts.
  pybind11::list decode(pybind11::handle line);
  // The "report" member of the report object that kivlog -j -r writes.
  pybind11::object report();

  // Opens a raw log for a kivlog.FileEvents iterator; returns the file's number, by which the
  // iterator knows whether its file is still the one open. Opening another file ends the one
  // before.
  std::uint64_t open(const std::filesystem::path& path);
  // Whether file `file` is the one open, the last opened.
  bool reading(std::uint64_t file) const { return file == file_; }
  // Decodes the next part of the open file into `events` with the GIL released; false once the
  // file has ended.
  bool read(std::vector<kivlog::Event>& events);

  // The dict of an event of the open file; null with a Python error set, also when the decoder
  // is in use: by another thread, or by code that ran while a dict was made (a finaliser).
  PyObject* dictOf(const kivlog::Event& event);

 private:
  // Marks the decoder as in use while it lives; throws when it already was: while another thread
  // has released the GIL in a call, or when a finaliser that runs while a dict is made calls the
  // decoder.
  class Use {
   public:
    explicit Use(KivPyDecoder& decoder);
    ~Use() { decoder_.inUse_ = false; }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    KivPyDecoder& decoder_;
  };

  std::unique_ptr<kivlog::Decoder> decoder_;
  KivPyEvents events_;
  bool inUse_ = false;
  std::uint64_t file_ = 0;
};
