// The Download command's checks (in their order, with their messages, and
// what reaches the image table), and how the engine's notifications show on
// the progress bars, the status line and the log.
#include <sys/stat.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <cstring>
#include <filesystem>

#include "config/image_set.h"
#include "controls/qt/text_progress_ctrl.h"
#include "engine/session.h"
#include "link/notify.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

using Texts = std::vector<std::string>;

class UiDownloadCommandTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        std::filesystem::create_directories(File("boot"));
        MakeImage(File("modem.bin"), 0x1a0000, 2048, "MDM", "bin");
        MakeImage(File("res.rc1"), 0x800000, 2048, "R1", "rc1");
        MakeImage(File("res.rc2"), 0x900000, 2048, "R2", "rc2");
        MakeImage(File("boot/secdload.usb"), 0x100, 2048, "USB", "usb");
    }
    void MakeStation(const std::string& modemType, const Keys& extra = {}) {
        Keys keys = {{"MTY", modemType},
                     {"BOOTFILE", File("boot")},
                     {"USBFILE", File("boot/secdload.usb")},
                     {"USBADDRESS", "100"},
                     {"CODEFILE", File("modem.bin")},
                     {"CODEADDRESS", "1a0000"},
                     {"FONTFILE", File("res.rc1")},
                     {"FONTADDRESS", "800000"},
                     {"DATAFILE", File("res.rc2")},
                     {"DATAADDRESS", "900000"}};
        keys.insert(keys.end(), extra.begin(), extra.end());
        WriteImageSetFile(keys);
        MakeDialog();
    }
    void Tick(const char* box, bool on = true) {
        Find<QCheckBox>(QLatin1String(box))->setChecked(on);
    }
    void SetText(const char* edit, const char* text) {
        Find<QLineEdit>(QLatin1String(edit))->setText(QLatin1String(text));
    }
    // The message boxes one press of Download shows.
    Texts Press() {
        prompt_.Clear();
        dialog_->OnDownload();
        return prompt_.Texts();
    }
    static std::string SlotPath(int slot) { return g_imageTable[0][slot].path; }
};

TEST_F(UiDownloadCommandTest, NothingChosenAsksForAnImage) {
    MakeStation("0");
    EXPECT_EQ(Press(), Texts{"Select Image !"});
    Tick("m_fotaCheck");  // FOTA is never downloaded: it does not count
    EXPECT_EQ(Press(), Texts{"Select Image !"});
}

TEST_F(UiDownloadCommandTest, BootWithoutAModemPlatformNeedsOnlyTheUsbImage) {
    MakeStation("1");
    Tick("m_bootCheck");
    SetText("m_usbAddressEdit", "2F00");
    EXPECT_EQ(Press(), Texts{});
    EXPECT_EQ(SlotPath(7), File("boot/secdload.usb"));
    EXPECT_EQ(g_imageTable[5][7].address, 0x2F00u);
    EXPECT_STREQ(dialog_->Core().Images().USBADDRESS, "2F00");  // the edit's text is kept
    for (int slot = 0; slot < 7; ++slot)
        EXPECT_EQ(SlotPath(slot), "") << slot;
}

TEST_F(UiDownloadCommandTest, AMissingUsbImageStopsEvenWithCompleteRows) {
    MakeStation("1", {{"CODECHECK", "1"}});
    Tick("m_bootCheck");
    SetText("m_usbAddressEdit", "");
    EXPECT_EQ(Press(), Texts{"Invalid Usb Image/Address !"});
    EXPECT_EQ(SlotPath(8), "");  // the Modem row was not reached

    dialog_->Core().Images().USBFILE[0] = '\0';
    SetText("m_usbAddressEdit", "100");
    EXPECT_EQ(Press(), Texts{"Invalid Usb Image/Address !"});
}

