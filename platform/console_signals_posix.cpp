#include <signal.h>

#include <atomic>

#include "platform/console_signals.h"

namespace platform {
namespace {

std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) {
    g_stopRequested = true;
}

}  // namespace

void InstallConsoleSignals() {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A hang-up (the terminal closed, the session logged out) is a stop as
    // well: the handsets are left in step and the records finished. Started
    // with hang-ups ignored ("nohup"), the program keeps ignoring them.
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        sigaction(SIGHUP, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool StopRequested() {
    return g_stopRequested.load();
}

void ClearStopRequest() {
    g_stopRequested = false;
}

}  // namespace platform
