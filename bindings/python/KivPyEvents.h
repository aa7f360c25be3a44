#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kivlog/Events.h"

// Makes the Python dict of each event: the object kivlog -j writes for it, as json.loads reads
// it back, member for member and in the same order. Decoded records come by the million: the
// objects of a statement's members (level, module, file, source line, format) are made once and
// kept in a cache of bounded size, and a record's dict is a copy of one with every member in
// place, its values put in. Needs the GIL for every call, the destructor included.
class KivPyEvents {
 public:
  KivPyEvents();
  ~KivPyEvents();
  KivPyEvents(const KivPyEvents&) = delete;
  KivPyEvents& operator=(const KivPyEvents&) = delete;

  // A new reference, or null with a Python error set.
  PyObject* toDict(const kivlog::Event& event);

 private:
  // A statement's objects, found again by its texts and numbers.
  struct Statement {
    std::string texts;  // file, format and level, one after the other
    std::size_t fileSize = 0;
    std::size_t formatSize = 0;
    uint16_t module = 0;
    uint16_t sourceLine = 0;
    // level, module, file, source_line and format; all null for an empty entry.
    std::array<PyObject*, 5> members{};

    bool holds(const kivlog::DecodedRecord& e) const;
    void clear();
  };
  // A short text seen again and again (a device id, a record type) and its str.
  struct Word {
    std::string bytes;
    PyObject* text = nullptr;
  };

  // Gives back every object held.
  void releaseAll();

  PyObject* host(const kivlog::HostLine& e);
  PyObject* descriptor(const kivlog::DescriptorLine& e);
  PyObject* decoded(const kivlog::DecodedRecord& e);
  PyObject* undecoded(const kivlog::UndecodedLine& e);
  PyObject* diagnostic(const kivlog::Diagnostic& e);

  // The cached entry of the record's statement, filled anew when another one held its place;
  // null with a Python error set.
  Statement* statement(const kivlog::DecodedRecord& e);
  // A borrowed reference to the str of `bytes`, kept in `words` in place of the oldest one there;
  // null with a Python error set.
  template <std::size_t N>
  PyObject* word(std::array<Word, N>& words, std::size_t& oldest, std::string_view bytes);

  struct Keys {
    PyObject* n;
    PyObject* host;
    PyObject* prefix;
    PyObject* device;
    PyObject* timestamp;
    PyObject* type;
    PyObject* level;
    PyObject* module;
    PyObject* file;
    PyObject* sourceLine;
    PyObject* format;
    PyObject* values;
    PyObject* message;
    PyObject* umac;
    PyObject* lmac;
    PyObject* compatible;
    PyObject* firmware;
    PyObject* line;
    PyObject* undecoded;
    PyObject* diag;
    PyObject* text;
  } keys_{};
  static const std::pair<PyObject * Keys::*, const char*> kKeyNames[21];

  // Two entries a set, the one used last first: a firmware's statements, thousands of them,
  // mostly stay in the cache, and its size stays bounded whatever the log holds.
  // A decoded record's dict with every member in place, in the order kivlog -j writes them, and
  // None for each value: copying it and putting the values in costs less than growing a dict.
  PyObject* shape_ = nullptr;

  // Two entries a set, the one used last first: a firmware's statements, thousands of them,
  // mostly stay in the cache. Its size stays bounded whatever the images hold: a statement with
  // longer texts than kCachedTexts is made anew for each record, in scratch_.
  static constexpr std::size_t kStatementSets = 4096;
  static constexpr std::size_t kCachedTexts = 512;
  std::vector<std::array<Statement, 2>> statements_;
  Statement scratch_;
  std::array<Word, 16> devices_;
  std::size_t nextDevice_ = 0;
  std::array<Word, 16> types_;
  std::size_t nextType_ = 0;
  // Consecutive records often share their prefix (a host time stamp).
  std::string lastPrefix_;
  PyObject* lastPrefixText_ = nullptr;
};
