// The folder browser: where its dialog opens, what its status line shows,
// what DoModal returns and keeps, and the shared initial folder. Most tests
// replace the modal loop and work on the prepared dialog itself; one drives
// the real modal dialog.
#include "controls/qt/folder_browser.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kCallerFlags = FolderBrowser::kStatusText | FolderBrowser::kEditBox;

std::string Str(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// What a dialog looked like when it was run.
struct Seen {
    QString title;
    QString directory;
    QString status;
    bool hasStatus = false;
    bool helpButton = true;
    bool editBoxShown = false;
};

Seen Look(const QFileDialog& dialog) {
    Seen seen;
    seen.title = dialog.windowTitle();
    seen.directory = dialog.directory().absolutePath();
    const auto* status = dialog.findChild<QLabel*>(QLatin1String(FolderBrowser::kStatusName));
    seen.hasStatus = status != nullptr;
    if (status != nullptr) seen.status = status->text();
    seen.helpButton = dialog.windowFlags().testFlag(Qt::WindowContextHelpButtonHint);
    const auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    seen.editBoxShown = edit != nullptr && !edit->isHidden();
    return seen;
}

// The operator picks folder and presses OK.
int Choose(QFileDialog& dialog, const QString& folder) {
    dialog.setDirectory(folder);
    static_cast<QDialog&>(dialog).accept();  // QFileDialog hides it; still its override
    return dialog.result();
}

int Cancel(QFileDialog& dialog) {
    dialog.reject();
    return dialog.result();
}

// A browser whose modal loop is a script.
class ScriptedBrowser : public FolderBrowser {
public:
    ScriptedBrowser(std::string_view root, uint32_t flags, DialogRunner script)
        : FolderBrowser(nullptr, 0, "Select Boot Folder", root, flags),
          m_script(std::move(script)) {}

protected:
    int RunDialog(QFileDialog& dialog) override { return m_script(dialog); }

private:
    DialogRunner m_script;
};

class FolderBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A dialog left open ends its test instead of hanging it.
        QObject::connect(&m_watchdog, &QTimer::timeout, [] {
            ADD_FAILURE() << "a dialog was left open for 10 s";
            if (auto* modal = QApplication::activeModalWidget()) modal->close();
        });
        m_watchdog.start(10000);
        ASSERT_TRUE(m_temp.isValid());
        for (const char* name : {"a/inner", "b", "c"})
            ASSERT_TRUE(QDir(Dir()).mkpath(name));
    }
    void TearDown() override {
        FolderBrowser::SetDialogRunner({});
        FolderBrowser::SetInitialFolder("");
    }
    QString Dir(const QString& name = QString()) const {
        return name.isEmpty() ? m_temp.path() : m_temp.filePath(name);
    }

    QTemporaryDir m_temp;
    QTimer m_watchdog;
};

TEST_F(FolderBrowserTest, OpensAtTheInitialFolderWithTitleStatusAndNoHelpButton) {
    Seen seen;
    FolderBrowser::SetDialogRunner([&](QFileDialog& dialog) {
        seen = Look(dialog);
        return Cancel(dialog);
    });
    FolderBrowser browser(nullptr, 0, "Select Binary Folder", "", kCallerFlags);
    browser.SetInitialFolder(Str(Dir("a")));

    EXPECT_EQ(browser.DoModal(), FolderBrowser::kCancelled);
    EXPECT_EQ(seen.title, QStringLiteral("Select Binary Folder"));
    EXPECT_EQ(seen.directory, Dir("a"));
    EXPECT_TRUE(seen.hasStatus);
    EXPECT_EQ(seen.status, Dir("a"));
    EXPECT_FALSE(seen.helpButton);
    EXPECT_TRUE(seen.editBoxShown);
}

