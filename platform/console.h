// The console a command-line front end writes to.
#pragma once

namespace platform {

// True when standard output is a terminal (a console window) that can redraw
// lines in place; false for a file or a pipe.
bool StandardOutputIsTerminal();

}  // namespace platform
