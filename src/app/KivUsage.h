#pragma once

#include <ostream>
#include <string>
#include <string_view>

// "Version: 4.3.4194980 <build date> <build time> <build account>"
std::string versionBanner();

// Writes the version banner and the usage text.
void printUsage(std::ostream& out, std::string_view programName);
