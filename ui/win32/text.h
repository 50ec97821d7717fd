// Texts between the window core (byte strings in the system's code page, as
// the file calls take them) and the wide Windows controls.
#pragma once

#include <windows.h>

#include <string>

#include "controls/win32/wide_text.h"

namespace ui::win32 {

using controls::Narrow;
using controls::Widen;

// A window's text.
std::string WindowText(HWND window);

}  // namespace ui::win32