TEST_F(FolderBrowserTest, TwoBrowsersInARowOpenWhereTheirOwnInitialFolderSays) {
    Seen first;
    FolderBrowser::SetDialogRunner([&](QFileDialog& dialog) {
        first = Look(dialog);
        return Choose(dialog, Dir("b"));
    });
    FolderBrowser one(nullptr, 0, "Select Boot Folder", "", kCallerFlags);
    one.SetInitialFolder(Str(Dir("a")));
    ASSERT_EQ(one.DoModal(), FolderBrowser::kChosen);
    EXPECT_EQ(first.directory, Dir("a"));
    EXPECT_EQ(one.GetSelectedPath(), Str(Dir("b")));

    Seen second;
    FolderBrowser::SetDialogRunner([&](QFileDialog& dialog) {
        second = Look(dialog);
        return Cancel(dialog);
    });
    FolderBrowser two(nullptr, 0, "Select Binary Folder", "", kCallerFlags);
    two.SetInitialFolder(Str(Dir("c")));
    EXPECT_EQ(two.DoModal(), FolderBrowser::kCancelled);
    EXPECT_EQ(second.directory, Dir("c"));  // not the first browser's choice
    EXPECT_EQ(second.title, QStringLiteral("Select Binary Folder"));

    // The initial folder is shared and outlives the browsers.
    FolderBrowser three(nullptr, 0, "Select Boot Folder", "", kCallerFlags);
    EXPECT_EQ(three.DoModal(), FolderBrowser::kCancelled);
    EXPECT_EQ(second.directory, Dir("c"));
    EXPECT_STREQ(g_initialFolder, Str(Dir("c")).c_str());
}

TEST_F(FolderBrowserTest, CancelReturnsTwoAndKeepsTheLastChoice) {
    bool cancel = false;
    ScriptedBrowser browser("", kCallerFlags, [&](QFileDialog& dialog) {
        return cancel ? Cancel(dialog) : Choose(dialog, Dir("a/inner"));
    });
    EXPECT_TRUE(browser.GetSelectedPath().empty());
    ASSERT_EQ(browser.DoModal(), FolderBrowser::kChosen);
    EXPECT_EQ(browser.GetSelectedPath(), Str(Dir("a/inner")));

    cancel = true;
    browser.SetInitialFolder(Str(Dir("c")));
    EXPECT_EQ(browser.DoModal(), FolderBrowser::kCancelled);
    EXPECT_EQ(browser.GetSelectedPath(), Str(Dir("a/inner")));
}

TEST_F(FolderBrowserTest, StatusLineFollowsTheCurrentFolder) {
    QStringList shown;
    ScriptedBrowser browser("", kCallerFlags, [&](QFileDialog& dialog) {
        const auto* status = dialog.findChild<QLabel*>(QLatin1String(FolderBrowser::kStatusName));
        shown << status->text();

        // Up one folder with the dialog's own button.
        dialog.findChild<QToolButton*>(QStringLiteral("toParentButton"))->click();
        shown << status->text();

        // Click "inner" in the folder list once the listing has arrived.
        auto* list = dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
        QModelIndex inner;
        const bool listed = QTest::qWaitFor([&] {
            const auto* model = list->model();
            const auto found = model->match(model->index(0, 0, list->rootIndex()), Qt::DisplayRole,
                                            QStringLiteral("inner"));
            if (!found.isEmpty()) inner = found.first();
            return inner.isValid();
        });
        if (listed) list->setCurrentIndex(inner);
        shown << status->text();
        return Cancel(dialog);
    });
    browser.SetInitialFolder(Str(Dir("a/inner")));
    browser.DoModal();

    EXPECT_EQ(shown, (QStringList{Dir("a/inner"), Dir("a"), Dir("a/inner")}));
}

