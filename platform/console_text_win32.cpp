// Arguments from the UTF-16 command line, and UTF-16 text for a console.
#include <windows.h>
// CommandLineToArgvW.
#include <shellapi.h>
// The C runtime's descriptors and their handles.
#include <io.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/console_text.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

// The console stream writes to; null for a file, a pipe or no handle.
HANDLE ConsoleOf(FILE* stream) {
    const int descriptor = ::_fileno(stream);
    if (descriptor < 0) return nullptr;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return nullptr;
    return handle;
}

}  // namespace

void TakeArgumentsAsUtf8(int* argc, char*** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return;
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.assign(static_cast<size_t>(count), std::string());
    pointers.assign(static_cast<size_t>(count) + 1, nullptr);
    for (int i = 0; i < count; ++i) {
        texts[i] = TextFromWide(wide[i]);
        pointers[i] = texts[i].data();
    }
    ::LocalFree(wide);
    *argc = count;
    *argv = pointers.data();
}

void WriteText(FILE* stream, std::string_view text) {
    HANDLE console = ConsoleOf(stream);
    if (console == nullptr) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the stream still holds goes first.
    std::fflush(stream);
    const std::wstring wide = WideFromText(text);
    size_t done = 0;
    while (done < wide.size()) {
        DWORD step = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
        // A letter written as two UTF-16 units goes in one piece.
        if (step > 1 && IS_HIGH_SURROGATE(wide[done + step - 1])) --step;
        DWORD written = 0;
        if (!::WriteConsoleW(console, wide.data() + done, step, &written, nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

}  // namespace platform
