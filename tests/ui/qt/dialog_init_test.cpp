// The dialog as it comes up: controls and their names, the rows filled from
// the image set, the ports from the settings, its layout; and how it ends.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <filesystem>

#include "config/settings.h"
#include "controls/qt/text_progress_ctrl.h"
#include "tests/ui/qt/dialog_fixture.h"
#include "ui/qt/address_edits.h"
#include "ui/qt/dialog_template.h"

namespace uitest {
namespace {

// Every bound control of the binding table, by member name.
const char* const kBoundControls[] = {"m_bootChangeCheck",
                                      "m_modemType2Radio",
                                      "m_modemType1Radio",
                                      "m_fotaFullPathEdit",
                                      "m_rsrc2FullPathEdit",
                                      "m_factoryFsFullPathEdit",
                                      "m_rsrc1FullPathEdit",
                                      "m_modemFullPathEdit",
                                      "m_usbFullPathEdit",
                                      "m_bootFullPathEdit",
                                      "m_rsrc1KindEdit",
                                      "m_modemKindEdit",
                                      "m_rsrc2KindEdit",
                                      "m_usbKindEdit",
                                      "m_fotaKindEdit",
                                      "m_factoryFsKindEdit",
                                      "m_bootKindEdit",
                                      "m_fullBinaryCheck",
                                      "m_binaryFolderEdit",
                                      "m_statusLogEdit",
                                      "m_fotaPathEdit",
                                      "m_factoryFsPathEdit",
                                      "m_rsrc2PathEdit",
                                      "m_usbPathEdit",
                                      "m_rsrc1PathEdit",
                                      "m_modemPathEdit",
                                      "m_bootPathEdit",
                                      "m_emergencyCheck",
                                      "m_autoCheck",
                                      "m_statusText",
                                      "m_saveAsButton",
                                      "m_loadButton",
                                      "m_crcCheck",
                                      "m_bootCheck",
                                      "m_bootButton",
                                      "m_usbCheck",
                                      "m_usbButton",
                                      "m_modemCheck",
                                      "m_modemButton",
                                      "m_rsrc1Check",
                                      "m_rsrc1Button",
                                      "m_rsrc2Check",
                                      "m_rsrc2Button",
                                      "m_factoryFsCheck",
                                      "m_factoryFsButton",
                                      "m_fotaCheck",
                                      "m_fotaButton",
                                      "m_downloadButton",
                                      "m_imageSetPathEdit",
                                      "m_bootAddressEdit",
                                      "m_usbAddressEdit",
                                      "m_modemAddressEdit",
                                      "m_rsrc1AddressEdit",
                                      "m_rsrc2AddressEdit",
                                      "m_factoryFsAddressEdit",
                                      "m_fotaAddressEdit"};

class UiDialogInitTest : public DialogTest {
protected:
    // An image set naming existing and missing files in every row.
    void PrepareStation() {
        std::filesystem::create_directories(File("img/v2"));
        std::filesystem::create_directories(File("img/boot"));
        MakeImage(File("img/v2/modem.bin"), 0x1a0000, 4096, "MDM", "bin");
        MakeImage(File("img/v2/data.rc2"), 0x900000, 2048, "RES2", "rc2");
        MakeImage(File("img/v2/update.fota"), 0xa00000, 2048, "FOTA", "fota");
        MakeImage(File("img/v2/usbboot.usb"), 0x100, 2048, "USB", "usb");
        WriteSettingsFile({{"AUTODETECT", "0"}, {"CH0_PORT", "3"}, {"CH5_PORT", "12"}});
        WriteImageSetFile({{"MTY", "2"},
                           {"BOOTFILE", File("img/boot")},
                           {"BOOTKIND", "BOOTK"},
                           {"USBFILE", File("img/v2/usbboot.usb")},
                           {"USBADDRESS", "100"},
                           {"CODECHECK", "1"},
                           {"CODEKIND", "MDM"},
                           {"CODEFILE", File("img/v2/modem.bin")},
                           {"CODEADDRESS", "1a0000"},
                           {"FONTCHECK", "1"},
                           {"FONTKIND", "RES1"},
                           {"FONTFILE", File("img/v2/missing.rc1")},
                           {"FONTADDRESS", "800000"},
                           {"DATACHECK", "0"},
                           {"DATAKIND", "RES2"},
                           {"DATAFILE", File("img/v2/data.rc2")},
                           {"DATAADDRESS", "900000"},
                           {"ETC1FILE", File("img/v2/gone.ffs")},
                           {"ETC2CHECK", "1"},
                           {"ETC2FILE", File("img/v2/update.fota")},
                           {"ETC2ADDRESS", "a00000"}});
    }

    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(QLatin1String(name)); }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(QLatin1String(name)); }
};

