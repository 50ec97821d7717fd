// The file dialogs of the Load and Save As buttons, behind an interface so
// that tests choose the file themselves. Paths are file-system byte strings,
// as the settings hold them.
#pragma once

#include <memory>
#include <optional>
#include <string>

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
};

// Qt's file dialogs offering "Varko Files(*.vrk)", default suffix "vrk".
// Both accept only files that exist: Save As replaces an image-set file and
// never creates one, so it asks no overwrite question.
std::unique_ptr<ImageSetFileDialogs> MakeQtImageSetFileDialogs();
