// Message boxes for the operator, shown modally on the window thread from
// any thread: a worker's text is sent to the dialog and the worker waits
// until the operator closed the box.
#pragma once

#include <windows.h>

#include "platform/notify.h"

namespace ui::win32 {

// The dialog's private message that shows a box: lParam points to a
// PromptRequest; the dialog answers with ShowPromptBox.
inline constexpr UINT kPromptMessage = WM_APP + 1;

struct PromptRequest {
    const char* text;
    bool question;
    bool yes = false;  // the answer
};

// Shows the request's box owned by window and fills in the answer.
void ShowPromptBox(HWND window, PromptRequest* request);

class WindowPrompt : public platform::OperatorPrompt {
public:
    // window's thread shows the boxes; a text for a window that is gone is
    // answered No without a box.
    explicit WindowPrompt(HWND window) : m_window(window) {}
    void ShowText(const char* text) override;
    bool AskYesNo(const char* text) override;

private:
    void Ask(PromptRequest* request);
    HWND m_window;
};

}  // namespace ui::win32