TEST_F(UiDialogInitTest, EveryControlOfTheTemplateExistsUnderItsMemberName) {
    MakeDialog();
    for (const char* name : kBoundControls)
        EXPECT_NE(dialog_->findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_NE(Find<QComboBox>(QStringLiteral("m_portCombo%1").arg(ch)), nullptr);
        EXPECT_NE(Find<TextProgressCtrl>(QStringLiteral("m_progress%1").arg(ch)), nullptr);
    }
    for (int row = 0; row < 7; ++row)
        EXPECT_NE(Find<HexAddressEdit>(QStringLiteral("m_crcEdit%1").arg(row)), nullptr);
    EXPECT_NE(Find<NoTypingEdit>(QStringLiteral("m_bootAddressEdit")), nullptr);
    for (const char* name : {"m_usbAddressEdit", "m_modemAddressEdit", "m_rsrc1AddressEdit",
                             "m_rsrc2AddressEdit", "m_factoryFsAddressEdit", "m_fotaAddressEdit"}) {
        EXPECT_NE(Find<HexAddressEdit>(QLatin1String(name)), nullptr) << name;
    }
    EXPECT_NE(Find<QPushButton>(QStringLiteral("m_portSearchButton")), nullptr);
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("Unified Kelvane Ver3.0 "));
}

TEST_F(UiDialogInitTest, PortCombosListNoPortThenCom1ToCom30) {
    MakeDialog();
    for (int ch = 0; ch < 8; ++ch) {
        const auto* combo = Find<QComboBox>(QStringLiteral("m_portCombo%1").arg(ch));
        ASSERT_EQ(combo->count(), 31);
        EXPECT_EQ(combo->itemText(0), QStringLiteral("-----------"));
        for (int n = 1; n <= 30; ++n)
            EXPECT_EQ(combo->itemText(n), QStringLiteral("COM%1").arg(n));
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_FALSE(combo->isEditable());
    }
}

