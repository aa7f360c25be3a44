#pragma once

#include "kivlog/Export.h"

// The kivlog command line: decodes the firmware log records of a raw host log against the firmware
// images, as the arguments say, and returns the exit status. It owns the process's standard
// streams, signals and descriptors 0 to 2 while it runs.
KIVLOG_API int kivlogMain(int argc, char** argv);
