// Load and Save As with the file dialogs replaced: what is read, what is
// written, the checks before saving and what a cancel leaves.
#include <QCheckBox>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "config/settings.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

using Texts = std::vector<std::string>;

class UiImageSetFilesTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
        MakeImage(File("other.bin"), 0x2a0000, 2048, "MDM2", "bin");
        MakeImage(File("res.rc1"), 0x800000, 2048, "R1", "rc1");
        WriteSettingsFile({{"AUTODETECT", "0"}, {"CH0_PORT", "3"}});
        WriteImageSetFile({{"CODECHECK", "1"},
                           {"CODEKIND", "MDM"},
                           {"CODEFILE", File("modem.bin")},
                           {"CODEADDRESS", "1a0000"}});
        WriteVarko(File("other.vrk"), {{"CODECHECK", "0"},
                                       {"CODEKIND", "MDM2"},
                                       {"CODEFILE", File("other.bin")},
                                       {"CODEADDRESS", "2a0000"},
                                       {"FONTCHECK", "1"},
                                       {"FONTFILE", File("res.rc1")},
                                       {"FONTADDRESS", "800000"}});
        MakeDialog();
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(QLatin1String(name)); }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(QLatin1String(name)); }
    Texts SaveAs() {
        prompt_.Clear();
        dialog_->OnSaveAs();
        return prompt_.Texts();
    }
};

TEST_F(UiImageSetFilesTest, LoadShowsTheChosenSetInEveryRow) {
    files_->answer = File("other.vrk");
    dialog_->OnLoad();
    ASSERT_EQ(files_->loadsOpenedAt, Texts{File("default_3.vrk")});
    EXPECT_TRUE(prompt_.Texts().empty());
    EXPECT_EQ(Edit("m_imageSetPathEdit")->text().toStdString(), File("other.vrk"));
    EXPECT_STREQ(dialog_->Core().CurrentSettings().VARKOFILE, File("other.vrk").c_str());
    EXPECT_FALSE(Check("m_modemCheck")->isChecked());
    EXPECT_EQ(Edit("m_modemKindEdit")->text(), QStringLiteral("MDM2"));
    EXPECT_EQ(Edit("m_modemAddressEdit")->text(), QStringLiteral("2a0000"));
    EXPECT_TRUE(Check("m_rsrc1Check")->isChecked());
    EXPECT_EQ(Edit("m_rsrc1AddressEdit")->text(), QStringLiteral("800000"));
    EXPECT_EQ(dialog_->ChannelPort(0), 3);  // the settings were read again
}

TEST_F(UiImageSetFilesTest, LoadOfAVanishedFileKeepsTheNewPath) {
    files_->answer = File("vanished.vrk");
    dialog_->OnLoad();
    EXPECT_EQ(prompt_.Texts(), Texts{"ERROR : File is not finded"});
    EXPECT_EQ(Edit("m_imageSetPathEdit")->text().toStdString(), File("vanished.vrk"));
    EXPECT_STREQ(dialog_->Core().CurrentSettings().VARKOFILE, File("vanished.vrk").c_str());
    EXPECT_TRUE(Check("m_modemCheck")->isChecked());  // the rows stay as they were
}

TEST_F(UiImageSetFilesTest, CancellingEitherDialogChangesNothing) {
    const std::string before = StoredValue(File("default_3.vrk"), "CODEADDRESS");
    Edit("m_modemAddressEdit")->setText(QStringLiteral("3b0000"));
    files_->answer.reset();
    dialog_->OnLoad();
    EXPECT_EQ(SaveAs(), Texts{});
    EXPECT_EQ(files_->savesOpenedAt.size(), 1u);
    EXPECT_EQ(Edit("m_imageSetPathEdit")->text().toStdString(), File("default_3.vrk"));
    EXPECT_EQ(Edit("m_modemAddressEdit")->text(), QStringLiteral("3b0000"));
    EXPECT_EQ(StoredValue(File("default_3.vrk"), "CODEADDRESS"), before);
}

