// Qt's file dialogs behind Load and Save As: what they offer and accept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <fstream>

#include "tests/support/pty_peer.h"
#include "ui/qt/image_set_dialogs.h"

namespace {

struct Seen {
    QStringList filters;
    QString suffix;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
};

// Plays the operator on the next file dialog: looks at it, then presses
// Open/Save (or Cancel), after selecting pick when one is given; cancels it
// should it still be open a second later.
class Operator {
public:
    explicit Operator(bool cancel, QString pick = {}) : m_cancel(cancel), m_pick(std::move(pick)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Act(); });
        m_timer.start(10);
    }
    Seen seen;

private:
    void Act() {
        if (m_acted) {
            if (m_dialog != nullptr && ++m_ticksSince > 100) m_dialog->reject();
            if (m_dialog == nullptr) m_timer.stop();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        seen = {dialog->nameFilters(), dialog->defaultSuffix(), dialog->fileMode(),
                dialog->acceptMode()};
        m_acted = true;
        m_dialog = dialog;
        if (!m_pick.isEmpty()) dialog->selectFile(m_pick);
        if (m_cancel) {
            dialog->reject();
        } else {
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, public in QDialog
        }
    }
    QTimer m_timer;
    bool m_cancel;
    QString m_pick;
    bool m_acted = false;
    QPointer<QFileDialog> m_dialog;
    int m_ticksSince = 0;
};

TEST(UiImageSetDialogsTest, BothOfferVrkFilesAndTakeOnlyExistingOnes) {
    testing_support::TempDir dir;
    const std::string file = dir.File("station.vrk");
    std::ofstream(file) << "[VARKO]\n";
    const auto dialogs = MakeQtImageSetFileDialogs();

    Operator load(false);
    EXPECT_EQ(dialogs->ChooseToLoad(nullptr, file), file);
    EXPECT_EQ(load.seen.filters, QStringList{QStringLiteral("Varko Files(*.vrk)")});
    EXPECT_EQ(load.seen.suffix, QStringLiteral("vrk"));
    EXPECT_EQ(load.seen.fileMode, QFileDialog::ExistingFile);
    EXPECT_EQ(load.seen.acceptMode, QFileDialog::AcceptOpen);

    Operator save(false);
    EXPECT_EQ(dialogs->ChooseToSave(nullptr, file), file);
    EXPECT_EQ(save.seen.fileMode, QFileDialog::ExistingFile);  // replaces, never creates
    EXPECT_EQ(save.seen.acceptMode, QFileDialog::AcceptSave);

    Operator cancel(true);
    EXPECT_EQ(dialogs->ChooseToSave(nullptr, file), std::nullopt);
    EXPECT_EQ(cancel.seen.filters, QStringList{QStringLiteral("Varko Files(*.vrk)")});
}

TEST(UiImageSetDialogsTest, ImageFilesAreOfferedWithTheRowsFilter) {
    testing_support::TempDir dir;
    const std::string file = dir.File("modem.bin");
    std::ofstream(file) << "image";
    const auto dialogs = MakeQtImageSetFileDialogs();

    Operator modem(false, QString::fromStdString(file));
    EXPECT_EQ(dialogs->ChooseImageFile(nullptr, "Modem Files(*.bin)|*.bin||", "bin"), file);
    EXPECT_EQ(modem.seen.filters, QStringList{QStringLiteral("Modem Files(*.bin)")});
    EXPECT_EQ(modem.seen.suffix, QStringLiteral("bin"));
    EXPECT_EQ(modem.seen.fileMode, QFileDialog::ExistingFile);
    EXPECT_EQ(modem.seen.acceptMode, QFileDialog::AcceptOpen);

    EXPECT_EQ(NameFilters("Images|*.bin;*.rc1|All(*)|*||"),
              (QStringList{QStringLiteral("Images (*.bin;*.rc1)"), QStringLiteral("All(*)")}));
}

}  // namespace
