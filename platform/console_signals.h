// The signals a console front end lives with. Ctrl-C and SIGTERM ask for a
// stop instead of ending the process, so every handset is left in step; a
// standard output that closes (a pipe into "head") is no reason to end a
// flash: writes to it just fail.
#pragma once

namespace platform {

// Installs the handlers; may be called again (before every session).
void InstallConsoleSignals();
// True once Ctrl-C or SIGTERM arrived since the last ClearStopRequest.
bool StopRequested();
void ClearStopRequest();

}  // namespace platform