TEST_F(UiImageSetFilesTest, SaveAsChecksTheTickedRowsFirst) {
    Edit("m_modemAddressEdit")->clear();
    EXPECT_EQ(SaveAs(), Texts{"Invalid Modem Image/Address !"});
    EXPECT_TRUE(files_->savesOpenedAt.empty());  // no file dialog

    Check("m_modemCheck")->setChecked(false);
    Check("m_rsrc1Check")->setChecked(true);  // no Rsrc1 file in this set
    Edit("m_rsrc1AddressEdit")->setText(QStringLiteral("800000"));
    EXPECT_EQ(SaveAs(), Texts{"Invalid Rsrc1 Image!"});
    Edit("m_rsrc1AddressEdit")->clear();
    EXPECT_EQ(SaveAs(), Texts{"Invalid Rsrc1 Image!"});  // whatever the address

    files_->answer = File("other.vrk");
    dialog_->OnLoad();
    Edit("m_rsrc1AddressEdit")->clear();
    EXPECT_EQ(SaveAs(), Texts{"Invalid Rsrc1 Address !"});

    Check("m_rsrc1Check")->setChecked(false);
    Check("m_usbCheck")->setChecked(true);  // the Usb row is checked before all others
    Check("m_fotaCheck")->setChecked(true);
    EXPECT_EQ(SaveAs(), Texts{"Invalid USBBoot Image/Address !"});
    Check("m_usbCheck")->setChecked(false);
    EXPECT_EQ(SaveAs(), Texts{"Invalid ETC Image/Address !"});
    EXPECT_TRUE(files_->savesOpenedAt.empty());
}

TEST_F(UiImageSetFilesTest, SaveAsWritesTheRowsIntoTheChosenFileForTheNextLoad) {
    const std::string target = File("station.vrk");
    std::ofstream(target) << "";
    Edit("m_modemAddressEdit")->setText(QStringLiteral("1b0000"));
    files_->answer = target;
    EXPECT_EQ(SaveAs(), Texts{});
    EXPECT_EQ(files_->savesOpenedAt, Texts{File("default_3.vrk")});
    EXPECT_EQ(StoredValue(target, "CODEADDRESS"), "1b0000");
    EXPECT_EQ(StoredValue(target, "CODEFILE"), File("modem.bin"));
    EXPECT_EQ(StoredValue(File("Kelvane_3.ini"), "VARKOFILE"), target);
    EXPECT_EQ(StoredValue(File("Kelvane_3.ini"), "CH0_PORT"), "3");

    // Another set in between, then the saved one back.
    files_->answer = File("other.vrk");
    dialog_->OnLoad();
    ASSERT_EQ(Edit("m_modemAddressEdit")->text(), QStringLiteral("2a0000"));
    files_->answer = target;
    dialog_->OnLoad();
    EXPECT_EQ(Edit("m_modemAddressEdit")->text(), QStringLiteral("1b0000"));
    EXPECT_TRUE(Check("m_modemCheck")->isChecked());
    EXPECT_EQ(Edit("m_modemKindEdit")->text(), QStringLiteral("MDM"));
}

TEST_F(UiImageSetFilesTest, ATickedRowWithoutItsFileIsReportedAndCloseKeepsTheSet) {
    WriteImageSetFile({{"CODECHECK", "1"},
                       {"CODEFILE", File("modem.bin")},
                       {"CODEADDRESS", "1a0000"},
                       {"FONTCHECK", "1"},
                       {"FONTFILE", File("gone.rc1")},
                       {"FONTADDRESS", "800000"}});
    const std::vector<uint8_t> before = ReadBytes(File("default_3.vrk"));
    prompt_.Clear();
    MakeDialog();
    EXPECT_EQ(prompt_.Texts(),
              Texts{"Rsrc1 is ticked but its file " + File("gone.rc1") + " is missing"});
    EXPECT_FALSE(Check("m_rsrc1Check")->isChecked());
    DestroyDialog();  // the close box
    EXPECT_EQ(ReadBytes(File("default_3.vrk")), before);

    // What the operator changes is stored at close.
    MakeDialog();
    Edit("m_modemAddressEdit")->setText(QStringLiteral("1b0000"));
    DestroyDialog();
    EXPECT_EQ(StoredValue(File("default_3.vrk"), "CODEADDRESS"), "1b0000");
}

TEST_F(UiImageSetFilesTest, SaveAsIntoAReadOnlySetSaysSoAndLeavesIt) {
    const std::string target = File("locked.vrk");
    WriteBytes(target, "[VARKO]\nCODEADDRESS=1\n");
    using std::filesystem::perms;
    std::filesystem::permissions(target,
                                 perms::owner_read | perms::group_read | perms::others_read);
    files_->answer = target;
    EXPECT_EQ(SaveAs(), Texts{"ERROR : File is not written (read-only?)"});
    EXPECT_EQ(StoredValue(target, "CODEADDRESS"), "1");
}

}  // namespace
}  // namespace uitest
