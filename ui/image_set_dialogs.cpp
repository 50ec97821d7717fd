#include "ui/image_set_dialogs.h"

#include <QFile>
#include <QFileDialog>

namespace {

constexpr const char* kImageSetFilter = "Varko Files(*.vrk)";
constexpr const char* kImageSetSuffix = "vrk";

std::optional<std::string> RunFileDialog(QWidget* parent, const std::string& initialFile,
                                         QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromLatin1(kImageSetFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(kImageSetSuffix));
    if (!initialFile.empty()) dialog.selectFile(QFile::decodeName(initialFile.c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(dialog.selectedFiles().first()).toStdString();
}

class QtImageSetFileDialogs : public ImageSetFileDialogs {
public:
    std::optional<std::string> ChooseToLoad(QWidget* parent,
                                            const std::string& initialFile) override {
        return RunFileDialog(parent, initialFile, QFileDialog::AcceptOpen);
    }
    std::optional<std::string> ChooseToSave(QWidget* parent,
                                            const std::string& initialFile) override {
        return RunFileDialog(parent, initialFile, QFileDialog::AcceptSave);
    }
};

}  // namespace

std::unique_ptr<ImageSetFileDialogs> MakeQtImageSetFileDialogs() {
    return std::make_unique<QtImageSetFileDialogs>();
}
