// Inside platform/ only (Windows): a path for the wide file calls, which take
// any name the file system takes and paths of MAX_PATH (260) characters and
// more. The path is UTF-8, or, when it is not valid UTF-8, in the ANSI code
// page (see wide_text_win32.h).
#pragma once

#include <string>

#include "platform/wide_text_win32.h"

namespace platform {

inline std::wstring WidePath(const std::string& path) {
    return WideFromText(path);
}

}  // namespace platform
