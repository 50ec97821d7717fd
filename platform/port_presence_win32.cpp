#include <windows.h>

#include "platform/ini.h"
#include "platform/port_map.h"
#include "platform/port_presence.h"
#include "platform/wide_path_win32.h"
#include "platform/wide_text_win32.h"

namespace platform {

// A port map entry names a file that is there while the handset is (links
// followed; a device may refuse its attributes, yet it is found); without
// one, the system's DOS device of the port (a USB serial port's goes with
// its device).
std::string PortDeviceNow(int comNumber) {
    if (comNumber < 1) return {};
    const std::string key = "COM" + std::to_string(comNumber);
    char mapped[1024];
    IniReadString(kPortMapSection, key.c_str(), "", mapped, sizeof mapped, PortMap_File().c_str());
    if (mapped[0] != '\0') {
        if (::GetFileAttributesW(WidePath(mapped).c_str()) != INVALID_FILE_ATTRIBUTES)
            return mapped;
        const DWORD error = ::GetLastError();
        const bool found = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return found ? std::string(mapped) : std::string();
    }
    wchar_t target[1024];
    const std::wstring name = L"COM" + std::to_wstring(comNumber);
    if (::QueryDosDeviceW(name.c_str(), target, 1024) == 0) return {};
    return TextFromWide(target);
}

}  // namespace platform
