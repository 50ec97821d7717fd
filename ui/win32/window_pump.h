// The session runner's wait on the window thread: while a download runs,
// the dialog's messages (the workers' notifications, sent from their
// threads, and the operator's clicks) are dispatched.
#pragma once

#include <windows.h>

namespace ui::win32 {

// Waits up to maxWaitMs for a message (0: none), then dispatches every
// message that is there, the dialog's keyboard navigation included.
void WindowPump(int maxWaitMs);

// The pump is the session runner's for its lifetime; dialog gets the
// keyboard messages.
class ScopedWindowPump {
public:
    explicit ScopedWindowPump(HWND dialog);
    ~ScopedWindowPump();
    ScopedWindowPump(const ScopedWindowPump&) = delete;
    ScopedWindowPump& operator=(const ScopedWindowPump&) = delete;

private:
    HWND m_previous;
};

}  // namespace ui::win32
