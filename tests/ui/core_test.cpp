// The window core's handlers against a view without a toolkit: ports found
// and followed, the Download command's checks and image table, the close
// during a download, and the notifications on the bars and the log.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "config/settings.h"
#include "engine/session.h"
#include "link/notify.h"
#include "tests/config/config_test_util.h"
#include "tests/ui/fake_view.h"
#include "ui/downloader_core.h"
#include "ui/station_panel.h"

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

// Station mode against the fake view: slots on ports that never see a
// handset (COM250.. name no device), and the slots' reports handed in as
// the workers would.
class UiStationTest : public UiCoreTest {
protected:
    // The slots' last reports come from their workers while the window
    // thread waits for them: one at a time.
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override {
        if (std::this_thread::get_id() == main_) return UiCoreTest::Send(message, code, payload);
        std::lock_guard<std::mutex> lock(mutex_);
        return UiCoreTest::Send(message, code, payload);
    }
    ui::DownloaderCore& StartStation() {
        config_test::MakeImage(dir_.File("modem.bin"), 0x1a0000);
        ports_ = {Port("kvmodem-a", 250), Port("kvmodem-b", 251)};
        ui::DownloaderCore& core = Start();
        view_.answers = {dir_.File("modem.bin")};
        core.OnModemBrowse();
        view_[Control::kStationCheck].checked = true;
        core.OnStationCheck();
        EXPECT_TRUE(core.StationRunning());
        return core;
    }
    void Report(engine::SlotEvent event, int channel, const std::string& text = "",
                const std::string& identity = "") {
        engine::SlotReport r;
        r.event = event;
        r.channel = channel;
        r.comPort = 250 + channel;
        r.identity = identity.empty() ? "SIM" + std::to_string(channel) : identity;
        r.text = text;
        r.seconds = 2.5;
        core_->OnNotify(ui::kNotifyStationSlot, &r);
    }
    std::thread::id main_ = std::this_thread::get_id();
    std::mutex mutex_;
};

TEST_F(UiStationTest, EachSlotShowsWaitingProgressAndTheResultUntilTheHandsetIsGone) {
    using E = engine::SlotEvent;
    using Look = ui::DialogView::BarLook;
    ui::DownloaderCore& core = StartStation();
    EXPECT_EQ(view_.channels[1].barText, "Waiting");
    struct Step {
        E event;
        int channel;
        const char* text;
        const char* bar;
        Look look;
        int pos;
        const char* logLine;  // "" when none
        const char* counts;
    };
    const Step steps[] = {
        {E::kArrived, 0, "", "Arrived SIM0", Look::kNormal, 0, "", "passed 0, failed 0"},
        {E::kStarted, 0, "", "Flashing SIM0", Look::kNormal, 0, "", "passed 0, failed 0"},
        {E::kPassed, 0, "CH0 All file Complete!", "PASSED SIM0 2.5 s", Look::kPassed, 100,
         "CH0 COM250 SIM0 PASSED 2.5 s", "passed 1, failed 0, yield 100.0 %"},
        {E::kFailed, 1, "CH1 ERR: Unlock", "FAILED CH1 ERR: Unlock", Look::kFailed, 100,
         "CH1 COM251 SIM1 FAILED \"CH1 ERR: Unlock\" 2.5 s", "passed 1, failed 1, yield 50.0 %"},
        {E::kGone, 0, "", "Waiting", Look::kNormal, 0, "", "passed 1, failed 1"},
        {E::kArrived, 5, "", "", Look::kNormal, 0, "", "passed 1, failed 1"},  // no slot there
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(engine::SlotEventText(s.event));
        const std::string logBefore = core.StatusLog();
        Report(s.event, s.channel, s.text);
        const ChannelState& bar = view_.channels[s.channel];
        EXPECT_EQ(bar.barText, s.bar);
        EXPECT_EQ(bar.look, s.look);
        EXPECT_EQ(bar.pos, s.pos);
        EXPECT_EQ(core.StatusLog().substr(logBefore.size()),
                  *s.logLine == '\0' ? "" : std::string(s.logLine) + "\r\n");
        EXPECT_EQ(view_[Control::kStationCountsText].text.find(std::string("Station: ") + s.counts),
                  0u)
            << view_[Control::kStationCountsText].text;
    }
    EXPECT_EQ(view_.channels[1].look, Look::kFailed);  // held until its handset is gone
    // A handset known by its device's path: the bar shows the last part.
    Report(E::kArrived, 0, "", "Z:\\line\\kvmodem-sim0.tty");
    EXPECT_EQ(view_.channels[0].barText, "Arrived kvmodem-sim0.tty");
    EXPECT_TRUE(prompt_.texts.empty());  // no message box
    // Slot texts of the engine run on in the log instead of starting it anew.
    Notify(NOTIFY_CHANNEL_TEXT, 0, "CH0 Download Start");
    EXPECT_NE(core.StatusLog().find("SIM1 FAILED"), std::string::npos);

    view_[Control::kStationCheck].checked = false;
    core.OnStationCheck();  // flashes in progress end, then every slot stops
    EXPECT_FALSE(core.StationRunning());
    EXPECT_EQ(view_.channels[1].look, Look::kNormal);
    EXPECT_EQ(view_.channels[1].barText, "Ready...");
}

