// The shell's folder dialog, driven from a second thread the way an operator
// would: it opens at the initial folder, shows it in the status line, hands
// it back on OK, and changes nothing on Cancel.
#include "controls/win32/folder_browser.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "controls/win32/wide_text.h"

namespace {

using controls::FolderBrowser;
using controls::Widen;

const uint32_t kFlags = FolderBrowser::kStatusText | FolderBrowser::kEditBox;

// What the driver saw of the open dialog.
struct Seen {
    bool found = false;
    std::wstring status;  // empty when the shell has no status line of that id
    bool statusIsStatic = false;
    LONG_PTR statusStyle = 0;
    LONG_PTR statusExStyle = 0;
    LRESULT treeItems = -1;  // items in the dialog's tree when it was pressed; -1 = no tree
    LONG_PTR exStyle = 0;
    HWND owner = nullptr;
    bool ownerEnabled = true;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM result) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (std::wcscmp(name, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

std::wstring TextOf(HWND window) {
    wchar_t text[MAX_PATH + 1] = {};
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, MAX_PATH + 1, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Waits (at most 10 s) on its own thread for the browse dialog of the thread
// that made it, records what it shows, and presses one of its buttons. The
// shell may still be filling its tree when the dialog shows: given a path,
// the driver first waits (within the same 10 s) for the status line to show
// it, so the press does not overtake the pre-selection.
class DialogDriver {
public:
    explicit DialogDriver(int button, std::wstring awaitStatus = {})
        : m_uiThread(::GetCurrentThreadId()),
          m_button(button),
          m_awaitStatus(std::move(awaitStatus)),
          m_worker([this] { Run(); }) {}
    ~DialogDriver() {
        if (m_worker.joinable()) m_worker.join();
    }

    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // After DoModal returned (the join orders the reads).
    const Seen& Result() {
        if (m_worker.joinable()) m_worker.join();
        return m_seen;
    }

private:
    void Run() {
        const ULONGLONG deadline = ::GetTickCount64() + 10000;
        HWND dialog = nullptr;
        while (dialog == nullptr && ::GetTickCount64() < deadline) {
            ::EnumThreadWindows(m_uiThread, &FindDialog, reinterpret_cast<LPARAM>(&dialog));
            if (dialog == nullptr) ::Sleep(20);  // polling, bounded by the deadline
        }
        if (dialog == nullptr) return;
        m_seen.found = true;
        m_seen.exStyle = ::GetWindowLongPtrW(dialog, GWL_EXSTYLE);
        m_seen.owner = ::GetWindow(dialog, GW_OWNER);
        m_seen.ownerEnabled = m_seen.owner != nullptr && ::IsWindowEnabled(m_seen.owner);
        if (const HWND status = ::GetDlgItem(dialog, FolderBrowser::kStatusId)) {
            wchar_t name[16] = {};
            ::GetClassNameW(status, name, 16);
            m_seen.statusIsStatic = _wcsicmp(name, L"static") == 0;
            m_seen.status = TextOf(status);
            while (!m_awaitStatus.empty() && !SameText(m_seen.status, m_awaitStatus) &&
                   ::GetTickCount64() < deadline) {
                ::Sleep(20);  // polling, bounded by the deadline
                m_seen.status = TextOf(status);
            }
            m_seen.statusStyle = ::GetWindowLongPtrW(status, GWL_STYLE);
            m_seen.statusExStyle = ::GetWindowLongPtrW(status, GWL_EXSTYLE);
        }
        if (const HWND tree = ::FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr)) {
            DWORD_PTR count = 0;
            ::SendMessageTimeoutW(tree, TVM_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
            m_seen.treeItems = static_cast<LRESULT>(count);
        }
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(m_button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, m_button)));
    }

    DWORD m_uiThread;
    int m_button;
    std::wstring m_awaitStatus;
    Seen m_seen;
    std::thread m_worker;
};

// True once a listing of parent shows name (the shell lists folders the same
// way when it fills its tree).
bool IsListed(const std::string& parent, const std::string& name) {
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((parent + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool listed = false;
    do {
        listed = name == found.cFileName;
    } while (!listed && ::FindNextFileA(search, &found));
    ::FindClose(search);
    return listed;
}

// A fresh folder under the temporary folder, in its long form, removed at
// the end. Under Wine a folder made a moment ago is now and then missing from
// the next listing of its parent, and the shell's tree then lacks it: the
// folder is ready once its parent lists it (waited for at most 10 s).
class TempFolder {
public:
    explicit TempFolder(const char* name) {
        char temp[MAX_PATH + 1] = {};
        ::GetTempPathA(MAX_PATH, temp);
        char longTemp[MAX_PATH + 1] = {};
        ::GetLongPathNameA(temp, longTemp, MAX_PATH);
        const std::string leaf =
            std::string("kelvane-") + name + "-" + std::to_string(::GetCurrentProcessId());
        m_path = longTemp + leaf;
        ::CreateDirectoryA(m_path.c_str(), nullptr);
        const ULONGLONG deadline = ::GetTickCount64() + 10000;
        while (!IsListed(longTemp, leaf) && ::GetTickCount64() < deadline)
            ::Sleep(20);  // polling, bounded by the deadline
    }
    ~TempFolder() { ::RemoveDirectoryA(m_path.c_str()); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

bool SamePath(const std::string& a, const std::string& b) {
    return ::CompareStringOrdinal(Widen(a).c_str(), -1, Widen(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(FolderBrowserTest, OpensAtTheInitialFolderAndReturnsItOnOk) {
    const TempFolder boot("boot");
    const TempFolder binary("binary");
    ASSERT_EQ(::GetFileAttributesA(boot.Path().c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    FolderBrowser::SetInitialFolder(boot.Path());
    FolderBrowser first(nullptr, 0, "Select Boot Folder", "", kFlags);
    DialogDriver pressOk(IDOK, Widen(boot.Path()));
    ASSERT_EQ(first.DoModal(), FolderBrowser::kChosen);
    const Seen& seen = pressOk.Result();
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(SamePath(first.GetSelectedPath(), boot.Path()))
        << first.GetSelectedPath() << " != " << boot.Path() << "; status \""
        << std::string(seen.status.begin(), seen.status.end()) << "\", tree items "
        << seen.treeItems;
    EXPECT_EQ(seen.exStyle & WS_EX_CONTEXTHELP, 0);
    // The status line (where the shell has it as a static of that id): the
    // path, on one line in a sunken frame.
    if (seen.statusIsStatic) {
        EXPECT_TRUE(SameText(seen.status, Widen(boot.Path())));
        EXPECT_EQ(seen.statusStyle & SS_TYPEMASK, SS_LEFTNOWORDWRAP);
        EXPECT_NE(seen.statusExStyle & WS_EX_STATICEDGE, 0);
    }

    // The next browser opens at its own initial folder, not at the last choice.
    FolderBrowser::SetInitialFolder(binary.Path());
    FolderBrowser second(nullptr, 0, "Select Binary Folder", "", kFlags);
    DialogDriver pressOkAgain(IDOK, Widen(binary.Path()));
    ASSERT_EQ(second.DoModal(), FolderBrowser::kChosen);
    ASSERT_TRUE(pressOkAgain.Result().found);
    EXPECT_TRUE(SamePath(second.GetSelectedPath(), binary.Path())) << second.GetSelectedPath();
}

TEST(FolderBrowserTest, CancelReturnsTwoAndKeepsTheLastChoice) {
    const TempFolder boot("cancel");
    FolderBrowser::SetInitialFolder(boot.Path());
    FolderBrowser browser(nullptr, 0, "Select Boot Folder", "", kFlags);
    {
        DialogDriver pressOk(IDOK, Widen(boot.Path()));
        ASSERT_EQ(browser.DoModal(), FolderBrowser::kChosen);
    }
    const std::string chosen = browser.GetSelectedPath();
    ASSERT_FALSE(chosen.empty());

    FolderBrowser::SetInitialFolder("C:\\");
    DialogDriver pressCancel(IDCANCEL);
    EXPECT_EQ(browser.DoModal(), FolderBrowser::kCancelled);
    EXPECT_TRUE(pressCancel.Result().found);
    EXPECT_EQ(browser.GetSelectedPath(), chosen);
}

TEST(FolderBrowserTest, TheActiveWindowOwnsTheDialogAndIsDisabledMeanwhile) {
    const HWND window =
        ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                          nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ::ShowWindow(window, SW_SHOW);
    ::SetActiveWindow(window);
    ASSERT_EQ(::GetActiveWindow(), window);

    const TempFolder folder("owner");
    FolderBrowser::SetInitialFolder(folder.Path());
    FolderBrowser browser(nullptr, 0, "Select Boot Folder", "", kFlags);
    DialogDriver pressCancel(IDCANCEL);
    EXPECT_EQ(browser.DoModal(), FolderBrowser::kCancelled);
    const Seen& seen = pressCancel.Result();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.owner, window);
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_TRUE(::IsWindowEnabled(window));  // given back afterwards
    ::DestroyWindow(window);
}

TEST(FolderBrowserTest, TheRootIsAPathOrASpecialFolderAndAVirtualFolderHasNoPath) {
    const TempFolder root("root");
    FolderBrowser::SetInitialFolder("");
    FolderBrowser byPath(nullptr, 0, "Select Boot Folder", root.Path(), kFlags);
    {
        DialogDriver pressOk(IDOK, Widen(root.Path()));
        ASSERT_EQ(byPath.DoModal(), FolderBrowser::kChosen);
    }
    EXPECT_TRUE(SamePath(byPath.GetSelectedPath(), root.Path())) << byPath.GetSelectedPath();

    // The computer itself (0x11) is no file-system folder: chosen, no path.
    FolderBrowser computer(nullptr, 0x11, "Select Boot Folder", root.Path(), kFlags);
    {
        DialogDriver pressOk(IDOK);
        ASSERT_EQ(computer.DoModal(), FolderBrowser::kChosen);
    }
    EXPECT_EQ(computer.GetSelectedPath(), "");
}

TEST(FolderBrowserTest, InitialFolderIsCutToTheBufferAndTheLastOneWins) {
    FolderBrowser::SetInitialFolder("C:\\first");
    FolderBrowser::SetInitialFolder("C:\\second");
    EXPECT_STREQ(controls::g_initialFolder, "C:\\second");

    const std::string longPath = "C:\\" + std::string(400, 'a');
    FolderBrowser::SetInitialFolder(longPath);
    EXPECT_EQ(std::strlen(controls::g_initialFolder), controls::kInitialFolderSize - 1);
    EXPECT_EQ(std::string(controls::g_initialFolder), longPath.substr(0, 260));

    FolderBrowser::SetInitialFolder("");
    EXPECT_STREQ(controls::g_initialFolder, "");
}

}  // namespace
