#include "ui/win32/automation.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "ui/dialog_ids.h"
#include "ui/win32/downloader_dialog.h"
#include "ui/win32/window_pump.h"

namespace ui::win32 {

namespace {

constexpr int kMaxAfterMs = 600000;
constexpr int kCloseWaitMs = 60000;  // a stopped download ends well within this

// Prints what would be a message box; questions get No. Called from the
// workers as well, so one line at a time.
class PrintingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override { Print("message", text); }
    bool AskYesNo(const char* text) override {
        Print("question (answered No)", text);
        return false;
    }

private:
    void Print(const char* what, const char* text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "kelvane: %s: %s\n", what, text);
    }
    std::mutex m_mutex;
};

bool ParseAfterMs(const char* text, int* ms) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > kMaxAfterMs) return false;
    *ms = static_cast<int>(value);
    return true;
}

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
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
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

// Dispatches the dialog's messages until it ended or the deadline passed.
bool RunUntilEnded(DownloaderDialog& dialog, std::chrono::steady_clock::time_point deadline) {
    while (!dialog.Ended()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WindowPump(100);
    }
    return true;
}

struct ScreenshotRun {
    DownloaderDialog* dialog;
    const AutomationOptions* options;
    bool saved = false;
    bool taken = false;
};
ScreenshotRun* g_screenshotRun = nullptr;  // window thread only

void CALLBACK TakeScreenshot(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    ScreenshotRun& run = *g_screenshotRun;
    if (run.taken) return;
    run.taken = true;
    run.saved = SaveWindowPicture(run.dialog->Window(), run.options->screenshotFile);
    std::fprintf(stderr, "kelvane: %s %s\n", run.saved ? "saved" : "could not save",
                 run.options->screenshotFile.c_str());
    ::PostMessageW(run.dialog->Window(), WM_COMMAND, IDCANCEL, 0);
}

void PressDownload(HWND dialog) {
    HWND button = ::GetDlgItem(dialog, IDC_DOWNLOAD_BUTTON);
    ::PostMessageW(button, BM_CLICK, 0, 0);
}

int RunScreenshot(DownloaderDialog& dialog, const AutomationOptions& options) {
    ScreenshotRun run{&dialog, &options};
    g_screenshotRun = &run;
    if (options.download) PressDownload(dialog.Window());
    if (options.station) {
        ::PostMessageW(::GetDlgItem(dialog.Window(), IDC_STATION_CHECK), BM_CLICK, 0, 0);
    }
    ::SetTimer(nullptr, 0, static_cast<UINT>(options.afterMs), &TakeScreenshot);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(options.afterMs + kCloseWaitMs);
    const bool ended = RunUntilEnded(dialog, deadline);
    g_screenshotRun = nullptr;
    return ended && run.saved ? 0 : 1;
}

// Download pressed; the dialog is closed once the session is over.
int RunDownload(DownloaderDialog& dialog) {
    const auto start = std::chrono::steady_clock::now();
    ::SendMessageW(::GetDlgItem(dialog.Window(), IDC_DOWNLOAD_BUTTON), BM_CLICK, 0, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("kelvane: the download took %.2f s\n", took.count());
    std::fflush(stdout);
    ::PostMessageW(dialog.Window(), WM_COMMAND, IDCANCEL, 0);
    return RunUntilEnded(dialog,
                         std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMs))
               ? 0
               : 1;
}

}  // namespace

bool ParseAutomationOptions(int argc, const char* const* argv, AutomationOptions* options,
                            std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--download") {
            options->download = true;
        } else if (arg == "--station") {
            options->station = true;
        } else if (arg == "--screenshot" && hasValue) {
            options->screenshotFile = argv[++i];
        } else if (arg == "--after-ms" && hasValue &&
                   ParseAfterMs(argv[i + 1], &options->afterMs)) {
            ++i;
        } else {
            *error = "unknown or incomplete option " + arg;
            return false;
        }
    }
    if (options->station && options->screenshotFile.empty()) {
        *error = "--station needs --screenshot FILE";
        return false;
    }
    return true;
}

int RunAutomated(const AutomationOptions& options) {
    PrintingPrompt prompt;
    DialogServices services;
    services.prompt = &prompt;
    // The close's question during a station: every slot stops at once.
    services.ask = [](const std::string& text, bool) {
        std::fprintf(stderr, "kelvane: question (answered No): %s\n", text.c_str());
        return ui::DialogView::Answer::kNo;
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
    if (!options.screenshotFile.empty()) return RunScreenshot(dialog, options);
    return RunDownload(dialog);
}

}  // namespace ui::win32