TEST_F(UiDialogInitTest, RowsComeFromTheImageSetAndMissingFilesLeaveTheirRowEmpty) {
    PrepareStation();
    MakeDialog();
    EXPECT_STREQ(g_szCurrentDir, dir_.path().c_str());
    EXPECT_EQ(Edit("m_imageSetPathEdit")->text().toStdString(), File("default_3.vrk"));
    EXPECT_TRUE(Find<QRadioButton>(QStringLiteral("m_modemType2Radio"))->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(QStringLiteral("m_modemType1Radio"))->isChecked());

    // Modem: ticked and shown with the abbreviated path.
    EXPECT_TRUE(Check("m_modemCheck")->isChecked());
    EXPECT_TRUE(Check("m_modemCheck")->isEnabled());
    EXPECT_EQ(Edit("m_modemPathEdit")->text(), QStringLiteral("/.../v2/modem.bin"));
    EXPECT_EQ(Edit("m_modemAddressEdit")->text(), QStringLiteral("1a0000"));
    EXPECT_EQ(Edit("m_modemKindEdit")->text(), QStringLiteral("MDM"));

    // Rsrc1 is ticked in the set but its file is gone; FactoryFS likewise.
    for (const char* row : {"rsrc1", "factoryFs"}) {
        const QString r = QLatin1String(row);
        EXPECT_FALSE(Check(qPrintable("m_" + r + "Check"))->isChecked()) << row;
        EXPECT_FALSE(Check(qPrintable("m_" + r + "Check"))->isEnabled()) << row;
        EXPECT_TRUE(Edit(qPrintable("m_" + r + "PathEdit"))->text().isEmpty()) << row;
        EXPECT_TRUE(Edit(qPrintable("m_" + r + "KindEdit"))->text().isEmpty()) << row;
        EXPECT_TRUE(Edit(qPrintable("m_" + r + "AddressEdit"))->text().isEmpty()) << row;
        EXPECT_FALSE(Edit(qPrintable("m_" + r + "AddressEdit"))->isEnabled()) << row;
    }

    // Rsrc2: file present, not ticked: selectable, address disabled.
    EXPECT_FALSE(Check("m_rsrc2Check")->isChecked());
    EXPECT_TRUE(Check("m_rsrc2Check")->isEnabled());
    EXPECT_FALSE(Edit("m_rsrc2AddressEdit")->isEnabled());
    EXPECT_EQ(Edit("m_rsrc2AddressEdit")->text(), QStringLiteral("900000"));

    // FOTA: a stored tick never checks it; its file makes it selectable.
    EXPECT_FALSE(Check("m_fotaCheck")->isChecked());
    EXPECT_TRUE(Check("m_fotaCheck")->isEnabled());

    // Boot: the folder is shown; the box stays disabled until a boot folder
    // is chosen. Usb: filled, hidden, never selectable from the set.
    EXPECT_EQ(Edit("m_bootPathEdit")->text(), QStringLiteral("/.../img/boot"));
    EXPECT_FALSE(Check("m_bootCheck")->isEnabled());
    EXPECT_EQ(Edit("m_bootKindEdit")->text(), QStringLiteral("BOOTK"));
    EXPECT_EQ(Edit("m_usbAddressEdit")->text(), QStringLiteral("100"));
    EXPECT_FALSE(Check("m_usbCheck")->isEnabled());
}

TEST_F(UiDialogInitTest, ControlsStartWithTheTemplatesStates) {
    MakeDialog();
    for (const char* hidden : {"m_bootAddressEdit", "m_crcEdit0", "m_crcEdit1", "m_usbCheck",
                               "m_usbButton", "m_usbPathEdit", "m_usbKindEdit", "m_usbAddressEdit",
                               "m_emergencyCheck", "m_fullBinaryCheck", "m_binaryFolderEdit",
                               "m_bootFullPathEdit", "m_modemFullPathEdit", "m_fotaFullPathEdit"}) {
        EXPECT_TRUE(dialog_->findChild<QWidget*>(QLatin1String(hidden))->isHidden()) << hidden;
    }
    EXPECT_TRUE(Check("m_emergencyCheck")->isChecked());  // no restart step
    EXPECT_TRUE(Check("m_autoCheck")->isChecked());       // no settings file: automatic
    EXPECT_FALSE(Check("m_fotaCheck")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(QStringLiteral("m_bootButton"))->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(QStringLiteral("m_fotaButton"))->isEnabled());
    EXPECT_TRUE(Edit("m_modemAddressEdit")->isReadOnly());
    EXPECT_TRUE(Find<QPlainTextEdit>(QStringLiteral("m_statusLogEdit"))->isReadOnly());
    EXPECT_FALSE(Edit("m_imageSetPathEdit")->isReadOnly());
    EXPECT_FALSE(DownloadEnabled());
}

