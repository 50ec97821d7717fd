// The Boot button with the folder browser replaced, the modem-type radios,
// "Boot Change", "[Full Binary]" and the full-path display of the rows.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <array>
#include <filesystem>

#include "config/image_set.h"
#include "controls/qt/folder_browser.h"
#include "engine/crc32.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

using Texts = std::vector<std::string>;
using Addresses = std::array<std::string, kBootChainCount>;
constexpr const char* kAskFiles = "Change Boot files ??";
constexpr const char* kNoTrailer = "Error!!\nNot contained MagicCode or Binary_Kind\n";
constexpr const char* kNoTarget = "Not finded Target Information\n";

Addresses ChainAddresses(const ImageSet& set) {
    Addresses addresses;
    for (int i = 0; i < kBootChainCount; ++i)
        addresses[i] = set.bootChain[i].address;
    return addresses;
}

class UiBootChainTest : public DialogTest {
protected:
    void TearDown() override {
        FolderBrowser::SetDialogRunner({});
        FolderBrowser::SetInitialFolder("");
        DialogTest::TearDown();
    }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(QLatin1String(name)); }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(QLatin1String(name)); }

    // The six chain files in folder, file i at 0x100000 * (i + 1) with kind
    // "K<i>", leaving out the files named in skip; and its USB boot image.
    void MakeChain(const std::string& folder, const std::vector<std::string>& skip = {}) {
        std::filesystem::create_directories(File(folder));
        for (int i = 0; i < kBootChainCount; ++i) {
            const std::string name = BootChainFileName(i);
            if (std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
            MakeImage(File(folder) + name, 0x100000u * (i + 1), 1000,
                      ("K" + std::to_string(i)).c_str(), "mbn", i);
        }
        MakeImage(File(folder) + "/secdload.usb", 0x80000, 1000, "SECUSB", "usb");
    }
    // The folder browser's next answers: a folder, or Cancel for nothing.
    void BrowserChooses(std::optional<std::string> folder) {
        FolderBrowser::SetDialogRunner([this, folder](QFileDialog& dialog) {
            browsed_.push_back(dialog.windowTitle().toStdString() + " at " +
                               dialog.directory().absolutePath().toStdString());
            if (!folder) {
                dialog.reject();
            } else {
                dialog.setDirectory(QString::fromStdString(*folder));
                static_cast<QDialog&>(dialog).accept();
            }
            return dialog.result();
        });
    }
    Texts PressBoot() {
        prompt_.Clear();
        dialog_->OnBootButton();  // the button is usable only after "Boot Change"
        return prompt_.Texts();
    }
    Texts Click(const char* button) {
        prompt_.Clear();
        Find<QAbstractButton>(QLatin1String(button))->click();
        return prompt_.Texts();
    }

    std::vector<std::string> browsed_;
};

TEST_F(UiBootChainTest, AChainFolderLackingAFileIsForgottenWithThatFilesMessage) {
    std::filesystem::create_directories(File("old"));
    MakeChain("chain", {"/mibib1.mbn"});
    MakeChain("chain2", {"/pbl.mbn", "/mibib1.mbn"});
    WriteImageSetFile(
        {{"MTY", "2"}, {"BOOTFILE", File("old")}, {"USBFILE", File("old/secdload.usb")}});
    MakeDialog();
    prompt_.AnswerYes(true);

    BrowserChooses(File("chain"));
    EXPECT_EQ(
        PressBoot(),
        (Texts{kAskFiles, "Please insert the correct binary to selected folder(mibib1.mbn) "}));
    EXPECT_EQ(browsed_, Texts{"Select Boot Folder at " + File("old")});
    EXPECT_STREQ(dialog_->Core().Images().BOOTFILE, "");
    EXPECT_TRUE(Edit("m_bootPathEdit")->text().isEmpty());
    EXPECT_EQ(Shown("boot"), (RowShown{false, false, "", "", ""}));
    EXPECT_STREQ(dialog_->Core().Images().USBFILE,
                 File("old/secdload.usb").c_str());                    // no Usb steps
    EXPECT_EQ(ChainAddresses(dialog_->Core().Images()), Addresses{});  // no trailer read

    // pbl is tested before mibib1.
    BrowserChooses(File("chain2"));
    EXPECT_EQ(PressBoot(),
              (Texts{kAskFiles, "Please insert the correct binary to selected folder(pbl.mbn) "}));
}

