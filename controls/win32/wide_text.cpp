#include "controls/win32/wide_text.h"

#include "platform/wide_text_win32.h"

namespace controls {

std::wstring Widen(std::string_view text) {
    return platform::WideFromText(text);
}

std::string Narrow(std::wstring_view text) {
    return platform::TextFromWide(text);
}

}  // namespace controls
