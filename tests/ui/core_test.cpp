// The window core's handlers against a view without a toolkit: ports found
// and followed, the Download command's checks and image table, the close
// during a download, and the notifications on the bars and the log.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "config/settings.h"
#include "engine/session.h"
#include "link/notify.h"
#include "tests/config/config_test_util.h"
#include "tests/ui/fake_view.h"
#include "ui/downloader_core.h"

namespace uitest {
namespace {

using ui::Control;

class ListedPorts : public platform::SerialPortSource {
public:
    explicit ListedPorts(std::vector<platform::SerialPortInfo>* ports) : m_ports(ports) {}
    std::vector<platform::SerialPortInfo> List() override { return *m_ports; }

private:
    std::vector<platform::SerialPortInfo>* m_ports;
};

platform::SerialPortInfo Port(const std::string& name, int com) {
    return {name, com, "/dev/fake" + std::to_string(com)};
}

class UiCoreTest : public ::testing::Test, public platform::NotifyReceiver {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        platform::SetOperatorPrompt(&prompt_);
    }
    void TearDown() override {
        EXPECT_TRUE(view_.questions.empty()) << "a scripted question was never asked";
        core_.reset();
        platform::SetOperatorPrompt(nullptr);
        std::filesystem::current_path(previous_);
    }
    intptr_t Send(unsigned, uintptr_t code, const void* payload) override {
        return core_->OnNotify(code, payload);
    }
    ui::DownloaderCore& Start() {
        core_ = std::make_unique<ui::DownloaderCore>(view_, *this,
                                                     std::make_unique<ListedPorts>(&ports_));
        core_->OnInitDialog();
        return *core_;
    }
    std::vector<int> Held() const {
        std::vector<int> held;
        for (int ch = 0; ch < kChannelCount; ++ch)
            held.push_back(core_->ChannelPort(ch));
        return held;
    }
    void Notify(uintptr_t code, int channel, const char* text, uint32_t size = 0,
                uint32_t sent = 0) {
        ImageEntry entry{};
        entry.kind = 8;
        entry.channel = channel;
        std::strncpy(entry.path, text, sizeof entry.path - 1);
        entry.size = size;
        entry.bytesSent = sent;
        core_->OnNotify(code, &entry);
    }

