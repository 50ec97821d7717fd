// Windows only: texts between this program's byte strings and the UTF-16 of
// the wide Windows calls. Inside the program every text, paths included, is
// UTF-8 and is converted only at a Windows call. A byte string that is not
// valid UTF-8 (a path an older version wrote to an INI file in the ANSI code
// page) is taken as the ANSI code page, so it still names the same file.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when text is well-formed UTF-8 (plain ASCII is).
bool IsUtf8(std::string_view text);

// UTF-8 text as UTF-16; text that is not UTF-8 is read in the ANSI code page.
std::wstring WideFromText(std::string_view text);

// UTF-16 text as UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string TextFromWide(std::wstring_view text);

}  // namespace platform
