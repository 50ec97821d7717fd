#include "ui/qt/automation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <vector>

#include "controls/qt/folder_browser.h"
#include "ui/qt/downloader_dialog.h"

namespace {

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

class QtScriptedWindow : public ui::ScriptedWindow {
public:
    explicit QtScriptedWindow(DownloaderDialog& dialog) : m_dialog(dialog) {}

    void After(int ms, std::function<void()> task) override {
        QTimer::singleShot(ms, &m_dialog, std::move(task));
    }
    bool RunUntilEnded(int) override {
        m_dialog.exec();
        return true;
    }
    void Close() override { m_dialog.reject(); }
    void Click(ui::Control control) override {
        if (auto* button = m_dialog.findChild<QAbstractButton*>(ui::ControlName(control)))
            button->click();
    }
    void PressDownload() override { m_dialog.OnDownload(); }
    bool SavePicture(const std::string& file) override {
        return m_dialog.grab().save(QFile::decodeName(file.c_str()), "PNG");
    }

    // The operator's clicks for a whole image set from folder.
    void ChooseImageSet(const std::string& folder) override {
        FolderBrowser::SetDialogRunner([folder](QFileDialog& browser) {
            browser.setDirectory(QFile::decodeName(folder.c_str()));
            static_cast<QDialog&>(browser).accept();
            return browser.result();
        });
        for (const ui::Control control :
             {ui::Control::kModemType2Radio, ui::Control::kBootChangeCheck,
              ui::Control::kBootButton, ui::Control::kModemButton, ui::Control::kRsrc1Button,
              ui::Control::kRsrc2Button, ui::Control::kFactoryFsButton}) {
            Click(control);
        }
        FolderBrowser::SetDialogRunner({});
    }

    // The row's path edit takes the focus, which shows its full path. Without
    // an active window (a virtual screen without a window manager) no focus
    // event arrives; the handler is then run as the event would have run it.
    void ShowFullPath(ui::Row row) override {
        const ui::RowControls controls = ui::ControlsOf(row);
        auto* path = m_dialog.findChild<QLineEdit*>(ui::ControlName(controls.path));
        auto* full = m_dialog.findChild<QLineEdit*>(ui::ControlName(controls.fullPath));
        if (path == nullptr || full == nullptr) return;
        m_dialog.activateWindow();
        path->setFocus();
        QApplication::processEvents();
        if (full->isHidden()) m_dialog.ShowFullPath(row);
        QApplication::processEvents();
    }

private:
    DownloaderDialog& m_dialog;
};

}  // namespace

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error) {
    std::vector<std::string> bytes;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        bytes.push_back(QFile::encodeName(arguments.at(i)).toStdString());
    return ui::ParseAutomationOptions(bytes, true, options, error);
}

int RunAutomated(const AutomationOptions& options) {
    ui::PrintingPrompt prompt(!options.chooseFolder.empty());
    DialogServices services;
    services.prompt = &prompt;
    services.ask = [&prompt](const std::string& text, bool withCancel) {
        return prompt.Answer(text, withCancel);
    };
    if (!options.chooseFolder.empty()) {
        services.fileDialogs = std::make_unique<FolderFileDialogs>(options.chooseFolder);
    }
    DownloaderDialog dialog(std::move(services));
    if (!options.screenshotFile.empty()) dialog.show();
    QtScriptedWindow window(dialog);
    return ui::RunScripted(options, window);
}