TEST_F(UiDialogInitTest, DownloadIsOfferedWithManualPortsOnlyWhenAChannelHoldsOne) {
    // Manual ports: kept from the settings (a port stored twice goes to the
    // first channel only), no search at start.
    portList_ = {Port("kvmodem-usb0", 7)};
    WriteSettingsFile(
        {{"AUTODETECT", "0"}, {"CH0_PORT", "3"}, {"CH2_PORT", "3"}, {"CH5_PORT", "31"}});
    MakeDialog();
    EXPECT_TRUE(DownloadEnabled());
    EXPECT_EQ(dialog_->ChannelPort(0), 3);
    EXPECT_EQ(dialog_->ChannelPort(2), 0);
    EXPECT_EQ(dialog_->ChannelPort(5), 31);
    EXPECT_EQ(ComboText(0), QStringLiteral("COM3"));
    EXPECT_EQ(ComboText(5), QString());  // no entry above COM30
    EXPECT_FALSE(Check("m_autoCheck")->isChecked());

    WriteSettingsFile({{"AUTODETECT", "0"}});
    MakeDialog();
    EXPECT_FALSE(DownloadEnabled());

    // Automatic: stored ports are ignored, the search decides.
    WriteSettingsFile({{"AUTODETECT", "1"}, {"CH0_PORT", "3"}});
    portList_ = {Port("ttyS0", 1)};
    MakeDialog();
    EXPECT_FALSE(DownloadEnabled());
    EXPECT_EQ(dialog_->ChannelPort(0), 0);
    portList_ = {Port("kvmodem-usb0", 7)};
    MakeDialog();
    EXPECT_TRUE(DownloadEnabled());
    EXPECT_EQ(dialog_->ChannelPort(0), 7);
}

TEST_F(UiDialogInitTest, ControlsLieInsideTheDialogWithoutOverlapping) {
    MakeDialog();
    const QSize base = DialogBaseUnits(DialogFont());
    EXPECT_EQ(dialog_->size(), DluToPixels(QRect(0, 0, 550, 390), base).size());
    EXPECT_EQ(Find<QComboBox>(QStringLiteral("m_portCombo1"))->geometry().topLeft(),
              DluToPixels(QRect(271, 304, 1, 1), base).topLeft());

    std::vector<QWidget*> shown;
    for (QWidget* w : dialog_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(dialog_->rect().contains(w->geometry())) << w->objectName().toStdString();
        if (!w->isHidden() && qobject_cast<QGroupBox*>(w) == nullptr) shown.push_back(w);
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << shown[i]->objectName().toStdString() << " overlaps "
                << shown[j]->objectName().toStdString();
        }
    }
    // Captions fit their controls (a push button's hint adds a minimum width
    // of its own, so its text and margins are measured instead).
    for (QAbstractButton* b : dialog_->findChildren<QAbstractButton*>()) {
        if (b->isHidden() || b->text().isEmpty()) continue;
        const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        const int needed = qobject_cast<QPushButton*>(b) != nullptr
                               ? b->fontMetrics().horizontalAdvance(b->text()) + 2 * margin
                               : b->sizeHint().width();
        EXPECT_GE(b->width(), needed) << b->text().toStdString();
        EXPECT_GE(b->height(), b->fontMetrics().height()) << b->text().toStdString();
    }
}

TEST_F(UiDialogInitTest, EnterDoesNothingAndEscapeClosesAndSaves) {
    MakeImage(File("modem.bin"), 0x1a0000, 4096, "MDM", "bin");
    WriteSettingsFile({{"AUTODETECT", "0"}});
    WriteImageSetFile({{"CODECHECK", "1"}, {"CODEFILE", File("modem.bin")}});
    MakeDialog();
    dialog_->show();
    QTest::keyClick(dialog_.get(), Qt::Key_Return);
    QTest::keyClick(Edit("m_imageSetPathEdit"), Qt::Key_Enter);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_TRUE(prompt_.Texts().empty());  // Download was not pressed either

    auto* combo = Find<QComboBox>(QStringLiteral("m_portCombo1"));
    combo->setCurrentIndex(5);
    emit combo->activated(5);  // the operator picks COM5 for CH1
    Edit("m_modemAddressEdit")->setText(QStringLiteral("2b0000"));
    QTest::keyClick(dialog_.get(), Qt::Key_Escape);

    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    EXPECT_EQ(StoredValue(File("Kelvane_3.ini"), "CH1_PORT"), "5");
    EXPECT_EQ(StoredValue(File("Kelvane_3.ini"), "CH0_PORT"), "0");
    EXPECT_EQ(StoredValue(File("default_3.vrk"), "CODEADDRESS"), "2b0000");
}

}  // namespace
}  // namespace uitest