    testing_support::TempDir dir_;
    std::filesystem::path previous_;
    config_test::RecordingPrompt prompt_;
    std::vector<platform::SerialPortInfo> ports_;
    FakeView view_;
    std::unique_ptr<ui::DownloaderCore> core_;
};

TEST_F(UiCoreTest, PortsAreFoundFollowedAndChosenWithoutDoubles) {
    ports_ = {Port("ttyS0 16550A", 1), Port("kvmodem-a", 5), Port("kvmodem-b", 6)};
    ui::DownloaderCore& core = Start();
    EXPECT_EQ(Held(), (std::vector<int>{5, 6, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(view_.channels[0].selection, 5);
    EXPECT_FALSE(view_.channels[0].portEnabled);
    EXPECT_EQ(view_.channels[1].barText, "Ready...");
    EXPECT_EQ(view_.channels[0].toolTip, "COM5: /dev/fake5 (kvmodem-a)");
    EXPECT_EQ(view_[Control::kStatusText].text, "Detect COM6 Port");
    EXPECT_TRUE(view_[Control::kDownloadButton].enabled);

    core.OnDeviceChange({platform::PortEvent::Kind::kArrival, Port("kvmodem-c", 9)});
    EXPECT_EQ(core.ChannelPort(2), 9);
    core.OnDeviceChange({platform::PortEvent::Kind::kRemoval, Port("", 5)});
    EXPECT_EQ(Held(), (std::vector<int>{0, 6, 9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(view_.channels[0].selection, 0);
    EXPECT_EQ(view_.channels[0].barText, "");
    EXPECT_EQ(view_[Control::kStatusText].text, "Disconnect COM5 Port");
    EXPECT_FALSE(view_[Control::kDownloadButton].enabled);

    // The operator's pick of a port another channel holds is refused.
    view_.channels[3].selection = 6;
    core.OnPortSelected(3);
    EXPECT_EQ(core.ChannelPort(3), 0);
    EXPECT_EQ(view_.channels[3].selection, 0);
    view_.channels[3].selection = 7;
    core.OnPortSelected(3);
    EXPECT_EQ(core.ChannelPort(3), 7);
    EXPECT_TRUE(view_[Control::kDownloadButton].enabled);
}

// A system that names only the port ("COM9") still gives the device behind
// it, and names that are no COM port change nothing.
TEST_F(UiCoreTest, PortEventsByNameFindTheDeviceAndIgnoreOtherNames) {
    ports_ = {Port("kvmodem-a", 5)};
    ui::DownloaderCore& core = Start();
    ports_.push_back(Port("kvmodem-c", 9));
    core.OnDeviceChange(platform::PortEvent::Kind::kArrival, "com9");
    EXPECT_EQ(Held(), (std::vector<int>{5, 9, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(view_.channels[1].toolTip, "COM9: /dev/fake9 (kvmodem-c)");
    for (const char* name : {"LPT1", "COM", "COM0", "COM05", "COM256", "COM1x", "COMMON"}) {
        core.OnDeviceChange(platform::PortEvent::Kind::kRemoval, name);
        EXPECT_EQ(Held(), (std::vector<int>{5, 9, 0, 0, 0, 0, 0, 0})) << name;
    }
    core.OnDeviceChange(platform::PortEvent::Kind::kRemoval, "COM5");
    EXPECT_EQ(Held(), (std::vector<int>{0, 9, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(view_[Control::kStatusText].text, "Disconnect COM5 Port");
}

TEST_F(UiCoreTest, DownloadChecksTheRowsFillsTheTableAndACloseWaitsForTheSession) {
    config_test::MakeImage(dir_.File("modem.bin"), 0x1a0000);
    ui::DownloaderCore& core = Start();
    view_[Control::kModemType1Radio].checked = true;
    core.OnModemType1();
    EXPECT_FALSE(view_[Control::kModemType2Radio].checked);

    core.OnDownload();
    EXPECT_EQ(prompt_.texts, (std::vector<std::string>{"Select Image !"}));

    view_.answers = {dir_.File("modem.bin")};
    core.OnModemBrowse();
    EXPECT_TRUE(view_[Control::kModemCheck].checked);
    EXPECT_EQ(view_[Control::kModemKindEdit].text, "MODEM");
    EXPECT_EQ(view_[Control::kModemAddressEdit].text, "1a0000");
    EXPECT_EQ(view_[Control::kCrcEdit2].text, "0");  // no CRC asked for

    view_[Control::kModemAddressEdit].text.clear();
    core.OnDownload();
    EXPECT_EQ(prompt_.texts.back(), "Invalid Modem Image/Address !");

    // The operator closes the window while the session runs: the close waits
    // for the session's end and then writes the settings.
    view_[Control::kModemAddressEdit].text = "1b0000";
    bool closed = false;
    view_.duringSession = [&] { EXPECT_FALSE(core.OnClose()); };
    view_.onEndDialog = [&] { closed = core.OnClose(); };
    core.OnDownload();
    EXPECT_EQ(g_imageTable[0][8].address, 0x1b0000u);
    EXPECT_STREQ(g_imageTable[7][8].path, dir_.File("modem.bin").c_str());
    EXPECT_EQ(view_.endDialogCalls, 1);
    EXPECT_TRUE(closed);
    EXPECT_EQ(config_test::StoredValue(dir_.File("default_3.vrk"), "CODEADDRESS"), "1b0000");
}

TEST_F(UiCoreTest, NotificationsShowOnTheBarsTheStatusLineAndTheLog) {
    Start();
    Notify(NOTIFY_CHANNEL_TEXT, 2, "CH2 Download Start");
    Notify(NOTIFY_CHANNEL_TEXT, 2, "Erase Flash");  // shown, never logged
    EXPECT_EQ(view_.channels[2].barText, "Erase Flash");
    EXPECT_EQ(view_[Control::kStatusLogEdit].text, "\r\nCH2 Download Start\r\n");

    Notify(NOTIFY_PROGRESS, 2, "", 1000, 500);
    EXPECT_EQ(view_.channels[2].barText, "Modem: 50% [500/1000]");
    EXPECT_EQ(view_.channels[2].upper, 1000);
    EXPECT_EQ(view_.channels[2].pos, 500);
    Notify(NOTIFY_PROGRESS, 2, "", 0xFFFFFFFFu, 0x80000000u);  // past the bar's int range
    EXPECT_EQ(view_.channels[2].upper, INT_MAX);
    EXPECT_EQ(view_.channels[2].pos, 0x40000000);
    Notify(NOTIFY_PROGRESS, 2, "", 1000, 1000);
    EXPECT_EQ(view_.channels[2].barText, "Done");
    EXPECT_EQ(view_.channels[2].pos, 100);
    Notify(NOTIFY_PROGRESS, 3, "", 0, 0);  // an empty image is done at once
    EXPECT_EQ(view_.channels[3].barText, "Done");

    core_->OnNotify(NOTIFY_STATUS, "All file Complete!");
    EXPECT_EQ(view_[Control::kStatusText].text, "All file Complete!");
}

// The core asks its own questions through the view, never through the
// operator prompt, and the answer alone decides the row and the image set.
TEST_F(UiCoreTest, TheCoresQuestionsGoThroughTheViewAndTheAnswerDecides) {
    using Answer = ui::DialogView::Answer;
    struct Case {
        Control clicked;
        void (ui::DownloaderCore::*handler)();
        const char* question;
        Control shown;  // the row check that shows the answer
        int ImageSet::*value;
    };
    const Case cases[] = {
        {Control::kBootCheck, &ui::DownloaderCore::OnBootCheck, "Change Boot Code ??",
         Control::kBootCheck, &ImageSet::BOOTCHECK},
        {Control::kUsbCheck, &ui::DownloaderCore::OnUsbCheck, "Change Usb Code ??",
         Control::kUsbCheck, &ImageSet::USBCHECK},
        {Control::kBootChangeCheck, &ui::DownloaderCore::OnBootChange, "Change Boot Code ??",
         Control::kBootCheck, &ImageSet::BOOTCHECK},
    };
    ui::DownloaderCore& core = Start();
    for (const Case& c : cases) {
        for (const Answer answer : {Answer::kYes, Answer::kNo}) {
            const bool yes = answer == Answer::kYes;
            view_[c.clicked].checked = true;
            view_.questions = {{c.question, answer}};
            (core.*c.handler)();
            EXPECT_TRUE(view_.questions.empty()) << c.question;
            EXPECT_EQ(view_[c.shown].checked, yes) << c.question;
            EXPECT_EQ(core.Images().*c.value, yes ? 1 : 0) << c.question;
        }
    }
    EXPECT_EQ(prompt_.texts, std::vector<std::string>{});
}

// A handler changes the core's settings and image set; the process-wide ones
// and the files get them when the window writes them (here, at the close).
TEST_F(UiCoreTest, HandlersChangeTheCoresModelAndTheFilesGetItWhenWritten) {
    config_test::MakeImage(dir_.File("modem.bin"), 0x1a0000);
    ui::DownloaderCore& core = Start();
    const int autoBefore = g_settings.AUTODETECT;
    const std::string fileBefore = g_imageSet.rows[kRowCode].file;
    ASSERT_EQ(autoBefore, 1);

    view_[Control::kAutoCheck].checked = false;
    core.OnAutoClicked();
    view_.answers = {dir_.File("modem.bin")};
    core.OnModemBrowse();
    EXPECT_EQ(core.CurrentSettings().AUTODETECT, 0);
    EXPECT_STREQ(core.Images().rows[kRowCode].file, dir_.File("modem.bin").c_str());
    EXPECT_EQ(g_settings.AUTODETECT, autoBefore);
    EXPECT_EQ(g_imageSet.rows[kRowCode].file, fileBefore);

    EXPECT_TRUE(core.OnClose());
    EXPECT_EQ(config_test::StoredValue(dir_.File(kSettingsFileName), "AUTODETECT"), "0");
    EXPECT_EQ(config_test::StoredValue(dir_.File(kDefaultImageSetFileName), "CODEFILE"),
              dir_.File("modem.bin"));
    EXPECT_EQ(g_settings.AUTODETECT, 0);
}

// Each channel's bar has its own "Done": one channel's does not turn
// another's into the percentage form, a second one on the same channel does.
TEST_F(UiCoreTest, EachChannelShowsItsOwnDone) {
    Start();
    const struct {
        int channel;
        const char* shown;
    } steps[] = {{2, "Done"},
                 {5, "Done"},
                 {2, "Modem: 100% [1000/1000]"},
                 {5, "Modem: 100% [1000/1000]"},
                 {2, "Done"}};
    for (const auto& step : steps) {
        Notify(NOTIFY_PROGRESS, step.channel, "", 1000, 1000);
        EXPECT_EQ(view_.channels[step.channel].barText, step.shown) << step.channel;
    }
}

// The glue both views share: the focus rule of the full-path display, the
// click routes, the port combos' labels and the notification hand-off.
TEST_F(UiCoreTest, FocusClicksLabelsAndNotificationsAreDecidedOnceForBothViews) {
    ui::DownloaderCore& core = Start();
    const ui::RowControls modem = ui::ControlsOf(ui::kModemRow);
    view_[modem.fullPath].visible = false;               // as the template has it
    core.OnFocusChanged(Control::kStatusLogEdit, true);  // no path edit: nothing shows
    EXPECT_FALSE(view_[modem.fullPath].visible);
    for (const Control gained : {modem.path, modem.fullPath}) {
        core.OnFocusChanged(gained, true);
        EXPECT_TRUE(view_[modem.fullPath].visible);
        EXPECT_FALSE(view_[modem.address].visible);
        EXPECT_EQ(view_.focus, modem.fullPath);
        core.OnFocusChanged(modem.path, false);  // only leaving the full path hides it
        EXPECT_TRUE(view_[modem.fullPath].visible);
        core.OnFocusChanged(modem.fullPath, false);
        EXPECT_FALSE(view_[modem.fullPath].visible);
        EXPECT_TRUE(view_[modem.address].visible);
    }

    EXPECT_FALSE(core.OnClicked(Control::kCrcCheck));  // read when needed, no handler
    view_[Control::kAutoCheck].checked = false;
    EXPECT_TRUE(core.OnClicked(Control::kAutoCheck));
    EXPECT_EQ(core.CurrentSettings().AUTODETECT, 0);

    EXPECT_EQ(ui::DownloaderCore::PortEntryLabel(0), "-----------");
    EXPECT_EQ(ui::DownloaderCore::PortEntryLabel(30), "COM30");

    struct FakeWindowThread : ui::WindowThread {
        bool current = false;
        int handedOver = 0;
        bool IsCurrent() const override { return current; }
        void RunBlocking(const std::function<void()>& task) override {
            ++handedOver;
            task();
        }
    } window;
    ImageEntry entry{};
    entry.channel = 1;
    std::strncpy(entry.path, "CH1 Download Start", sizeof entry.path - 1);
    EXPECT_EQ(core.HandOff(NotifyMessage + 1, NOTIFY_CHANNEL_TEXT, &entry, window), 0);
    EXPECT_EQ(view_.channels[1].barText, "");  // not a notification
    core.HandOff(NotifyMessage, NOTIFY_CHANNEL_TEXT, &entry, window);
    EXPECT_EQ(window.handedOver, 1);  // from a worker: through the window thread
    window.current = true;
    core.HandOff(NotifyMessage, NOTIFY_STATUS, "All file Complete!", window);
    EXPECT_EQ(window.handedOver, 1);  // on the window thread: at once
    EXPECT_EQ(view_.channels[1].barText, "CH1 Download Start");
    EXPECT_EQ(view_[Control::kStatusText].text, "All file Complete!");
}

}  // namespace
}  // namespace uitest
