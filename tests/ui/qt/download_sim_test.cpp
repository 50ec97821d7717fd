// Whole downloads pressed in the window against simulated handsets in the
// same process: the ports come from the port map the simulator pins, the
// bytes are read back from the handsets' flash.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "config/image_set.h"
#include "config/settings.h"
#include "controls/qt/folder_browser.h"
#include "engine/session.h"
#include "sim/simulator.h"
#include "tests/ui/qt/dialog_fixture.h"

namespace uitest {
namespace {

constexpr uint32_t kModemAddress = 0x1a0000;
constexpr uint32_t kRsrc1Address = 0x800000;
constexpr int kWatchdogMs = 90000;

class UiSimDownloadTest : public DialogTest {
protected:
    void TearDown() override {
        FolderBrowser::SetDialogRunner({});
        DialogTest::TearDown();
        sim_.reset();
    }

    void StartSimulator(int handsets, uint32_t baud) {
        sim::SimOptions options;
        options.channels = handsets;
        options.dir = dir_.path();
        options.firstPort = 1;
        options.baud = baud;
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }

    // A Modem image with its address left to the trailer and an Rsrc1 image
    // with a stored address; ports found automatically unless the settings
    // say otherwise.
    void PrepareStation(size_t modemSize, size_t rsrc1Size,
                        const Keys& settings = {{"AUTODETECT", "1"}, {"DELAY", "0"}}) {
        modem_ = MakeImage(File("modem.bin"), kModemAddress, modemSize, "MDM", "bin", 7);
        rsrc1_ = MakeImage(File("res.rc1"), kRsrc1Address, rsrc1Size, "R1", "rc1", 9);
        WriteSettingsFile(settings);
        Keys set = {{"CODECHECK", "1"}, {"CODEFILE", File("modem.bin")}};
        if (rsrc1Size > 0) {
            set.insert(
                set.end(),
                {{"FONTCHECK", "1"}, {"FONTFILE", File("res.rc1")}, {"FONTADDRESS", "800000"}});
        }
        WriteImageSetFile(set);
        systemPorts_ = true;
        MakeDialog();
    }

    // Presses Download; a watchdog stops every channel should the session
    // not end by itself.
    void RunDownload() {
        bool fired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&fired] {
            fired = true;
            for (int ch = 0; ch < 8; ++ch)
                VARKO_StopChannel(ch);
        });
        watchdog.start(kWatchdogMs);
        Find<QPushButton>(QStringLiteral("m_downloadButton"))->click();
        EXPECT_FALSE(fired) << "the session had to be stopped by the watchdog";
    }

    std::vector<uint8_t> Flash(int handset, uint32_t address, size_t length) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(sim_->Handset(handset).ReadFlash(address, length, &bytes))
            << "handset " << handset << " holds nothing at " << address;
        return bytes;
    }

    void Click(const char* button) { Find<QAbstractButton>(QLatin1String(button))->click(); }

    size_t Count(const std::string& text) const {
        const auto texts = prompt_.Texts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }

    std::unique_ptr<sim::Simulator> sim_;
    std::vector<uint8_t> modem_;
    std::vector<uint8_t> rsrc1_;
};

TEST_F(UiSimDownloadTest, ThreeChannelsWriteEveryImageByteForByte) {
    StartSimulator(3, 0);
    PrepareStation(96 * 1024 + 123, 40 * 1024);
    for (int ch = 0; ch < 3; ++ch)
        ASSERT_EQ(dialog_->ChannelPort(ch), ch + 1) << "the search found the handsets' ports";
    EXPECT_EQ(Find<QLineEdit>(QStringLiteral("m_modemAddressEdit"))->text(),
              QStringLiteral("1a0000"));  // from the trailer

    RunDownload();

    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>(3, "Download Completed!!"));
    const std::string& log = dialog_->StatusLog();
    EXPECT_EQ(log.find("Erase Flash"), std::string::npos);
    for (int ch = 0; ch < 3; ++ch) {
        const std::string prefix = "CH" + std::to_string(ch);
        EXPECT_TRUE(
            ProgressText(ch).startsWith(QString::fromStdString(prefix + " All file Complete! [")))
            << ProgressText(ch).toStdString();
        EXPECT_NE(log.find(prefix + " Modem 98.4KB OK! ["), std::string::npos) << log;
        EXPECT_NE(log.find(prefix + " Rsrc1 41.0KB OK! ["), std::string::npos) << log;
        EXPECT_NE(log.find(prefix + " All file Complete! ["), std::string::npos) << log;
        EXPECT_EQ(Flash(ch, kModemAddress, modem_.size()), modem_) << prefix;
        EXPECT_EQ(Flash(ch, kRsrc1Address, rsrc1_.size()), rsrc1_) << prefix;
        // The go is not waited for by the host: give the handset time to take it.
        EXPECT_TRUE(sim_->Handset(ch).WaitUntil(
            [](const sim::HandsetStats& s) { return s.gos == 1; }, std::chrono::seconds(10)));
    }
    EXPECT_EQ(dialog_->Busy(), 0);
    EXPECT_FALSE(dialog_->SessionRunning());
    EXPECT_FALSE(DownloadEnabled());  // until a port event or a search
}

