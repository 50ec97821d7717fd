#include "ui/qt/automation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <mutex>

#include "controls/qt/folder_browser.h"
#include "ui/qt/downloader_dialog.h"

namespace {

constexpr int kMaxAfterMs = 600000;

// The rows by the middle of their members' names ("m_modemPathEdit").
constexpr const char* kRowNames[DownloaderDialog::kRowCount] = {
    "boot", "usb", "modem", "rsrc1", "rsrc2", "factoryFs", "fota"};

int RowByName(const std::string& name) {
    for (int row = 0; row < DownloaderDialog::kRowCount; ++row) {
        if (name == kRowNames[row]) return row;
    }
    return -1;
}

// Prints what would be a message box; questions get the answer given.
// Called from the workers as well, so one line at a time.
class PrintingPrompt : public platform::OperatorPrompt {
public:
    explicit PrintingPrompt(bool yes) : m_yes(yes) {}
    void ShowText(const char* text) override { Print("message", text); }
    bool AskYesNo(const char* text) override {
        Print(m_yes ? "question (answered Yes)" : "question (answered No)", text);
        return m_yes;
    }

private:
    void Print(const char* what, const char* text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "kelvane: %s: %s\n", what, text);
    }
    std::mutex m_mutex;
    const bool m_yes;
};

// Answers every image file dialog with the first file of a folder that
// matches the dialog's filter; Load and Save As are cancelled.
class FolderFileDialogs : public ImageSetFileDialogs {
public:
    explicit FolderFileDialogs(const std::string& folder)
        : m_folder(QFile::decodeName(folder.c_str())) {}
    std::optional<std::string> ChooseToLoad(QWidget*, const std::string&) override { return {}; }
    std::optional<std::string> ChooseToSave(QWidget*, const std::string&) override { return {}; }
    std::optional<std::string> ChooseImageFile(QWidget*, const char* filter, const char*) override {
        const QString pattern = QString::fromUtf8(filter).section(QLatin1Char('|'), 1, 1);
        const QStringList files =
            m_folder.entryList({pattern}, QDir::Files | QDir::Readable, QDir::Name);
        if (files.isEmpty()) return std::nullopt;
        return QFile::encodeName(m_folder.filePath(files.first())).toStdString();
    }

private:
    QDir m_folder;
};

bool ParseAfterMs(const QString& text, int* ms) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > kMaxAfterMs) return false;
    *ms = value;
    return true;
}

void Click(DownloaderDialog& dialog, const char* name) {
    if (auto* button = dialog.findChild<QAbstractButton*>(QLatin1String(name))) button->click();
}

// The operator's clicks for a whole image set from folder.
void ChooseImageSet(DownloaderDialog& dialog, const std::string& folder) {
    FolderBrowser::SetDialogRunner([folder](QFileDialog& browser) {
        browser.setDirectory(QFile::decodeName(folder.c_str()));
        static_cast<QDialog&>(browser).accept();
        return browser.result();
    });
    for (const char* name :
         {"m_modemType2Radio", "m_bootChangeCheck", "m_bootButton", "m_modemButton",
          "m_rsrc1Button", "m_rsrc2Button", "m_factoryFsButton"}) {
        Click(dialog, name);
    }
    FolderBrowser::SetDialogRunner({});
}

// The row's path edit takes the focus, which shows its full path. Without
// an active window (a virtual screen without a window manager) no focus
// event arrives; the handler is then run as the event would have run it.
void ShowFullPathOf(DownloaderDialog& dialog, const std::string& row) {
    const QString prefix = QStringLiteral("m_") + QString::fromStdString(row);
    auto* path = dialog.findChild<QLineEdit*>(prefix + QStringLiteral("PathEdit"));
    auto* full = dialog.findChild<QLineEdit*>(prefix + QStringLiteral("FullPathEdit"));
    if (path == nullptr || full == nullptr) return;
    dialog.activateWindow();
    path->setFocus();
    QApplication::processEvents();
    if (full->isHidden()) dialog.ShowFullPath(DownloaderDialog::Row(RowByName(row)));
    QApplication::processEvents();
}