TEST_F(UiBootChainTest, AChainWhoseQcsblHasNoTrailerKeepsNoAddressButStillTakesItsUsbImage) {
    MakeChain("chain");
    WriteBytes(File("chain/qcsbl.mbn"), std::string(2048, '\0'));
    WriteImageSetFile({{"MTY", "2"}});
    MakeDialog();
    prompt_.AnswerYes(true);
    Addresses whenRefused;
    prompt_.onShow = [&](const std::string& text) {
        if (text == kNoTrailer) whenRefused = ChainAddresses(dialog_->Core().Images());
    };

    BrowserChooses(File("chain"));
    EXPECT_EQ(PressBoot(), (Texts{kAskFiles, kNoTrailer, kNoTarget}));
    // Read in slot order: pbl, qcsblhd_cfgdata, mibib1 and mibib2 came first.
    EXPECT_EQ(whenRefused, (Addresses{"100000", "200000", "300000", "400000", "", ""}));
    EXPECT_EQ(ChainAddresses(dialog_->Core().Images()), Addresses{});
    EXPECT_EQ(dialog_->Core().Images().BOOTCHECK, 0);
    EXPECT_EQ(Shown("boot"), (RowShown{false, false, "", "", ""}));
    EXPECT_STREQ(dialog_->Core().Images().BOOTFILE, File("chain").c_str());
    EXPECT_STREQ(dialog_->Core().Images().USBFILE, File("chain/secdload.usb").c_str());
    EXPECT_EQ(Shown("usb"), (RowShown{true, true, "SECUSB", "80000", "0"}));
}

TEST_F(UiBootChainTest, TheBootLoaderIsTakenForTypeTextMbnButNotMbnInMixedCase) {
    const std::string loader = File("loader/BOOT_LOADER.mbn");
    std::filesystem::create_directories(File("loader"));
    MakeImage(loader, 0x20000, 3000, "BL", "mbn");
    MakeImage(File("loader/usbboot.usb"), 0x10000, 1000, "USB", "usb");
    WriteImageSetFile({{"MTY", "0"}});
    MakeDialog();
    Check("m_crcCheck")->setChecked(true);
    prompt_.AnswerYes(true);
    uint32_t crc = 0;
    ASSERT_TRUE(VARKO_FileCrc32(loader.c_str(), &crc));

    BrowserChooses(File("loader"));
    EXPECT_EQ(PressBoot(), Texts{kAskFiles});
    EXPECT_STREQ(dialog_->Core().Images().BOOTLOADERFILE, loader.c_str());
    EXPECT_STREQ(dialog_->Core().Images().BOOTADDRESS, "20000");
    EXPECT_EQ(dialog_->Core().Images().BOOTCHECK, 1);
    char crcText[16];
    std::snprintf(crcText, sizeof crcText, "%x", crc);
    EXPECT_EQ(Shown("boot"), (RowShown{true, true, "BL", "20000", crcText}));
    EXPECT_FALSE(Edit("m_bootAddressEdit")->isVisibleTo(dialog_.get()));  // kept, not shown
    EXPECT_STREQ(dialog_->Core().Images().USBFILE, File("loader/usbboot.usb").c_str());

    MakeImage(loader, 0x20000, 3000, "BL", "Mbn");
    EXPECT_EQ(PressBoot(), (Texts{kAskFiles, kNoTarget}));
    EXPECT_EQ(dialog_->Core().Images().BOOTCHECK, 0);
    EXPECT_EQ(Shown("boot").ticked, false);
    EXPECT_EQ(Shown("boot").usable, false);
    EXPECT_STREQ(dialog_->Core().Images().BOOTKIND, "");
    EXPECT_EQ(Shown("usb").ticked, true);  // the Usb steps ran all the same
}

TEST_F(UiBootChainTest, CancellingTheBrowserAsksAboutTheStoredFolderOnly) {
    MakeChain("chain");
    WriteImageSetFile({{"MTY", "2"}});
    MakeDialog();
    BrowserChooses(std::nullopt);
    EXPECT_EQ(PressBoot(), Texts{});  // no folder at all: nothing to ask about

    WriteImageSetFile({{"MTY", "2"}, {"BOOTFILE", File("chain")}});
    MakeDialog();
    EXPECT_EQ(PressBoot(), Texts{kAskFiles});  // answered No
    EXPECT_STREQ(dialog_->Core().Images().BOOTFILE, File("chain").c_str());
    EXPECT_EQ(Shown("boot").ticked || Shown("boot").usable, false);
    EXPECT_EQ(Shown("usb").ticked || Shown("usb").usable, false);

    prompt_.AnswerYes(true);
    EXPECT_EQ(PressBoot(), Texts{kAskFiles});
    EXPECT_EQ(Shown("boot"), (RowShown{true, true, "K5", "", ""}));
}