// The operator's whole way: the boot chain, the Modem and the Rsrc1 image
// chosen in the window, the set saved, the window closed and opened again,
// the set loaded, the boot chain confirmed anew (a stored set never ticks
// it), and a download whose flash is compared with the chosen files.
TEST_F(UiSimDownloadTest, ImagesChosenInTheWindowReachEveryHandsetAfterSaveAndLoad) {
    StartSimulator(3, 0);
    std::vector<std::pair<std::string, uint32_t>> images;  // file, trailer address
    const auto image = [&](const std::string& file, uint32_t address, size_t size,
                           const char* type) {
        MakeImage(File(file), address, size, "KV", type, static_cast<unsigned>(images.size()));
        images.emplace_back(File(file), address);
    };
    std::filesystem::create_directories(File("boot"));
    for (int i = 0; i < kBootChainCount; ++i)
        image(std::string("boot") + BootChainFileName(i), 0x100000u * (i + 1), 6000 + 100 * i,
              "mbn");
    image("boot/secdload.usb", 0x80000, 5000, "usb");
    image("modem.bin", kModemAddress, 50 * 1024 + 3, "bin");
    image("res.rc1", kRsrc1Address, 20 * 1024, "rc1");
    WriteSettingsFile({{"AUTODETECT", "1"}, {"DELAY", "0"}});
    std::ofstream(File("station.vrk")).close();  // Save As replaces an existing set
    systemPorts_ = true;
    MakeDialog();
    prompt_.AnswerYes(true);
    FolderBrowser::SetDialogRunner([this](QFileDialog& dialog) {
        dialog.setDirectory(QString::fromStdString(File("boot")));
        static_cast<QDialog&>(dialog).accept();
        return dialog.result();
    });
    const auto confirmBootChain = [this] {
        Click("m_bootChangeCheck");
        Click("m_bootButton");
    };

    Click("m_modemType2Radio");
    confirmBootChain();
    files_->answer = File("modem.bin");
    Click("m_modemButton");
    files_->answer = File("res.rc1");
    Click("m_rsrc1Button");
    files_->answer = File("station.vrk");
    Click("m_saveAsButton");
    ASSERT_EQ(prompt_.Texts(),
              (std::vector<std::string>{"Change Boot Code ??", "Change Boot files ??"}));
    ASSERT_EQ(StoredValue(File("station.vrk"), "OEMSBLADDRESS"), "600000");

    DestroyDialog();
    MakeDialog();
    files_->answer = File("station.vrk");
    Click("m_loadButton");
    ASSERT_TRUE(Find<QCheckBox>(QStringLiteral("m_modemCheck"))->isChecked());
    ASSERT_FALSE(Find<QCheckBox>(QStringLiteral("m_bootCheck"))->isChecked());
    confirmBootChain();
    Click("m_portSearchButton");  // the Load released the automatic ports
    ASSERT_EQ(dialog_->ChannelPort(2), 3);
    prompt_.Clear();
    RunDownload();

    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>(3, "Download Completed!!"));
    for (int ch = 0; ch < 3; ++ch) {
        for (const auto& [file, address] : images) {
            const std::vector<uint8_t> bytes = ReadBytes(file);
            EXPECT_EQ(Flash(ch, address, bytes.size()), bytes) << "CH" << ch << " " << file;
        }
    }
}

TEST_F(UiSimDownloadTest, ARemovalDuringTheDownloadStopsThatChannelAlone) {
    StartSimulator(3, 1382400);
    PrepareStation(256 * 1024, 0);
    // Once CH1 is writing its Modem image, its port goes away.
    bool removed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!removed && ProgressText(1).startsWith(QStringLiteral("Modem: "))) {
            removed = true;
            dialog_->OnDeviceChange(Removal(2));
        }
    });
    watch.start(5);
    RunDownload();
    watch.stop();

    ASSERT_TRUE(removed);
    EXPECT_TRUE(ProgressText(1).startsWith(QStringLiteral("CH1 ERR: [")))
        << ProgressText(1).toStdString();
    EXPECT_EQ(Count("Download Completed!!"), 2u);
    for (int ch : {0, 2}) {
        EXPECT_TRUE(ProgressText(ch).startsWith(QStringLiteral("CH%1 All file Complete!").arg(ch)));
        EXPECT_EQ(Flash(ch, kModemAddress, modem_.size()), modem_);
    }
    EXPECT_EQ(dialog_->ChannelPort(1), 0);
    EXPECT_EQ(dialog_->Busy(), 0);
    EXPECT_FALSE(DownloadEnabled());
    EXPECT_EQ(StatusText(), QStringLiteral("Disconnect COM2 Port"));
}

