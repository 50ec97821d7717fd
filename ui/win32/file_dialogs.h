// The system's dialogs the window asks for paths with: the common open and
// save dialogs (image sets, image files) and the shell's folder browser.
// Behind an interface, so tests and scripted runs answer them instead.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace ui::win32 {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Nothing when the operator cancelled. filter is in the
    // "Modem Files(*.bin)|*.bin||" form.
    virtual std::optional<std::string> ChooseToLoad(HWND owner, const std::string& initialFile) = 0;
    virtual std::optional<std::string> ChooseToSave(HWND owner, const std::string& initialFile) = 0;
    virtual std::optional<std::string> ChooseImageFile(HWND owner, const char* filter,
                                                       const char* defaultSuffix) = 0;
    virtual std::optional<std::string> ChooseFolder(const char* title,
                                                    const std::string& initialFolder) = 0;
};

std::unique_ptr<FileDialogs> MakeSystemFileDialogs();

// The common dialogs' form of a filter: "|" becomes the terminator, so
// "Modem Files(*.bin)|*.bin||" is "Modem Files(*.bin)\0*.bin\0\0".
std::wstring CommonDialogFilter(const char* filter);

}  // namespace ui::win32