bool Grab(DownloaderDialog& dialog, const std::string& file) {
    const bool saved = dialog.grab().save(QFile::decodeName(file.c_str()), "PNG");
    std::fprintf(stderr, "kelvane: %s %s\n", saved ? "saved" : "could not save", file.c_str());
    return saved;
}

// One option with its value; false for an unknown or incomplete one.
bool ParseOption(const QStringList& arguments, qsizetype* i, AutomationOptions* options) {
    const QString& arg = arguments.at(*i);
    const bool hasValue = *i + 1 < arguments.size();
    const auto value = [&] { return QFile::encodeName(arguments.at(++*i)).toStdString(); };
    if (arg == QLatin1String("--download")) {
        options->download = true;
    } else if (arg == QLatin1String("--station")) {
        options->station = true;
    } else if (arg == QLatin1String("--crc")) {
        options->crc = true;
    } else if (arg == QLatin1String("--screenshot") && hasValue) {
        options->screenshotFile = value();
    } else if (arg == QLatin1String("--choose") && hasValue) {
        options->chooseFolder = value();
    } else if (arg == QLatin1String("--full-path") && hasValue &&
               RowByName(arguments.at(*i + 1).toStdString()) >= 0) {
        options->fullPathRow = value();
    } else if (arg == QLatin1String("--after-ms") && hasValue &&
               ParseAfterMs(arguments.at(*i + 1), &options->afterMs)) {
        ++*i;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!ParseOption(arguments, &i, options)) {
            *error = "unknown or incomplete option " + arguments.at(i).toStdString();
            return false;
        }
    }
    const bool scripted = options->crc || options->station || !options->chooseFolder.empty() ||
                          !options->fullPathRow.empty();
    if (scripted && options->screenshotFile.empty()) {
        *error = "--crc, --choose, --full-path and --station need --screenshot FILE";
        return false;
    }
    return true;
}

namespace {

// Download pressed; the dialog is closed once the session is over.
int RunDownload(DownloaderDialog& dialog) {
    int status = 1;
    QTimer::singleShot(0, &dialog, [&dialog, &status] {
        QElapsedTimer timer;
        timer.start();
        dialog.OnDownload();
        std::printf("kelvane: the download took %.2f s\n", timer.nsecsElapsed() / 1e9);
        std::fflush(stdout);
        status = 0;
        dialog.reject();
    });
    dialog.exec();
    return status;
}

}  // namespace

int RunAutomated(const AutomationOptions& options) {
    PrintingPrompt prompt(!options.chooseFolder.empty());
    DialogServices services;
    services.prompt = &prompt;
    // The close's question during a station: every slot stops at once.
    services.ask = [](const std::string& text, bool) {
        std::fprintf(stderr, "kelvane: question (answered No): %s\n", text.c_str());
        return ui::DialogView::Answer::kNo;
    };
    if (!options.chooseFolder.empty()) {
        services.fileDialogs = std::make_unique<FolderFileDialogs>(options.chooseFolder);
    }
    DownloaderDialog dialog(std::move(services));
    if (options.screenshotFile.empty()) return RunDownload(dialog);
    dialog.show();
    QTimer::singleShot(0, &dialog, [&dialog, &options] {
        if (options.crc) Click(dialog, "m_crcCheck");
        if (!options.chooseFolder.empty()) ChooseImageSet(dialog, options.chooseFolder);
        if (options.download) dialog.OnDownload();
        if (options.station) Click(dialog, "m_stationCheck");
    });
    bool saved = false;
    QTimer::singleShot(options.afterMs, &dialog, [&] {
        if (!options.fullPathRow.empty()) ShowFullPathOf(dialog, options.fullPathRow);
        saved = Grab(dialog, options.screenshotFile);
        dialog.reject();
    });
    dialog.exec();
    return saved ? 0 : 1;
}