TEST_F(UiBootChainTest, ABootFolderWhoseFilesWouldNotFitIsRefused) {
    // A folder of 250 characters: it fits, "/qcsblhd_cfgdata.mbn" after it does not.
    const size_t length = 250 - dir_.path().size() - 1;
    const std::string deep =
        std::string(length / 2, 'a') + "/" + std::string(length - length / 2 - 1, 'b');
    MakeChain(deep);
    ASSERT_EQ(File(deep).size(), 250u);
    WriteImageSetFile({{"MTY", "2"}});
    MakeDialog();
    prompt_.AnswerYes(true);
    BrowserChooses(File(deep));
    EXPECT_EQ(PressBoot(), Texts{"The path is longer than 260 characters and cannot be used:\n" +
                                 File(deep) + "/qcsblhd_cfgdata.mbn"});
    EXPECT_STREQ(dialog_->Core().Images().BOOTFILE, "");
    EXPECT_STREQ(dialog_->Core().Images().bootChain[kChainQcsblHd].path, "");
}

TEST_F(UiBootChainTest, SwitchingTheModemTypeLeavesEveryRowUntickedAndNoBootFolder) {
    MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
    MakeImage(File("res.rc1"), 0x800000, 2048, "R1", "rc1");
    MakeChain("chain");
    WriteImageSetFile({{"MTY", "0"},
                       {"BOOTFILE", File("chain")},
                       {"BOOTLOADERFILE", File("chain/pbl.mbn")},
                       {"CODECHECK", "1"},
                       {"CODEKIND", "MDM"},
                       {"CODEFILE", File("modem.bin")},
                       {"FONTCHECK", "1"},
                       {"FONTFILE", File("res.rc1")}});
    MakeDialog();
    ASSERT_TRUE(Check("m_modemCheck")->isChecked());

    for (const char* radio : {"m_modemType2Radio", "m_modemType1Radio"}) {
        EXPECT_EQ(Click(radio), Texts{}) << radio;
        const bool second = std::string(radio) == "m_modemType2Radio";
        EXPECT_EQ(dialog_->Core().Images().MTY, second ? 2 : 0);
        EXPECT_EQ(Find<QRadioButton>(QStringLiteral("m_modemType2Radio"))->isChecked(), second);
        EXPECT_EQ(Find<QRadioButton>(QStringLiteral("m_modemType1Radio"))->isChecked(), !second);
        for (const char* row : {"boot", "usb", "modem", "rsrc1", "rsrc2", "factoryFs", "fota"}) {
            EXPECT_FALSE(Shown(row).ticked || Shown(row).usable) << radio << " " << row;
        }
        for (const ImageSetSlot& slot : dialog_->Core().Images().rows)
            EXPECT_EQ(slot.check, 0);
        // The folder and the files named after it go, the rows' files stay.
        EXPECT_STREQ(dialog_->Core().Images().BOOTFILE, "");
        EXPECT_STREQ(dialog_->Core().Images().BOOTLOADERFILE, "");
        EXPECT_STREQ(dialog_->Core().Images().bootChain[kChainPbl].path, "");
        EXPECT_STREQ(dialog_->Core().Images().rows[kRowCode].file, File("modem.bin").c_str());
        EXPECT_EQ(Shown("modem").kind, "MDM");
    }
}

TEST_F(UiBootChainTest, BootChangeAnsweredNoLeavesTheRowUsableButUnticked) {
    std::filesystem::create_directories(File("loader"));
    MakeImage(File("loader/BOOT_LOADER.mbn"), 0x20000, 1000, "BL", "mbn");
    WriteImageSetFile({{"MTY", "0"},
                       {"BOOTFILE", File("loader")},
                       {"BOOTLOADERFILE", File("loader/BOOT_LOADER.mbn")}});
    MakeDialog();
    ASSERT_FALSE(Find<QPushButton>(QStringLiteral("m_bootButton"))->isEnabled());

    EXPECT_EQ(Click("m_bootChangeCheck"), Texts{"Change Boot Code ??"});
    EXPECT_EQ(dialog_->Core().Images().BOOTCHECK, 0);
    EXPECT_EQ(Shown("boot"), (RowShown{false, true, "", "", ""}));
    EXPECT_TRUE(Find<QPushButton>(QStringLiteral("m_bootButton"))->isEnabled());
    EXPECT_TRUE(Edit("m_bootPathEdit")->text().isEmpty());
    ASSERT_EQ(dialog_->SaveControlsToSettings(), 1);
    EXPECT_EQ(StoredValue(File("default_3.vrk"), "BOOTCHECK"), "0");

    EXPECT_EQ(Click("m_bootChangeCheck"), Texts{});  // unticked: the row is locked again
    EXPECT_FALSE(Shown("boot").usable);
    EXPECT_FALSE(Find<QPushButton>(QStringLiteral("m_bootButton"))->isEnabled());

    prompt_.AnswerYes(true);
    EXPECT_EQ(Click("m_bootChangeCheck"), Texts{"Change Boot Code ??"});
    EXPECT_EQ(dialog_->Core().Images().BOOTCHECK, 1);
    EXPECT_TRUE(Shown("boot").ticked);
    // No folder is chosen yet: the boot loader of the folder before is not sent.
    prompt_.Clear();
    dialog_->OnDownload();
    EXPECT_EQ(prompt_.Texts(), Texts{"Invalid BootLoader Image !"});
}