TEST_F(FolderBrowserTest, RootPathStartsAndBoundsTheTree) {
    Seen seen;
    QString afterParent;
    QList<QUrl> sidebar;
    ScriptedBrowser browser(Str(Dir("a")), kCallerFlags, [&](QFileDialog& dialog) {
        seen = Look(dialog);
        sidebar = dialog.sidebarUrls();
        dialog.findChild<QToolButton*>(QStringLiteral("toParentButton"))->click();
        afterParent = dialog.directory().absolutePath();
        return Cancel(dialog);
    });

    browser.SetInitialFolder(Str(Dir("c")));  // outside the root
    browser.DoModal();
    EXPECT_EQ(seen.directory, Dir("a"));
    EXPECT_EQ(afterParent, Dir("a"));
    EXPECT_EQ(sidebar, QList<QUrl>{QUrl::fromLocalFile(Dir("a"))});

    browser.SetInitialFolder(Str(Dir("a/inner")));  // inside it
    browser.DoModal();
    EXPECT_EQ(seen.directory, Dir("a/inner"));
    EXPECT_EQ(afterParent, Dir("a"));
    EXPECT_EQ(seen.status, Dir("a/inner"));

    // A root that is no folder leaves the tree unrooted.
    ScriptedBrowser unrooted(Str(Dir("missing")), kCallerFlags, [&](QFileDialog& dialog) {
        seen = Look(dialog);
        return Cancel(dialog);
    });
    unrooted.SetInitialFolder(Str(Dir("c")));
    unrooted.DoModal();
    EXPECT_EQ(seen.directory, Dir("c"));
}

TEST_F(FolderBrowserTest, MissingInitialFolderKeepsTheDefaultAndStillChooses) {
    Seen seen;
    ScriptedBrowser browser("", kCallerFlags, [&](QFileDialog& dialog) {
        seen = Look(dialog);
        return Choose(dialog, Dir("b"));
    });
    browser.SetInitialFolder(Str(Dir("missing")));
    ASSERT_EQ(browser.DoModal(), FolderBrowser::kChosen);
    EXPECT_NE(seen.directory, Dir("missing"));
    EXPECT_TRUE(QFileInfo(seen.directory).isDir());
    EXPECT_EQ(seen.status, seen.directory);
    EXPECT_EQ(browser.GetSelectedPath(), Str(Dir("b")));
}

TEST_F(FolderBrowserTest, FlagsDecideOnStatusLineAndEditBox) {
    Seen seen;
    FolderBrowser::SetDialogRunner([&](QFileDialog& dialog) {
        seen = Look(dialog);
        return Cancel(dialog);
    });
    FolderBrowser plain(nullptr, 0, "Plain", "", 0);
    plain.DoModal();
    EXPECT_FALSE(seen.hasStatus);
    EXPECT_FALSE(seen.editBoxShown);

    FolderBrowser statusOnly(nullptr, 0, "Status", "", FolderBrowser::kStatusText);
    statusOnly.DoModal();
    EXPECT_TRUE(seen.hasStatus);
    EXPECT_FALSE(seen.editBoxShown);
}

TEST_F(FolderBrowserTest, InitialFolderIsCutToItsBufferWithoutSplittingACharacter) {
    const std::string exact(260, 'x');
    FolderBrowser::SetInitialFolder(exact);
    EXPECT_EQ(std::string(g_initialFolder), exact);

    FolderBrowser::SetInitialFolder(std::string(300, 'y'));
    EXPECT_EQ(std::string(g_initialFolder), std::string(260, 'y'));

    // A two-byte character on bytes 259 and 260 does not fit: it goes whole.
    FolderBrowser::SetInitialFolder(std::string(259, 'z') + "\xC3\xA9" + "tail");
    EXPECT_EQ(std::string(g_initialFolder), std::string(259, 'z'));

    // A shorter path replaces a longer one completely.
    FolderBrowser::SetInitialFolder("/srv/boot");
    EXPECT_STREQ(g_initialFolder, "/srv/boot");
}

TEST_F(FolderBrowserTest, RealModalDialogIsDrivenOffscreen) {
    QString title;
    QString opened;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        poll.stop();
        title = dialog->windowTitle();
        opened = dialog->directory().absolutePath();
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            edit->setText("inner");
        }
        static_cast<QDialog*>(dialog)->accept();
    });
    poll.start();

    FolderBrowser browser(nullptr, 0, "Select Boot Folder", "", kCallerFlags);
    browser.SetInitialFolder(Str(Dir("a")));
    EXPECT_EQ(browser.DoModal(), FolderBrowser::kChosen);
    EXPECT_EQ(title, QStringLiteral("Select Boot Folder"));
    EXPECT_EQ(opened, Dir("a"));
    EXPECT_EQ(browser.GetSelectedPath(), Str(Dir("a/inner")));
}

}  // namespace