TEST_F(UiDownloadCommandTest, EachRowNeedsItsFileAndAnAddress) {
    MakeStation("0", {{"CODECHECK", "1"}});
    SetText("m_modemAddressEdit", "");
    EXPECT_EQ(Press(), Texts{"Invalid Modem Image/Address !"});

    SetText("m_modemAddressEdit", "1A0000");
    Tick("m_rsrc1Check");
    Tick("m_rsrc2Check");
    SetText("m_rsrc1AddressEdit", "");
    SetText("m_rsrc2AddressEdit", "");
    EXPECT_EQ(Press(), Texts{"Invalid Rsrc1 Image/Address !"});  // the first failure only
    SetText("m_rsrc1AddressEdit", "800000");
    EXPECT_EQ(Press(), Texts{"Invalid Rsrc2 Image/Address !"});

    Tick("m_rsrc2Check", false);
    Tick("m_factoryFsCheck");  // no FactoryFS file in the set
    SetText("m_factoryFsAddressEdit", "a00000");
    EXPECT_EQ(Press(), Texts{"Invalid FileSys Image/Address !"});

    Tick("m_factoryFsCheck", false);
    EXPECT_EQ(Press(), Texts{});
    EXPECT_EQ(SlotPath(8), File("modem.bin"));
    EXPECT_EQ(g_imageTable[3][8].address, 0x1A0000u);
    EXPECT_EQ(SlotPath(9), File("res.rc1"));
    EXPECT_EQ(SlotPath(10), "");
    EXPECT_STREQ(dialog_->Core().Images().rows[kRowCode].address, "1A0000");
}

TEST_F(UiDownloadCommandTest, ARowPast4GiBOrWhoseFileIsNoImageShowsItsMessage) {
    MakeStation("0", {{"CODECHECK", "1"}});  // modem.bin: one block
    SetText("m_modemAddressEdit", "FFFFC001");
    EXPECT_EQ(Press(), Texts{"Invalid Modem Image/Address !"});  // would wrap to 0
    SetText("m_modemAddressEdit", "FFFFC000");
    EXPECT_EQ(Press(), Texts{});

    std::filesystem::remove(File("modem.bin"));
    ASSERT_EQ(::mkfifo(File("modem.bin").c_str(), 0600), 0);
    EXPECT_EQ(Press(), Texts{"Invalid Modem Image/Address !"});  // and no hang
}

TEST_F(UiDownloadCommandTest, TheBootChainIsCheckedFirstFileByFile) {
    // Type 2: the chain paths come from the boot folder; the chain files'
    // addresses as stored ("zz" is no address at all).
    MakeStation("2", {{"CODECHECK", "1"},
                      {"PBLADDRESS", "0"},
                      {"QCSBLHDADDRESS", "4000"},
                      {"MIBIB1ADDRESS", "zz"},
                      {"MIBIB2ADDRESS", "c000"},
                      {"QCSBLADDRESS", "10000"},
                      {"OEMSBLADDRESS", "20000"}});
    Tick("m_bootCheck");
    SetText("m_usbAddressEdit", "");
    SetText("m_modemAddressEdit", "");
    EXPECT_EQ(Press(), Texts{"Invalid Mibib1 Image !"});  // not skipped, never sent
    EXPECT_EQ(SlotPath(0), File("boot") + "/pbl.mbn");
    EXPECT_EQ(SlotPath(2), "");

    dialog_->Core().Images().bootChain[kChainPbl].path[0] = '\0';
    EXPECT_EQ(Press(), Texts{"Invalid Pbl Image !"});

    // Type 0: the boot loader file alone.
    MakeStation("0", {{"BOOTLOADERFILE", ""}});
    Tick("m_bootCheck");
    EXPECT_EQ(Press(), Texts{"Invalid BootLoader Image !"});
}

class UiNotifyTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        MakeDialog();
    }
    ImageEntry Entry(int channel, int kind, uint32_t sent, uint32_t size) {
        ImageEntry e{};
        e.kind = kind;
        e.channel = channel;
        e.bytesSent = sent;
        e.size = size;
        return e;
    }
    void Progress(const ImageEntry& e) { dialog_->OnNotify(NOTIFY_PROGRESS, &e); }
    void ChannelText(int channel, const char* text) {
        ImageEntry record{};
        record.channel = channel;
        std::strncpy(record.path, text, sizeof record.path - 1);
        EXPECT_EQ(dialog_->OnNotify(NOTIFY_CHANNEL_TEXT, &record), 0);
    }
    TextProgressCtrl* Bar(int channel) {
        return Find<TextProgressCtrl>(QStringLiteral("m_progress%1").arg(channel));
    }
    QString LogEditText() {
        return Find<QPlainTextEdit>(QStringLiteral("m_statusLogEdit"))->toPlainText();
    }
};