TEST_F(UiSimDownloadTest, APortChosenDuringTheDownloadLeavesTheRunningChannelAlone) {
    StartSimulator(2, 1382400);
    PrepareStation(256 * 1024, 0,
                   {{"AUTODETECT", "0"}, {"DELAY", "0"}, {"CH0_PORT", "1"}, {"CH1_PORT", "2"}});
    ASSERT_EQ(dialog_->ChannelPort(0), 1);
    // Ports chosen by hand stay open to the operator; once CH0 writes, COM5
    // is picked in its box.
    QComboBox* combo = Find<QComboBox>(QStringLiteral("m_portCombo0"));
    bool chosen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (chosen || !ProgressText(0).startsWith(QStringLiteral("Modem: "))) return;
        chosen = true;
        combo->setCurrentIndex(5);
        emit combo->activated(5);
    });
    watch.start(5);
    RunDownload();
    watch.stop();

    ASSERT_TRUE(chosen);
    EXPECT_EQ(dialog_->ChannelPort(0), 1);
    EXPECT_EQ(ComboText(0), QStringLiteral("COM1"));
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_TRUE(ProgressText(ch).startsWith(QStringLiteral("CH%1 All file Complete!").arg(ch)))
            << ProgressText(ch).toStdString();
        EXPECT_EQ(Flash(ch, kModemAddress, modem_.size()), modem_);
    }
}

TEST_F(UiSimDownloadTest, EightChannelsLeaveTheWindowResponsive) {
    StartSimulator(8, 1382400);
    PrepareStation(160 * 1024, 0);
    ASSERT_EQ(dialog_->ChannelPort(7), 8);

    // A timer every 10 ms measures how long the window goes without
    // handling events; a port arriving meanwhile must be handled at once.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    bool arrivalSeenWhileRunning = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++ticks;
        if (ticks == 20) events_->Push(Arrival(20, "kvmodem-late"));
        if (ticks == 30) {
            // Buttons that must not touch a running session.
            Find<QCheckBox>(QStringLiteral("m_autoCheck"))->click();
            Find<QPushButton>(QStringLiteral("m_portSearchButton"))->click();
            dialog_->OnDownload();
        }
        if (StatusText() == QStringLiteral("Detect COM20 Port") && !arrivalSeenWhileRunning) {
            arrivalSeenWhileRunning = dialog_->SessionRunning();
        }
    });
    clock.start();
    tick.start(10);
    RunDownload();
    tick.stop();
    const qint64 total = clock.elapsed();

    std::cout << "[ measured ] 8 channels, 160 KiB each at 1382400 Bd: " << total
              << " ms; longest gap between 10 ms window ticks " << longestGap << " ms over "
              << ticks << " ticks\n";
    EXPECT_EQ(Count("Download Completed!!"), 8u);
    EXPECT_TRUE(arrivalSeenWhileRunning);
    for (int ch = 0; ch < 8; ++ch)
        EXPECT_EQ(dialog_->ChannelPort(ch), ch + 1);  // nothing assigned or released meanwhile
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("m_autoCheck"))->isChecked());
    EXPECT_EQ(dialog_->Core().CurrentSettings().AUTODETECT, 1);
    EXPECT_LT(longestGap, 500);
    EXPECT_GT(ticks, 20);
}

TEST_F(UiSimDownloadTest, ClosingTheWindowDuringADownloadStopsItAndThenCloses) {
    StartSimulator(2, 1382400);
    PrepareStation(512 * 1024, 0);
    dialog_->show();
    QTimer::singleShot(300, dialog_.get(), [this] {
        ASSERT_TRUE(dialog_->SessionRunning());
        dialog_->reject();  // Escape or the close box
        EXPECT_TRUE(dialog_->isVisible()) << "closed under the running session";
    });
    RunDownload();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_FALSE(dialog_->SessionRunning());
    EXPECT_EQ(Count("Download Completed!!"), 0u);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_TRUE(ProgressText(ch).startsWith(QStringLiteral("CH%1 ERR: [").arg(ch)));
    EXPECT_EQ(StoredValue(File("Kelvane_3.ini"), "CH1_PORT"), "2");  // saved on the way out
}

}  // namespace
}  // namespace uitest
