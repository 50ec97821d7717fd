// Whether a program's output goes to a person at a console: live progress
// lines (rewritten in place with escape sequences) only go there.
#pragma once

#include <cstdio>

namespace platform {

// True when stream writes to an interactive terminal or console that shows
// escape sequences. On Windows the console's virtual-terminal processing is
// switched on first; a console without it, a file, a pipe or the NUL device
// gives false.
bool IsLiveConsole(FILE* stream);

}  // namespace platform
