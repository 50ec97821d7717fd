// The signals a console front end (and the window) lives with. Ctrl-C,
// SIGTERM and SIGHUP (unless ignored from the start, as under "nohup") ask
// for a stop instead of ending the process, so every handset is left in step
// and the records are finished; a standard output that closes (a pipe into
// "head") is no reason to end a flash: writes to it just fail.
#pragma once

namespace platform {

// Installs the handlers; may be called again (before every session).
void InstallConsoleSignals();
// True once Ctrl-C, SIGTERM or SIGHUP arrived since the last ClearStopRequest.
bool StopRequested();
void ClearStopRequest();

}  // namespace platform
