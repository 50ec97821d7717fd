// The session runner's pump for the window: while the workers run, the
// runner calls it with 0 ("handle what is pending") and with 50 ("handle
// events for up to 50 ms"), so the window stays responsive throughout a
// download: it moves, its log scrolls, port events and the workers'
// notifications are handled.
#pragma once

void WindowPump(int maxWaitMs);

// Installs WindowPump as the runner's hook for its own lifetime, then puts
// the runner's own back.
class ScopedWindowPump {
public:
    ScopedWindowPump();
    ~ScopedWindowPump();
    ScopedWindowPump(const ScopedWindowPump&) = delete;
    ScopedWindowPump& operator=(const ScopedWindowPump&) = delete;
};
