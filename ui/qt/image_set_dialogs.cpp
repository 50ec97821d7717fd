#include "ui/qt/image_set_dialogs.h"

#include <QFile>
#include <QFileDialog>

#include "ui/dialog_template.h"

namespace {

using ui::kImageSetFilter;
using ui::kImageSetSuffix;

std::optional<std::string> RunFileDialog(QWidget* parent, const std::string& initialFile,
                                         QFileDialog::AcceptMode mode,
                                         const QStringList& filters = NameFilters(kImageSetFilter),
                                         const char* suffix = kImageSetSuffix) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QString::fromLatin1(suffix));
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
    std::optional<std::string> ChooseImageFile(QWidget* parent, const char* filter,
                                               const char* defaultSuffix) override {
        return RunFileDialog(parent, {}, QFileDialog::AcceptOpen, NameFilters(filter),
                             defaultSuffix);
    }
};

}  // namespace

QStringList NameFilters(std::string_view filter) {
    const QStringList parts =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()))
            .split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        const QString& pattern = parts.at(i + 1);
        if (description.isEmpty() || pattern.isEmpty()) break;  // the closing "||"
        const QString shown = QLatin1Char('(') + pattern + QLatin1Char(')');
        filters << (description.endsWith(shown) ? description
                                                : description + QLatin1Char(' ') + shown);
    }
    return filters;
}

std::unique_ptr<ImageSetFileDialogs> MakeQtImageSetFileDialogs() {
    return std::make_unique<QtImageSetFileDialogs>();
}
