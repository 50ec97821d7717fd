// Ctrl-C, Ctrl-Break and closing the console window ask for a stop instead of
// ending the process. A console handler runs on a thread of its own; for a
// close the process ends when the handler returns, so that handler waits
// (bounded) for the front end to close its ports first.
#include <windows.h>

#include <atomic>

#include "platform/console_signals.h"

namespace platform {
namespace {

std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_installed{false};

// How long a console close gives the channels to stop; Windows ends the
// process after about 5 s whatever the handler does.
constexpr DWORD kCloseGraceMs = 3000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            g_stopRequested = true;
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            g_stopRequested = true;
            ::Sleep(kCloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InstallConsoleSignals() {
    if (g_installed.exchange(true)) return;
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

bool StopRequested() {
    return g_stopRequested.load();
}

void ClearStopRequest() {
    g_stopRequested = false;
}

}  // namespace platform
