#include "ui/win32/window_prompt.h"

#include "ui/win32/text.h"

namespace ui::win32 {

namespace {

constexpr const wchar_t* kBoxTitle = L"Kelvane";

}  // namespace

void ShowPromptBox(HWND window, PromptRequest* request) {
    const UINT style = request->question ? MB_YESNO | MB_ICONQUESTION : MB_OK | MB_ICONINFORMATION;
    const int answer = ::MessageBoxW(window, Widen(request->text).c_str(), kBoxTitle, style);
    request->yes = answer == IDYES;
}

void WindowPrompt::ShowText(const char* text) {
    PromptRequest request{text, false};
    Ask(&request);
}

bool WindowPrompt::AskYesNo(const char* text) {
    PromptRequest request{text, true};
    Ask(&request);
    return request.yes;
}

void WindowPrompt::Ask(PromptRequest* request) {
    if (::GetWindowThreadProcessId(m_window, nullptr) == ::GetCurrentThreadId()) {
        ShowPromptBox(m_window, request);
        return;
    }
    // Returns once the window thread has handled it, or at once for a window
    // that no longer exists.
    ::SendMessageW(m_window, kPromptMessage, 0, reinterpret_cast<LPARAM>(request));
}

}  // namespace ui::win32
