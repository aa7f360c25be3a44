#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kivlog/Decoder.h"
#include "support/KivTempDir.h"

// Raw logs with their images that the decoder libraries (C++ and Python) are checked on against
// kivlog -j -r: the shipped samples, legacy images, strict matching, a firmware library, hostile
// bytes and a generated workload, between them every kind of event.
struct KivApiCase {
  const char* name;  // a word, for a folder
  const char* what;
  std::function<void(KivTempDir&)> setUp;  // writes the images and raw.log
  std::vector<std::string> args;           // kivlog's options, but -j, -r and -i raw.log
  kivlog::Options options;                 // the same for the decoder
};

const std::vector<KivApiCase>& kivApiCases();