TEST_F(UiNotifyTest, DoneShowsOnceThenThePercentageFormResetsTheLatch) {
    Progress(Entry(2, 8, 500, 1000));
    EXPECT_EQ(ProgressText(2), QStringLiteral("Modem: 50% [500/1000]"));
    EXPECT_EQ(Bar(2)->GetPos(), 500);

    Progress(Entry(2, 8, 1000, 1000));
    EXPECT_EQ(ProgressText(2), QStringLiteral("Done"));
    EXPECT_EQ(Bar(2)->GetPos(), 100);
    EXPECT_TRUE(dialog_->Core().DoneShown(2));

    // Each channel has its own latch: another channel's first one is Done.
    Progress(Entry(5, 9, 2048, 2048));
    EXPECT_EQ(ProgressText(5), QStringLiteral("Done"));
    // A second one in a row on the same channel takes the percentage form.
    Progress(Entry(5, 9, 2048, 2048));
    EXPECT_EQ(ProgressText(5), QStringLiteral("Rsrc1: 100% [2048/2048]"));
    EXPECT_FALSE(dialog_->Core().DoneShown(5));
    EXPECT_TRUE(dialog_->Core().DoneShown(2));
    Progress(Entry(5, 9, 2048, 2048));
    EXPECT_EQ(ProgressText(5), QStringLiteral("Done"));
}

TEST_F(UiNotifyTest, PercentagesNeitherOverflowNorDivideByZero) {
    Progress(Entry(0, 11, 4000000000u, 4294967295u));
    EXPECT_EQ(ProgressText(0), QStringLiteral("FileSys: 93% [4000000000/4294967295]"));
    EXPECT_GE(Bar(0)->GetPos(), 0);

    // An empty image is done, whether or not the latch is set.
    Progress(Entry(1, 8, 0, 0));
    EXPECT_EQ(ProgressText(1), QStringLiteral("Done"));
    ASSERT_TRUE(dialog_->Core().DoneShown(1));
    Progress(Entry(1, 8, 0, 0));
    EXPECT_EQ(ProgressText(1), QStringLiteral("Done"));

    // Entries naming no channel or no slot are refused or shown nameless.
    Progress(Entry(8, 8, 1, 2));
    Progress(Entry(-1, 8, 1, 2));
    Progress(Entry(3, 40, 1, 2));
    EXPECT_EQ(ProgressText(3), QStringLiteral(": 50% [1/2]"));
    dialog_->OnNotify(NOTIFY_PROGRESS, nullptr);
}

TEST_F(UiNotifyTest, ChannelTextsGoToTheBarAndTheLogWhichEachStartClears) {
    ChannelText(1, "CH1 Modem 2.0KB OK! [0.1 sec]");
    ChannelText(3, "CH3 Download Start");
    EXPECT_EQ(ProgressText(3), QStringLiteral("CH3 Download Start"));
    EXPECT_EQ(dialog_->StatusLog(), "\r\nCH3 Download Start\r\n");

    ChannelText(3, "Erase Flash");
    EXPECT_EQ(ProgressText(3), QStringLiteral("Erase Flash"));
    EXPECT_EQ(Bar(3)->GetPos(), 0);
    ChannelText(3, "CH3 Modem 2.0KB OK! [0.1 sec]");
    ChannelText(3, "");  // ignored
    EXPECT_EQ(ProgressText(3), QStringLiteral("CH3 Modem 2.0KB OK! [0.1 sec]"));
    EXPECT_EQ(dialog_->StatusLog(), "\r\nCH3 Download Start\r\nCH3 Modem 2.0KB OK! [0.1 sec]\r\n");
    EXPECT_EQ(LogEditText(),
              QStringLiteral("\nCH3 Download Start\nCH3 Modem 2.0KB OK! [0.1 sec]\n"));

    dialog_->OnNotify(NOTIFY_STATUS, "SERIAL_DEVICE_Open(COM4) Failed!");
    EXPECT_EQ(StatusText(), QStringLiteral("SERIAL_DEVICE_Open(COM4) Failed!"));
    EXPECT_EQ(dialog_->OnNotify(99, "ignored"), 0);
    EXPECT_EQ(StatusText(), QStringLiteral("SERIAL_DEVICE_Open(COM4) Failed!"));
}

TEST_F(UiNotifyTest, TheLogKeepsEveryLineAndShowsItsEnd) {
    dialog_->show();
    ChannelText(0, "CH0 Download Start");
    for (int i = 0; i < 500; ++i)
        ChannelText(i % 8, qPrintable(QStringLiteral("CH%1 ERR: [%2,0]").arg(i % 8).arg(i)));
    EXPECT_EQ(std::count(dialog_->StatusLog().begin(), dialog_->StatusLog().end(), '\n'), 502);
    EXPECT_TRUE(LogEditText().endsWith(QStringLiteral("CH3 ERR: [499,0]\n")));
    const QScrollBar* scroll =
        Find<QPlainTextEdit>(QStringLiteral("m_statusLogEdit"))->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
}

}  // namespace
}  // namespace uitest
