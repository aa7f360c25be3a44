#pragma once

#include <string_view>

// Everything the tool writes to standard error goes through here. Before the text, the prelude
// runs: it pushes out what was written to the other outputs so far, so that a terminal shows both
// streams in the order they were written, and clears whatever stands on the terminal's last line.
void writeToStderr(std::string_view text);

// The prelude; null for none.
void setStderrPrelude(void (*prelude)());
