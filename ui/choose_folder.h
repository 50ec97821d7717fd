// The folder dialog as both views use it: a title, the folder to start in,
// a status line and an edit box for a typed path; nothing when the operator
// cancelled. Browser is the toolkit's FolderBrowser (controls/qt,
// controls/win32), which share one interface.
#pragma once

#include <optional>
#include <string>

namespace ui {

template <typename Browser>
std::optional<std::string> ChooseFolderWith(const char* title, const std::string& initialFolder) {
    Browser browser(nullptr, 0, title, "", Browser::kStatusText | Browser::kEditBox);
    Browser::SetInitialFolder(initialFolder);
    if (browser.DoModal() != Browser::kChosen) return std::nullopt;
    return browser.GetSelectedPath();
}

}  // namespace ui
