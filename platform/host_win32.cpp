#include <windows.h>

#include "platform/host.h"
#include "platform/wide_text_win32.h"

namespace platform {

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size)) return "";
    return TextFromWide(std::wstring_view(name, size));
}

}  // namespace platform
