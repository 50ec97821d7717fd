// Texts between the window core (byte strings in the system's code page, as
// the file calls take them) and the wide Windows controls.
#pragma once

#include <windows.h>

#include <string>

namespace ui::win32 {

std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);
// A window's text.
std::string WindowText(HWND window);

}  // namespace ui::win32
