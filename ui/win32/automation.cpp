#include "ui/win32/automation.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "platform/file_replace.h"
#include "ui/dialog_template.h"
#include "ui/win32/downloader_dialog.h"
#include "ui/win32/window_pump.h"

namespace ui::win32 {

namespace {

// The window as it is on the screen, as a 24-bit bottom-up BMP file.
bool SaveWindowPicture(HWND window, const std::string& file) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory, previous);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<size_t>(stride) * height);
    const int lines = ::GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (lines != height) return false;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4d42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = static_cast<DWORD>(header.bfOffBits + pixels.size());
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    bytes.append(pixels.data(), pixels.size());
    return platform::ReplaceFileAtomically(file, bytes);
}

}  // namespace

double MsSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;  // 100 ns ticks
}

namespace {

// The tasks of the thread timers the scripted run set; window thread only.
std::map<UINT_PTR, std::function<void()>> g_timerTasks;

void CALLBACK RunTimerTask(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    const auto task = g_timerTasks.find(timer);
    if (task == g_timerTasks.end()) return;
    const std::function<void()> run = std::move(task->second);
    g_timerTasks.erase(task);
    run();
}

class Win32ScriptedWindow : public ui::ScriptedWindow {
public:
    explicit Win32ScriptedWindow(DownloaderDialog& dialog) : m_dialog(dialog) {}
    ~Win32ScriptedWindow() override {
        for (const auto& task : g_timerTasks)
            ::KillTimer(nullptr, task.first);
        g_timerTasks.clear();
    }

    void After(int ms, std::function<void()> task) override {
        const UINT_PTR timer = ::SetTimer(nullptr, 0, static_cast<UINT>(ms), &RunTimerTask);
        if (timer != 0) g_timerTasks[timer] = std::move(task);
    }
    // Dispatches the dialog's messages until it ended or the limit passed.
    bool RunUntilEnded(int limitMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!m_dialog.Ended()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            WindowPump(100);
        }
        return true;
    }
    void Close() override { ::PostMessageW(m_dialog.Window(), WM_COMMAND, IDCANCEL, 0); }
    void Click(ui::Control control) override {
        const TemplateItem* item = FindTemplateItem(DialogTemplate103(), ControlName(control));
        if (item == nullptr) return;
        ::SendMessageW(::GetDlgItem(m_dialog.Window(), item->id), BM_CLICK, 0, 0);
    }
    void PressDownload() override { Click(ui::Control::kDownloadButton); }
    bool SavePicture(const std::string& file) override {
        return SaveWindowPicture(m_dialog.Window(), file);
    }

private:
    DownloaderDialog& m_dialog;
};

}  // namespace

bool ParseAutomationOptions(int argc, const char* const* argv, AutomationOptions* options,
                            std::string* error) {
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    return ui::ParseAutomationOptions(arguments, false, options, error);
}

int RunAutomated(const AutomationOptions& options) {
    ui::PrintingPrompt prompt(false);
    DialogServices services;
    services.prompt = &prompt;
    services.ask = [&prompt](const std::string& text, bool withCancel) {
        return prompt.Answer(text, withCancel);
    };
    DownloaderDialog dialog(std::move(services));
    if (dialog.Create() == nullptr) {
        std::fprintf(stderr, "kelvane: the window could not be created\n");
        return 1;
    }
    ::ShowWindow(dialog.Window(), SW_SHOW);
    ::UpdateWindow(dialog.Window());
    std::fprintf(stderr,
                 "kelvane: the window was up %.0f ms after the process started (main began "
                 "at %.0f ms)\n",
                 MsSinceProcessStart(), options.mainEnteredMs);
    Win32ScriptedWindow window(dialog);
    return ui::RunScripted(options, window);
}

}  // namespace ui::win32
