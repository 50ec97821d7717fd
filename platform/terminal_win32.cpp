// The C runtime's isatty is true for any character device, the NUL device
// included: only the console API tells a console.
#include <io.h>
#include <windows.h>

#include "platform/terminal.h"

namespace platform {

bool IsLiveConsole(FILE* stream) {
    if (stream == nullptr) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

}  // namespace platform
