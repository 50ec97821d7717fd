// Texts between byte strings (paths and the window core's texts are in the
// ANSI code page, as the Windows file functions of this build take them) and
// the wide strings of the Windows controls.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace controls {

// text in codePage as UTF-16.
std::wstring Widen(std::string_view text, UINT codePage = CP_ACP);
// UTF-16 text in the ANSI code page.
std::string Narrow(std::wstring_view text);

}  // namespace controls
