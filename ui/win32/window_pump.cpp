#include "ui/win32/window_pump.h"

#include "engine/session.h"

namespace ui::win32 {

namespace {

HWND g_pumpDialog = nullptr;  // window thread only

}  // namespace

void WindowPump(int maxWaitMs) {
    if (maxWaitMs > 0) {
        // A message sent from a worker wakes the wait as well.
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(maxWaitMs), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Left for the loop that owns the thread.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (g_pumpDialog != nullptr && ::IsDialogMessageW(g_pumpDialog, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

ScopedWindowPump::ScopedWindowPump(HWND dialog) : m_previous(g_pumpDialog) {
    g_pumpDialog = dialog;
    VARKO_SetPumpHook(&WindowPump);
}

ScopedWindowPump::~ScopedWindowPump() {
    VARKO_SetPumpHook(nullptr);
    g_pumpDialog = m_previous;
}

}  // namespace ui::win32
