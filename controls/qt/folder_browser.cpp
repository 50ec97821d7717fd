#include "controls/qt/folder_browser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <utility>

char g_initialFolder[kInitialFolderSize] = {};

namespace {

FolderBrowser::DialogRunner& Runner() {
    static FolderBrowser::DialogRunner runner;
    return runner;
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(path.c_str());
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsWithin(const QString& root, const QString& path) {
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    if (cleanRoot == QStringLiteral("/")) return true;
    return cleanPath == cleanRoot || cleanPath.startsWith(cleanRoot + u'/');
}

// The few well-known folders a root folder id can name on this system.
QString KnownFolder(int id) {
    switch (id) {
        case 0x05:
            return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        case 0x10:
            return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        case 0x28:
            return QDir::homePath();
        default:
            return {};
    }
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

void FolderBrowser::SetDialogRunner(DialogRunner runner) {
    Runner() = std::move(runner);
}

int FolderBrowser::DoModal() {
    QFileDialog dialog(m_ownerWindow);
    Prepare(dialog);
    if (RunDialog(dialog) != QDialog::Accepted) return kCancelled;
    const QList<QUrl> urls = dialog.selectedUrls();
    const bool hasPath = !urls.isEmpty() && urls.first().isLocalFile();
    m_selectedPath = hasPath ? QFile::encodeName(urls.first().toLocalFile()).toStdString() : "";
    return kChosen;
}

int FolderBrowser::RunDialog(QFileDialog& dialog) {
    if (Runner()) return Runner()(dialog);
    return dialog.exec();
}

void FolderBrowser::Prepare(QFileDialog& dialog) const {
    // Non-native first: the other settings then apply to Qt's own widgets.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setWindowTitle(QString::fromUtf8(m_title.data(), static_cast<int>(m_title.size())));
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    const QString initial = QFile::decodeName(g_initialFolder);
    if (!initial.isEmpty() && QFileInfo(initial).isDir()) dialog.setDirectory(initial);

    const std::string root = EffectiveRoot();
    if (!root.empty()) ApplyRoot(dialog, root);
    if (m_flags & kStatusText) AddStatusLine(dialog);
    ApplyEditBox(dialog);
}

std::string FolderBrowser::EffectiveRoot() const {
    const QString root = m_rootFolderId != 0 ? KnownFolder(m_rootFolderId) : FromPath(m_rootPath);
    // A root that is not an existing folder leaves the tree unrooted.
    if (root.isEmpty() || !QFileInfo(root).isDir()) return {};
    return QFile::encodeName(QDir(root).absolutePath()).toStdString();
}

void FolderBrowser::ApplyRoot(QFileDialog& dialog, const std::string& rootPath) const {
    const QString root = FromPath(rootPath);
    if (!IsWithin(root, dialog.directory().absolutePath())) dialog.setDirectory(root);
    dialog.setSidebarUrls({QUrl::fromLocalFile(root)});
    // Navigating above the root brings the operator back to it. Connected
    // before the status line, so the status shows where the dialog ends up.
    QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, [&dialog, root] {
        if (!IsWithin(root, dialog.directory().absolutePath())) dialog.setDirectory(root);
    });
}

void FolderBrowser::AddStatusLine(QFileDialog& dialog) const {
    auto* status = new QLabel(&dialog);
    status->setObjectName(QLatin1String(kStatusName));
    status->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    status->setWordWrap(false);
    // A long path must not widen the dialog; it is cut at the label's edge.
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status->setText(dialog.directory().absolutePath());
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
    }

    const auto showCurrentFolder = [status, &dialog] {
        status->setText(dialog.directory().absolutePath());
    };
    QObject::connect(&dialog, &QFileDialog::directoryEntered, status, showCurrentFolder);
    QObject::connect(&dialog, &QFileDialog::currentChanged, status,
                     [status, showCurrentFolder](const QString& path) {
                         if (path.isEmpty()) {
                             showCurrentFolder();
                         } else {
                             status->setText(path);
                         }
                     });
}

void FolderBrowser::ApplyEditBox(QFileDialog& dialog) const {
    if (m_flags & kEditBox) return;
    for (const char* name : {"fileNameEdit", "fileNameLabel"}) {
        if (auto* widget = dialog.findChild<QWidget*>(QLatin1String(name))) widget->hide();
    }
}