TEST_F(UiBootChainTest, FullBinaryTakesAFolderAndItsReleaseUnticksTheRows) {
    MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
    std::filesystem::create_directories(File("binaries"));
    std::filesystem::create_directories(File("stored"));
    WriteImageSetFile(
        {{"CODECHECK", "1"}, {"CODEFILE", File("modem.bin")}, {"BINARYFULLPATH", File("stored")}});
    MakeDialog();
    QCheckBox* full = Check("m_fullBinaryCheck");  // hidden, as nothing shows it

    BrowserChooses(std::nullopt);
    EXPECT_EQ(Click("m_fullBinaryCheck"), Texts{});
    EXPECT_FALSE(full->isChecked());
    BrowserChooses(File("binaries"));
    EXPECT_EQ(Click("m_fullBinaryCheck"), Texts{});
    EXPECT_EQ(browsed_, (Texts{"Select Binary Folder at " + File("stored"),
                               "Select Binary Folder at " + File("stored")}));
    EXPECT_STREQ(dialog_->Core().Images().BINARYFULLPATH, File("binaries").c_str());
    EXPECT_EQ(Edit("m_binaryFolderEdit")->text().toStdString(),
              DownloaderDialog::AbbreviatePath(File("binaries")));

    EXPECT_EQ(Click("m_fullBinaryCheck"), Texts{});
    EXPECT_TRUE(Edit("m_binaryFolderEdit")->text().isEmpty());
    EXPECT_FALSE(Shown("modem").ticked || Shown("modem").usable);
    EXPECT_TRUE(Edit("m_modemPathEdit")->text().isEmpty());
    EXPECT_EQ(dialog_->Core().Images().rows[kRowCode].check, 0);  // as the window shows it
    EXPECT_STREQ(dialog_->Core().Images().rows[kRowCode].file, File("modem.bin").c_str());
    EXPECT_STREQ(dialog_->Core().Images().BINARYFULLPATH, File("binaries").c_str());
}

TEST_F(UiBootChainTest, AFocusedPathShowsInFullOverTheAddressAndCrcColumns) {
    MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
    MakeChain("chain");
    WriteImageSetFile({{"MTY", "2"},
                       {"BOOTFILE", File("chain")},
                       {"CODECHECK", "1"},
                       {"CODEFILE", File("modem.bin")}});
    MakeDialog();
    dialog_->show();
    QApplication::setActiveWindow(dialog_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    const auto visible = [this](const char* name) {
        return Edit(name)->isVisibleTo(dialog_.get());
    };

    for (const std::string row : {"modem", "boot"}) {
        const auto name = [&row](const char* role) { return "m_" + row + role; };
        const std::string full = row == "boot" ? File("chain") : File("modem.bin");
        const bool columnsShown = row != "boot";
        Edit(name("PathEdit").c_str())->setFocus();
        EXPECT_TRUE(visible(name("FullPathEdit").c_str())) << row;
        EXPECT_TRUE(Edit(name("FullPathEdit").c_str())->hasFocus()) << row;
        EXPECT_EQ(Edit(name("FullPathEdit").c_str())->text().toStdString(), full);
        EXPECT_FALSE(visible(name("PathEdit").c_str())) << row;
        EXPECT_FALSE(visible(name("AddressEdit").c_str())) << row;

        Edit("m_imageSetPathEdit")->setFocus();
        EXPECT_FALSE(visible(name("FullPathEdit").c_str())) << row;
        EXPECT_TRUE(visible(name("PathEdit").c_str())) << row;
        EXPECT_EQ(Edit(name("PathEdit").c_str())->text().toStdString(),
                  DownloaderDialog::AbbreviatePath(full));
        EXPECT_EQ(visible(name("AddressEdit").c_str()), columnsShown) << row;
    }
    EXPECT_TRUE(visible("m_crcEdit2"));
    EXPECT_FALSE(visible("m_crcEdit0"));
}

}  // namespace
}  // namespace uitest
