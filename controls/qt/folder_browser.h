// Lets the operator pick a folder and returns its path: the boot folder and
// the full-binary folder are chosen with it. Window thread only.
//
// The dialog is Qt's own (non-native) file dialog in directory mode, so it
// looks and behaves the same on every desktop and can be driven in tests.
// It opens at the folder last given to SetInitialFolder (when that folder
// exists), shows the full path of the current folder in a status line, and
// keeps the operator inside the root path when one is given.
//
// Calling order: construct, SetInitialFolder, DoModal, and on kChosen
// GetSelectedPath.
//
// Paths are file-system byte strings (as std::filesystem and the settings
// files hold them); the title is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QFileDialog;
class QWidget;

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

    // Object names of the status line (a QLabel) inside the dialog.
    static constexpr const char* kStatusName = "folderBrowserStatus";

    // Runs a prepared dialog and returns QDialog::Accepted or Rejected.
    using DialogRunner = std::function<int(QFileDialog&)>;

    // reserved is not used. rootFolderId 0 = none; otherwise a well-known
    // folder (0x05 documents, 0x10 desktop, 0x28 home) becomes the root.
    FolderBrowser(void* reserved, int rootFolderId, std::string_view title,
                  std::string_view rootPath, uint32_t flags);

    // kChosen when a folder was chosen (its path, possibly empty, is then
    // GetSelectedPath()); kCancelled when the operator cancelled, leaving
    // the selected path as it was.
    virtual int DoModal();
    virtual ~FolderBrowser();

    FolderBrowser(const FolderBrowser&) = delete;
    FolderBrowser& operator=(const FolderBrowser&) = delete;

    // Copies path (cut to 260 bytes, never inside a UTF-8 character) into
    // g_initialFolder. The object itself does not change.
    static void SetInitialFolder(std::string_view path);

    const std::string& GetSelectedPath() const { return m_selectedPath; }

    // Replaces the modal loop of every FolderBrowser in the process (for
    // tests of the callers); an empty runner restores exec().
    static void SetDialogRunner(DialogRunner runner);

protected:
    // Runs the prepared dialog: the installed runner, else exec().
    virtual int RunDialog(QFileDialog& dialog);

private:
    void Prepare(QFileDialog& dialog) const;
    void ApplyRoot(QFileDialog& dialog, const std::string& root) const;
    void AddStatusLine(QFileDialog& dialog) const;
    void ApplyEditBox(QFileDialog& dialog) const;
    std::string EffectiveRoot() const;

    std::string m_rootPath;
    QWidget* m_ownerWindow = nullptr;
    uint32_t m_flags;
    std::string m_selectedPath;
    int m_rootFolderId;
    std::string m_title;
};
