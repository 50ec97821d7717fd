// Texts between byte strings (UTF-8, as every text and path inside the
// program; see platform/wide_text_win32.h for text that is not) and the
// wide strings of the Windows controls.
#pragma once

#include <string>
#include <string_view>

namespace controls {

// UTF-8 text (or, when it is not valid UTF-8, ANSI code page text) as UTF-16.
std::wstring Widen(std::string_view text);
// UTF-16 text as UTF-8.
std::string Narrow(std::wstring_view text);

}  // namespace controls
