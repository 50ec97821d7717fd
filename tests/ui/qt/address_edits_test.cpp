// The address edits' key filters: what typing, backspace, cursor keys and
// editing shortcuts do to the text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "ui/qt/address_edits.h"

namespace {

TEST(UiAddressEditsTest, HexEditTakesUpToEightHexDigitsInUpperCase) {
    HexAddressEdit edit;
    QTest::keyClicks(&edit, "1a2B-3 cx4g");
    EXPECT_EQ(edit.text(), QStringLiteral("1A2B3C4"));
    QTest::keyClicks(&edit, "d5e");
    EXPECT_EQ(edit.text(), QStringLiteral("1A2B3C4D"));  // full at eight

    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QStringLiteral("1A2B3C4"));
    // Cursor keys move: a digit typed at the start goes in front.
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClicks(&edit, "f");
    EXPECT_EQ(edit.text(), QStringLiteral("F1A2B3C4"));
    EXPECT_EQ(edit.cursorPosition(), 1);
}

TEST(UiAddressEditsTest, HexEditDropsPasteCutAndUndo) {
    QApplication::clipboard()->setText(QStringLiteral("xyz!"));
    QLineEdit plain;
    QTest::keyClick(&plain, Qt::Key_V, Qt::ControlModifier);
    if (plain.text() != QStringLiteral("xyz!")) GTEST_SKIP() << "no clipboard on this platform";

    HexAddressEdit edit;
    QTest::keyClicks(&edit, "1a");
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("1A"));
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);  // select all passes
    QTest::keyClick(&edit, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("1A"));
    EXPECT_EQ(edit.selectedText(), QStringLiteral("1A"));
}

TEST(UiAddressEditsTest, NoTypingEditKeepsItsTextWhateverIsTyped) {
    NoTypingEdit edit;
    edit.setText(QStringLiteral("1a0000"));
    QTest::keyClicks(&edit, "12ab");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClick(&edit, Qt::Key_Delete, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit.text(), QStringLiteral("1a0000"));

    // The cursor still moves.
    QTest::keyClick(&edit, Qt::Key_Home);
    EXPECT_EQ(edit.cursorPosition(), 0);
    QTest::keyClick(&edit, Qt::Key_End);
    EXPECT_EQ(edit.cursorPosition(), 6);
}

}  // namespace
