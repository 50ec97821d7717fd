// The image rows' check boxes and buttons with the file dialog replaced:
// which files a row takes, the address and kind from the trailer, the CRC
// shown, and what a refusal leaves.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "config/image_set.h"
#include "engine/crc32.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

using Texts = std::vector<std::string>;
using Dialog = std::pair<std::string, std::string>;
constexpr const char* kNoTrailer = "Error!!\nNot contained MagicCode or Binary_Kind\n";

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// Peak resident memory of this process in KiB (VmHWM), or -1.
long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

class UiImageRowsTest : public DialogTest {
protected:
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(QLatin1String(name)); }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(QLatin1String(name)); }
    // The operator presses button and picks file (nothing = Cancel); the
    // message boxes it brought up.
    Texts Browse(const char* button, std::optional<std::string> file) {
        files_->answer = std::move(file);
        prompt_.Clear();
        Find<QPushButton>(QLatin1String(button))->click();
        return prompt_.Texts();
    }
    Texts Click(const char* check) {
        prompt_.Clear();
        Check(check)->click();
        return prompt_.Texts();
    }
};

TEST_F(UiImageRowsTest, CrcIsShownInLowerCaseHexAndLeftEmptyForAFileThatCannotBeRead) {
    WriteBytes(File("digits.bin"), "123456789");
    WriteBytes(File("empty.rc1"), "");
    std::string blocks(3 * 64 * 1024 + 7, '\0');  // more than one read block
    for (size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<char>(i * 31 + i / 977);
    WriteBytes(File("blocks.ffs"), blocks);
    WriteImageSetFile({{"CODEFILE", File("digits.bin")},
                       {"FONTFILE", File("empty.rc1")},
                       {"ETC1FILE", File("blocks.ffs")}});
    MakeDialog();
    Check("m_crcCheck")->setChecked(true);
    for (const char* row : {"m_modemCheck", "m_rsrc1Check", "m_factoryFsCheck"})
        EXPECT_EQ(Click(row), Texts{kNoTrailer});  // ticked anyway, address "0"

    EXPECT_EQ(Shown("modem"), (RowShown{true, true, "", "0", "cbf43926"}));
    EXPECT_EQ(Shown("rsrc1").crc, "0");
    const auto* bytes = reinterpret_cast<const uint8_t*>(blocks.data());
    EXPECT_EQ(Shown("factoryFs").crc, Hex(VARKO_Crc32(0, bytes, blocks.size())));

    // Gone by the time the row is unticked: no CRC rather than a wrong one.
    std::filesystem::remove(File("blocks.ffs"));
    EXPECT_EQ(Click("m_factoryFsCheck"), Texts{});
    EXPECT_EQ(Shown("factoryFs"), (RowShown{false, true, "", "0", ""}));
    uint32_t crc = 7;
    EXPECT_FALSE(dialog_->Core().FileCrc32(File("blocks.ffs").c_str(), &crc));
    EXPECT_FALSE(dialog_->Core().FileCrc32(dir_.path().c_str(), &crc));  // a folder
    EXPECT_EQ(crc, 7u);
}

TEST_F(UiImageRowsTest, TheModemButtonTakesBinOrBINButNotBin) {
    MakeImage(File("lower.bin"), 0x1a0000, 2048, "MDM", "bin");
    MakeImage(File("upper.bin"), 0x2b0000, 2048, "MDM2", "BIN");
    MakeImage(File("mixed.bin"), 0x3c0000, 2048, "MDM3", "Bin");
    MakeDialog();

    EXPECT_EQ(Browse("m_modemButton", File("lower.bin")), Texts{});
    EXPECT_EQ(files_->imageDialogs, (std::vector<Dialog>{{"Modem Files(*.bin)|*.bin||", "bin"}}));
    EXPECT_EQ(Shown("modem"), (RowShown{true, true, "MDM", "1a0000", "0"}));  // CRC option off
    EXPECT_EQ(Browse("m_modemButton", File("upper.bin")), Texts{});
    EXPECT_EQ(Shown("modem"), (RowShown{true, true, "MDM2", "2b0000", "0"}));

    EXPECT_EQ(Browse("m_modemButton", File("mixed.bin")), Texts{});
    // Refused: address and CRC keep their texts, but the row cannot be ticked.
    EXPECT_EQ(Shown("modem"), (RowShown{false, false, "", "2b0000", "0"}));
    const ImageSetSlot& code = dialog_->Core().Images().rows[kRowCode];
    EXPECT_EQ(code.check, 0);
    EXPECT_STREQ(code.file, File("mixed.bin").c_str());
    EXPECT_EQ(Edit("m_modemPathEdit")->text().toStdString(),
              DownloaderDialog::AbbreviatePath(File("mixed.bin")));

    EXPECT_EQ(Browse("m_modemButton", std::nullopt), Texts{});  // Cancel changes nothing
    EXPECT_STREQ(code.file, File("mixed.bin").c_str());
}

TEST_F(UiImageRowsTest, AnImageOfAnotherRowOrWithoutTrailerIsNotTaken) {
    MakeImage(File("res.rc1"), 0x800000, 2048, "R1", "rc1");
    MakeImage(File("good.ffs"), 0xa00000, 2048, "FS", "ffs");
    // No magic, but "ffs" where a trailer keeps its type text.
    std::string bare(4096, '\0');
    bare.replace(bare.size() - 1024 + 44, 3, "ffs");
    WriteBytes(File("bare.ffs"), bare);
    WriteBytes(File("short.ffs"), "tiny");
    MakeDialog();
    Check("m_crcCheck")->setChecked(true);

    EXPECT_EQ(Browse("m_modemButton", File("res.rc1")), Texts{});  // no message
    EXPECT_EQ(Shown("modem"), (RowShown{false, false, "", "", ""}));
    EXPECT_EQ(dialog_->Core().Images().rows[kRowCode].check, 0);

    EXPECT_EQ(Browse("m_factoryFsButton", File("good.ffs")), Texts{});
    EXPECT_EQ(files_->imageDialogs.back(), (Dialog{"FactoryFS Files(*.ffs)|*.ffs||", "ffs"}));
    const std::string goodCrc = Shown("factoryFs").crc;
    ASSERT_EQ(Shown("factoryFs"), (RowShown{true, true, "FS", "a00000", goodCrc}));
    // Neither the file's own bytes nor the trailer of the file before count.
    for (const char* file : {"bare.ffs", "short.ffs"}) {
        EXPECT_EQ(Browse("m_factoryFsButton", File(file)), Texts{kNoTrailer}) << file;
        EXPECT_EQ(Shown("factoryFs"), (RowShown{false, false, "", "a00000", goodCrc})) << file;
        EXPECT_EQ(dialog_->Core().Images().rows[kRowEtc1].check, 0) << file;
        EXPECT_STREQ(dialog_->Core().Images().rows[kRowEtc1].kind, "") << file;
    }
}

TEST_F(UiImageRowsTest, CheckBoxesReadTheTrailerOnlyForTheTwoModemTypes) {
    MakeImage(File("modem.bin"), 0x1a0000, 3000, "MDM", "bin");
    WriteBytes(File("bare.rc1"), std::string(2048, 'x'));
    WriteImageSetFile({{"MTY", "0"},
                       {"CODECHECK", "1"},
                       {"CODEKIND", "MDM"},
                       {"CODEFILE", File("modem.bin")},
                       {"CODEADDRESS", "123"},
                       {"FONTFILE", File("bare.rc1")}});
    MakeDialog();
    Check("m_crcCheck")->setChecked(true);
    uint32_t crc = 0;
    ASSERT_TRUE(VARKO_FileCrc32(File("modem.bin").c_str(), &crc));

    // Unticking still shows the CRC, and "0" as the address.
    EXPECT_EQ(Click("m_modemCheck"), Texts{});
    EXPECT_EQ(Shown("modem"), (RowShown{false, true, "MDM", "0", Hex(crc)}));
    EXPECT_FALSE(Edit("m_modemAddressEdit")->isEnabled());
    EXPECT_EQ(dialog_->Core().Images().rows[kRowCode].check, 0);
    EXPECT_STREQ(dialog_->Core().Images().rows[kRowCode].address, "0");
    EXPECT_EQ(Click("m_modemCheck"), Texts{});
    EXPECT_EQ(Shown("modem"), (RowShown{true, true, "MDM", "1a0000", Hex(crc)}));
    EXPECT_TRUE(Edit("m_modemAddressEdit")->isEnabled());

    // A file without a trailer: the reader's message, "0", still ticked.
    EXPECT_EQ(Click("m_rsrc1Check"), Texts{kNoTrailer});
    EXPECT_EQ(Shown("rsrc1").address, "0");
    EXPECT_EQ(dialog_->Core().Images().rows[kRowFont].check, 1);

    // Modem type 1 (only a hand-edited set holds it) reads no trailer at all.
    WriteImageSetFile({{"MTY", "1"}, {"FONTFILE", File("bare.rc1")}});
    MakeDialog();
    EXPECT_EQ(Click("m_rsrc1Check"), Texts{});
    EXPECT_EQ(Shown("rsrc1"), (RowShown{true, true, "", "0", ""}));
    EXPECT_EQ(dialog_->Core().Images().rows[kRowFont].check, 1);
}

TEST_F(UiImageRowsTest, UsbQuestionsDecideTheTickAndNoStillTakesTheFile) {
    MakeImage(File("old.usb"), 0x100, 2048, "OLD", "usb");
    MakeImage(File("new.usb"), 0x200, 2048, "NEW", "usb");
    WriteImageSetFile({{"USBFILE", File("old.usb")}, {"USBKIND", "OLD"}, {"USBADDRESS", "100"}});
    MakeDialog();
    const ImageSet& set = dialog_->Core().Images();

    files_->answer = File("new.usb");
    dialog_->OnUsbBrowse();  // the Usb row is hidden: no button to press
    EXPECT_EQ(prompt_.Texts(), Texts{"Change USB Code ??"});
    EXPECT_EQ(files_->imageDialogs, (std::vector<Dialog>{{"Usbboot Files(*.usb)|*.usb||", "usb"}}));
    EXPECT_STREQ(set.USBFILE, File("new.usb").c_str());
    EXPECT_EQ(set.USBCHECK, 0);
    EXPECT_EQ(Shown("usb"), (RowShown{false, false, "OLD", "100", ""}));

    prompt_.AnswerYes(true);
    dialog_->OnUsbBrowse();
    EXPECT_EQ(Shown("usb"), (RowShown{true, true, "NEW", "200", "0"}));
    EXPECT_EQ(set.USBCHECK, 1);

    // Its check box asks too, and only when it ticks the row.
    prompt_.AnswerYes(false);
    EXPECT_EQ(Click("m_usbCheck"), Texts{});
    EXPECT_EQ(Click("m_usbCheck"), Texts{"Change Usb Code ??"});
    EXPECT_EQ(Shown("usb"), (RowShown{false, true, "NEW", "0", ""}));
    EXPECT_EQ(set.USBCHECK, 0);
}

TEST_F(UiImageRowsTest, APathTooLongForTheImageSetIsRefusedWhole) {
    MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
    const std::string deep = File(std::string(150, 'a')) + "/" + std::string(150, 'b');
    std::filesystem::create_directories(deep);
    const std::string far = deep + "/modem.bin";
    MakeImage(far, 0x2b0000, 2048, "FAR", "bin");
    MakeDialog();
    ASSERT_EQ(Browse("m_modemButton", File("modem.bin")), Texts{});

    EXPECT_EQ(Browse("m_modemButton", far),
              Texts{"The path is longer than 260 characters and cannot be used:\n" + far});
    EXPECT_STREQ(dialog_->Core().Images().rows[kRowCode].file, File("modem.bin").c_str());
    EXPECT_EQ(Shown("modem"), (RowShown{true, true, "MDM", "1a0000", "0"}));
}

TEST_F(UiImageRowsTest, TheCrcOfA300MiBImageIsReadWithFlatMemory) {
    const std::string huge = File("huge.bin");
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, 300ull << 20);  // sparse: no disk, no page cache to fill
    MakeDialog();
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak count where possible
    const long before = PeakRssKiB();
    uint32_t crc = 0;
    ASSERT_TRUE(dialog_->Core().FileCrc32(huge.c_str(), &crc));
    const long growth = PeakRssKiB() - before;
    std::cout << "[ measured ] FileCrc32 of 300 MiB: peak resident memory grew by " << growth
              << " KiB\n";
    ASSERT_GE(before, 0);
    EXPECT_LT(growth, 4096);
    uint32_t expected = 0;
    ASSERT_TRUE(VARKO_FileCrc32(huge.c_str(), &expected));
    EXPECT_EQ(crc, expected);
}

}  // namespace
}  // namespace uitest
