#include "platform/wide_text_win32.h"

#include <windows.h>

namespace platform {

namespace {

std::wstring ToWide(std::string_view text, UINT codePage, DWORD flags) {
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
    return wide;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    return text.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                                 static_cast<int>(text.size()), nullptr, 0) > 0;
}

std::wstring WideFromText(std::string_view text) {
    if (text.empty()) return {};
    return IsUtf8(text) ? ToWide(text, CP_UTF8, MB_ERR_INVALID_CHARS) : ToWide(text, CP_ACP, 0);
}

std::string TextFromWide(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string narrow(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

}  // namespace platform
