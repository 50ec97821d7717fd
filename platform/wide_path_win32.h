// Inside platform/ only (Windows): a path for the wide file calls. The ANSI
// calls refuse paths of MAX_PATH (260) characters and more even where the
// file system would take them; the wide ones take the same path converted
// from the ANSI code page, which is what the ANSI calls would have used.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

inline std::wstring WidePath(const std::string& path) {
    if (path.empty()) return std::wstring();
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                              n);
    }
    return wide;
}

}  // namespace platform
