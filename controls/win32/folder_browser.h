// Lets the operator pick a folder with the shell's folder dialog and returns
// its path: the boot folder and the full-binary folder are chosen with it.
// Window thread only.
//
// The dialog pre-selects the folder last given to SetInitialFolder (when
// that folder exists), shows the path of the current selection in its
// status line, and roots its tree at the given special folder or path.
//
// Calling order: construct, SetInitialFolder, DoModal, and on kChosen
// GetSelectedPath.
//
// Paths and the title are UTF-8 (a path that is not valid UTF-8 is read in
// the ANSI code page, see platform/wide_text_win32.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace controls {

// The folder to pre-select, shared by every FolderBrowser: up to 260
// characters and the terminating NUL. The last SetInitialFolder wins.
inline constexpr std::size_t kInitialFolderSize = 261;
extern char g_initialFolder[kInitialFolderSize];

class FolderBrowser {
public:
    static constexpr uint32_t kStatusText = 0x4;  // status line with the current path
    static constexpr uint32_t kEditBox = 0x10;    // edit box for typing a folder name
    static constexpr int kChosen = 1;
    static constexpr int kCancelled = 2;

    // The status line's control id in the shell's dialog.
    static constexpr int kStatusId = 14147;

    // reserved is not used. rootFolderId 0 = none; otherwise a special
    // folder id (CSIDL) becomes the root; else rootPath, when not empty and
    // understood by the shell.
    FolderBrowser(void* reserved, int rootFolderId, std::string_view title,
                  std::string_view rootPath, uint32_t flags);

    // kChosen when a folder was chosen (its path, empty for a folder that is
    // not in the file system, is then GetSelectedPath()); kCancelled when
    // the operator cancelled, leaving the selected path as it was. The
    // window active on this thread owns the dialog and is disabled while it
    // is open.
    virtual int DoModal();
    virtual ~FolderBrowser();

    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    // Copies path (cut to 260 bytes, never inside a UTF-8 character)
    // into g_initialFolder. The object itself does not change.
    static void SetInitialFolder(std::string_view path);

    const std::string& GetSelectedPath() const { return m_selectedPath; }

private:
    std::string m_rootPath;
    void* m_ownerWindow = nullptr;
    uint32_t m_flags;
    std::string m_selectedPath;
    int m_rootFolderId;
    std::string m_title;
};

}  // namespace controls
