// Texts between the window core (UTF-8 byte strings, paths included) and the
// wide Windows controls.
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
