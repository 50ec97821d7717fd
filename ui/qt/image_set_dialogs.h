// The file dialogs of the Load and Save As buttons and of the image rows'
// buttons, behind an interface so that tests choose the file themselves.
// Paths are file-system byte strings, as the settings hold them.
#pragma once

#include <QStringList>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

class ImageSetFileDialogs {
public:
    virtual ~ImageSetFileDialogs() = default;
    // The image-set file to read, or nothing when the operator cancelled.
    virtual std::optional<std::string> ChooseToLoad(QWidget* parent,
                                                    const std::string& initialFile) = 0;
    // The image-set file to write, or nothing when the operator cancelled.
    virtual std::optional<std::string> ChooseToSave(QWidget* parent,
                                                    const std::string& initialFile) = 0;
    // An existing image file for a row, or nothing when the operator
    // cancelled. filter is in the "Modem Files(*.bin)|*.bin||" form:
    // description and pattern pairs, each part ended by a vertical bar.
    virtual std::optional<std::string> ChooseImageFile(QWidget* parent, const char* filter,
                                                       const char* defaultSuffix) = 0;
};

// Qt's name filters for a filter of the "Description(*.ext)|*.ext||" form:
// one per pair, the description alone when it already ends in its pattern
// in parentheses, else "Description (pattern)".
QStringList NameFilters(std::string_view filter);

// Qt's file dialogs. Load and Save As offer "Varko Files(*.vrk)", default
// suffix "vrk"; the image files are offered as the row's filter says. All
// accept only files that exist: Save As replaces an image-set file and never
// creates one, so it asks no overwrite question.
std::unique_ptr<ImageSetFileDialogs> MakeQtImageSetFileDialogs();
