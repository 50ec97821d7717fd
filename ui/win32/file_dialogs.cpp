#include "ui/win32/file_dialogs.h"

#include <commdlg.h>

#include <cstring>
#include <vector>

#include "controls/win32/folder_browser.h"
#include "ui/choose_folder.h"
#include "ui/dialog_template.h"
#include "ui/win32/text.h"

namespace ui::win32 {

namespace {

// Room for long paths: the dialogs refuse a choice that does not fit.
using controls::FolderBrowser;

constexpr size_t kPathRoom = 32768;

enum class Mode { kOpen, kSave };

std::optional<std::string> RunFileDialog(HWND owner, Mode mode, const char* filter,
                                         const char* defaultSuffix,
                                         const std::string& initialFile) {
    const std::wstring filters = CommonDialogFilter(filter);
    const std::wstring suffix = Widen(defaultSuffix);
    std::vector<wchar_t> path(kPathRoom, L'\0');
    const std::wstring initial = Widen(initialFile);
    if (initial.size() < kPathRoom) std::wmemcpy(path.data(), initial.data(), initial.size());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = suffix.empty() ? nullptr : suffix.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    dialog.Flags |= mode == Mode::kOpen ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT;
    const BOOL chosen =
        mode == Mode::kOpen ? ::GetOpenFileNameW(&dialog) : ::GetSaveFileNameW(&dialog);
    if (!chosen) return std::nullopt;
    return Narrow(path.data());
}

class SystemFileDialogs : public FileDialogs {
public:
    std::optional<std::string> ChooseToLoad(HWND owner, const std::string& initialFile) override {
        return RunFileDialog(owner, Mode::kOpen, kImageSetFilter, kImageSetSuffix, initialFile);
    }
    std::optional<std::string> ChooseToSave(HWND owner, const std::string& initialFile) override {
        return RunFileDialog(owner, Mode::kSave, kImageSetFilter, kImageSetSuffix, initialFile);
    }
    std::optional<std::string> ChooseImageFile(HWND owner, const char* filter,
                                               const char* defaultSuffix) override {
        return RunFileDialog(owner, Mode::kOpen, filter, defaultSuffix, {});
    }
    std::optional<std::string> ChooseFolder(const char* title,
                                            const std::string& initialFolder) override {
        return ui::ChooseFolderWith<FolderBrowser>(title, initialFolder);
    }
};

}  // namespace

std::wstring CommonDialogFilter(const char* filter) {
    std::wstring wide = Widen(filter == nullptr ? "" : filter);
    for (wchar_t& c : wide) {
        if (c == L'|') c = L'\0';
    }
    // Two terminators end the list whatever the text ended with.
    wide.append(2, L'\0');
    return wide;
}

std::unique_ptr<FileDialogs> MakeSystemFileDialogs() {
    return std::make_unique<SystemFileDialogs>();
}

}  // namespace ui::win32
