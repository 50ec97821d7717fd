#include "controls/win32/folder_browser.h"

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "controls/win32/wide_text.h"

namespace controls {

char g_initialFolder[kInitialFolderSize] = {};

namespace {

// The shell's (and COM's) set-up for this thread, for one dialog.
class ComScope {
public:
    ComScope() : m_initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (m_initialized) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool m_initialized;
};

// An item list the shell allocated, freed with it.
class ItemList {
public:
    ItemList() = default;
    explicit ItemList(PIDLIST_ABSOLUTE items) : m_items(items) {}
    ~ItemList() { ::CoTaskMemFree(m_items); }
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;

    PIDLIST_ABSOLUTE Get() const { return m_items; }
    PIDLIST_ABSOLUTE* Out() { return &m_items; }

private:
    PIDLIST_ABSOLUTE m_items = nullptr;
};

bool IsStatic(HWND control) {
    wchar_t name[16] = {};
    if (::GetClassNameW(control, name, 16) == 0) return false;
    return ::CompareStringOrdinal(name, -1, L"static", -1, TRUE) == CSTR_EQUAL;
}

void AddStyle(HWND window, int which, LONG_PTR bits) {
    ::SetWindowLongPtrW(window, which, ::GetWindowLongPtrW(window, which) | bits);
}

// One line, cut at its right edge rather than wrapped, in a sunken frame.
void RestyleStatusLine(HWND dialog) {
    const HWND status = ::GetDlgItem(dialog, FolderBrowser::kStatusId);
    if (status == nullptr || !IsStatic(status)) return;
    AddStyle(status, GWL_STYLE, SS_LEFTNOWORDWRAP);
    AddStyle(status, GWL_EXSTYLE, WS_EX_STATICEDGE);
    ::SetWindowPos(status, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

// Selects the top of the dialog's tree: the root folder.
void SelectRoot(HWND dialog) {
    const HWND tree = ::FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    if (tree == nullptr) return;
    const LRESULT top = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    if (top != 0) ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, top);
}

void OnInitialized(HWND dialog, const std::wstring& initialFolder) {
    ::SetWindowLongPtrW(dialog, GWL_EXSTYLE,
                        ::GetWindowLongPtrW(dialog, GWL_EXSTYLE) & ~LONG_PTR{WS_EX_CONTEXTHELP});
    ::SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    RestyleStatusLine(dialog);
    // The root first: a shell that selects nothing by itself would answer OK
    // with a folder outside the tree (the desktop); and an initial folder
    // that is missing or outside the root then leaves the root selected.
    SelectRoot(dialog);
    // Pre-selected whether or not the status line was found: a shell whose
    // dialog names its controls differently still opens at the folder.
    if (!initialFolder.empty()) {
        ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE,
                       reinterpret_cast<LPARAM>(initialFolder.c_str()));
    }
}

void OnSelectionChanged(HWND dialog, LPARAM item) {
    wchar_t path[MAX_PATH + 1] = {};
    if (item == 0 || !::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path)) {
        path[0] = L'\0';
    }
    ::SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM parameter, LPARAM data) {
    switch (message) {
        case BFFM_INITIALIZED:
            OnInitialized(dialog, *reinterpret_cast<const std::wstring*>(data));
            return 0;
        case BFFM_SELCHANGED:
            OnSelectionChanged(dialog, parameter);
            return 0;
        case BFFM_VALIDATEFAILEDA:
        case BFFM_VALIDATEFAILEDW:
            return 1;  // a typed name that is no folder keeps the dialog open
        default:
            return 0;
    }
}

void RootItems(int rootFolderId, const std::string& rootPath, ItemList& root) {
    if (rootFolderId != 0) {
        if (FAILED(::SHGetSpecialFolderLocation(nullptr, rootFolderId, root.Out()))) {
            *root.Out() = nullptr;
        }
        return;
    }
    if (rootPath.empty()) return;
    const std::wstring wide = Widen(rootPath);
    if (FAILED(::SHParseDisplayName(wide.c_str(), nullptr, root.Out(), 0, nullptr))) {
        *root.Out() = nullptr;
    }
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

FolderBrowser::FolderBrowser(void* /*reserved*/, int rootFolderId, std::string_view title,
                             std::string_view rootPath, uint32_t flags)
    : m_rootPath(rootPath), m_flags(flags), m_rootFolderId(rootFolderId), m_title(title) {}

FolderBrowser::~FolderBrowser() = default;

void FolderBrowser::SetInitialFolder(std::string_view path) {
    std::size_t length = std::min(path.size(), kInitialFolderSize - 1);
    if (length < path.size()) {
        while (length > 0 && IsContinuationByte(path[length]))
            --length;
    }
    std::memcpy(g_initialFolder, path.data(), length);
    g_initialFolder[length] = '\0';
}

int FolderBrowser::DoModal() {
    ComScope com;
    ItemList root;
    RootItems(m_rootFolderId, m_rootPath, root);
    const std::wstring title = Widen(m_title);
    const std::wstring initialFolder = Widen(g_initialFolder);
    wchar_t displayName[MAX_PATH + 1] = {};

    BROWSEINFOW info = {};
    // Without an owner the window behind would stay usable during the choice.
    info.hwndOwner =
        m_ownerWindow != nullptr ? static_cast<HWND>(m_ownerWindow) : ::GetActiveWindow();
    info.pidlRoot = root.Get();
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = m_flags;
    info.lpfn = &BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(&initialFolder);

    const ItemList chosen(::SHBrowseForFolderW(&info));
    if (chosen.Get() == nullptr) return kCancelled;
    wchar_t path[MAX_PATH + 1] = {};
    m_selectedPath = ::SHGetPathFromIDListW(chosen.Get(), path) ? Narrow(path) : "";
    return kChosen;
}

}  // namespace controls