TEST_F(UiStationTest, TheStationLocksTheImageSetAndPortControlsAndKeepsItsPorts) {
    ui::DownloaderCore& core = StartStation();
    const Control locked[] = {Control::kLoadButton,       Control::kSaveAsButton,
                              Control::kPortSearchButton, Control::kDownloadButton,
                              Control::kModemCheck,       Control::kModemButton,
                              Control::kRsrc1Check,       Control::kUsbButton};
    for (Control c : locked)
        EXPECT_FALSE(view_[c].enabled) << ui::ControlName(c);
    core.OnModemCheck();  // a handler's change waits for the lock's end
    EXPECT_FALSE(view_[Control::kModemCheck].enabled);
    core.OnPortSearch();
    core.OnDeviceChange({platform::PortEvent::Kind::kRemoval, Port("", 250)});
    core.OnDownload();
    EXPECT_EQ(Held(), (std::vector<int>{250, 251, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(core.StationRunning());

    view_[Control::kStationCheck].checked = false;
    core.OnStationCheck();
    EXPECT_FALSE(core.StationRunning());
    // Back as the core last set them: the template's disabled ones stay so.
    EXPECT_TRUE(view_[Control::kLoadButton].enabled);
    EXPECT_TRUE(view_[Control::kModemButton].enabled);
    EXPECT_FALSE(view_[Control::kUsbButton].enabled);
    EXPECT_FALSE(view_[Control::kFotaCheck].enabled);
    EXPECT_TRUE(view_[Control::kDownloadButton].enabled);
}

TEST_F(UiStationTest, AClosingAsksOnceAndCancelKeepsTheStation) {
    using A = ui::DialogView::Answer;
    const struct {
        A answer;
        bool closes;
    } cases[] = {{A::kCancel, false}, {A::kNo, true}, {A::kYes, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        view_.asked.clear();
        ui::DownloaderCore& core = StartStation();
        view_.askAnswers = {c.answer};
        EXPECT_EQ(core.OnClose(), c.closes);
        EXPECT_EQ(view_.asked.size(), 1u);
        EXPECT_EQ(core.StationRunning(), !c.closes);
        if (!c.closes) {
            view_.askAnswers = {A::kNo};
            EXPECT_TRUE(core.OnClose());
        }
        // The settings were written as on every close, and no slot's port
        // went on to the session the close runs to end the engine's.
        EXPECT_EQ(config_test::StoredValue(dir_.File("default_3.vrk"), "CODECHECK"), "1");
        EXPECT_FALSE(engine::LastChannelOutcome(0).ended);
        core_.reset();
    }
}

class FixedCounts : public ui::StationCountsSource {
public:
    void Begin() override { ++begun; }
    std::optional<ui::StationCounts> Counts() override { return counts; }
    int begun = 0;
    std::optional<ui::StationCounts> counts;
};

TEST_F(UiStationTest, TheCountsLineTakesTheRecordsAndFallsBackToTheSlots) {
    EXPECT_EQ(ui::StationCountsText({40, 2, 350.4}),
              "passed 40, failed 2, yield 95.2 %, 350 handsets/h");
    EXPECT_EQ(ui::StationCountsText({0, 0, -1}), "passed 0, failed 0, yield -, - handsets/h");
    auto source = std::make_unique<FixedCounts>();
    FixedCounts* counts = source.get();
    counts->counts = ui::StationCounts{7, 1, 12};
    config_test::MakeImage(dir_.File("modem.bin"), 0x1a0000);
    ports_ = {Port("kvmodem-a", 250)};
    ui::DownloaderCore& core = Start();
    core.SetStationCountsSource(std::move(source));
    view_.answers = {dir_.File("modem.bin")};
    core.OnModemBrowse();
    view_[Control::kStationCheck].checked = true;
    core.OnStationCheck();
    EXPECT_EQ(counts->begun, 1);
    Report(engine::SlotEvent::kPassed, 0);
    EXPECT_EQ(view_[Control::kStationCountsText].text,
              "Station: passed 7, failed 1, yield 87.5 %, 12 handsets/h");
    counts->counts.reset();  // the records cannot be read: the slots' own count
    Report(engine::SlotEvent::kFailed, 0);
    EXPECT_EQ(view_[Control::kStationCountsText].text.rfind(
                  "Station: passed 1, failed 1, yield 50.0 %", 0),
              0u);
    view_.askAnswers = {ui::DialogView::Answer::kNo};
    EXPECT_TRUE(core.OnClose());
}

}  // namespace
}  // namespace uitest
