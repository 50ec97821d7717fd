// The Windows dialog itself, under Wine on a virtual screen: template 103
// from the resources, the controls' notifications reaching the core, and a
// download to simulated handsets behind COM1..COM8 checked on the bars, the
// status log and the handsets' flash dumps. Run by
// tests/windows/window_under_wine.sh, which starts the simulator and names
// the folders in KELVANE_TEST_IMAGES (modem.bin, resource1.rc1,
// resource2.rc2) and KELVANE_TEST_DUMPS (the handsets' dumps), and handset
// 0's COM number in KELVANE_TEST_FIRST_PORT (handset k is the next k).
// The station folder is named in several scripts, and the images' folder is
// too when the script names it so.
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "controls/win32/text_progress_ctrl.h"
#include "platform/path.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_template.h"
#include "ui/win32/downloader_dialog.h"
#include "ui/win32/text.h"

namespace {

namespace fs = std::filesystem;
using ui::win32::DownloaderDialog;

constexpr int kChannels = 8;
constexpr unsigned kModemAddress = 0x1a0000;
constexpr unsigned kRsrc1Address = 0x800000;
constexpr unsigned kRsrc2Address = 0x900000;

std::string Env(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr ? ui::win32::Narrow(value) : "";
}

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Message boxes as a list (the workers show theirs too).
class RecordingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override { Add(text); }
    bool AskYesNo(const char* text) override {
        Add(text);
        return false;
    }
    int Count(const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_texts.begin(), m_texts.end(), text));
    }

private:
    void Add(const char* text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.emplace_back(text);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

// The file dialogs answered as the operator would: an image file from a
// list the test fills, nothing else chosen.
class AnsweredDialogs : public ui::win32::FileDialogs {
public:
    explicit AnsweredDialogs(std::vector<std::string>* answers) : m_answers(answers) {}
    std::optional<std::string> ChooseToLoad(HWND, const std::string&) override { return {}; }
    std::optional<std::string> ChooseToSave(HWND, const std::string&) override { return {}; }
    std::optional<std::string> ChooseImageFile(HWND, const char*, const char*) override {
        if (m_answers->empty()) return {};
        std::string answer = m_answers->front();
        m_answers->erase(m_answers->begin());
        return answer;
    }
    std::optional<std::string> ChooseFolder(const char*, const std::string&) override { return {}; }

private:
    std::vector<std::string>* m_answers;
};

// A check that runs on the window thread while a download holds it: a
// thread timer, dispatched by the session's message pump, calls step every
// 20 ms until it returns true. Bounded by the session itself, which ends.
class WhileDownloading {
public:
    explicit WhileDownloading(std::function<bool()> step) {
        s_step = std::move(step);
        m_timer = ::SetTimer(nullptr, 0, 20, &Tick);
    }
    ~WhileDownloading() {
        ::KillTimer(nullptr, m_timer);
        s_step = nullptr;
    }
    static bool Done() { return s_done; }
    static void Reset() { s_done = false; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        if (!s_done && s_step && s_step()) s_done = true;
    }
    static inline std::function<bool()> s_step;
    static inline bool s_done = false;
    UINT_PTR m_timer = 0;
};

class Win32DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        images_ = Env(L"KELVANE_TEST_IMAGES");
        dumps_ = Env(L"KELVANE_TEST_DUMPS");
        firstPort_ = std::atoi(Env(L"KELVANE_TEST_FIRST_PORT").c_str());
        if (images_.empty() || dumps_.empty() || firstPort_ <= 0) {
            GTEST_SKIP() << "run through tests/windows/window_under_wine.sh";
        }
        ASSERT_TRUE(ui::win32::RegisterDialogClasses());
        previous_ = fs::current_path();
        station_ =
            fs::temp_directory_path() /
            platform::FileSystemPath(
                "kelvane-window é Кириллица 中文-" + std::to_string(::GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(station_);
        fs::create_directories(station_);
        WriteStation();
        fs::current_path(station_);
        for (int k = 0; k < kChannels; ++k) {
            fs::remove(Dump(k, ".bin"));
            fs::remove(Dump(k, ".idx"));
        }
        WhileDownloading::Reset();
    }

    void TearDown() override {
        dialog_.reset();
        if (!previous_.empty()) fs::current_path(previous_);
        std::error_code ec;
        if (!station_.empty()) fs::remove_all(station_, ec);
    }

    std::string Image(const char* name) const {
        return platform::PathText(platform::FileSystemPath(images_) / name);
    }
    fs::path Dump(int channel, const char* suffix) const {
        return platform::FileSystemPath(dumps_) / ("ch" + std::to_string(channel) + suffix);
    }
    fs::path SettingsFile() const { return station_ / "Kelvane_3.ini"; }

    // A station folder: the ports are found automatically, the Modem and
    // Rsrc1 rows are ticked, Rsrc2 is empty.
    void WriteStation() {
        const std::string set = platform::PathText(station_ / "station.vrk");
        std::ofstream(SettingsFile()) << "[VARKO]\r\nAUTODETECT=1\r\nDELAY=0\r\n"
                                      << "BAUDRATE=1382400\r\nVARKOFILE=" << set << "\r\n";
        std::ofstream(station_ / "station.vrk")
            << "[VARKO]\r\nMTY=0\r\n"
            << "CODECHECK=1\r\nCODEKIND=MODEM\r\nCODEFILE=" << Image("modem.bin")
            << "\r\nCODEADDRESS=1a0000\r\n"
            << "FONTCHECK=1\r\nFONTKIND=RSRC1\r\nFONTFILE=" << Image("resource1.rc1")
            << "\r\nFONTADDRESS=800000\r\n";
    }

    void Open() {
        ui::win32::DialogServices services;
        services.prompt = &prompt_;
        services.fileDialogs = std::make_unique<AnsweredDialogs>(&answers_);
        services.ask = [this](const std::string&, bool) {
            ++questions_;
            return ui::DialogView::Answer::kNo;
        };
        dialog_ = std::make_unique<DownloaderDialog>(std::move(services));
        hwnd_ = dialog_->Create();
        ASSERT_NE(hwnd_, nullptr);
        ::SetForegroundWindow(hwnd_);
        ::SetActiveWindow(hwnd_);
    }

    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    std::string Text(int id) const { return ui::win32::WindowText(Item(id)); }
    bool Checked(int id) const {
        return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    void Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
    static int TemplateId(const std::string& name) {
        const ui::TemplateItem* item = ui::FindTemplateItem(ui::DialogTemplate103(), name);
        return item != nullptr ? item->id : IDC_STATIC;
    }
    static int ComboId(int channel) { return TemplateId("m_portCombo" + std::to_string(channel)); }
    static int BarId(int channel) { return TemplateId("m_progress" + std::to_string(channel)); }
    int BarPos(int channel) const {
        return static_cast<int>(::SendMessageW(Item(BarId(channel)), PBM_GETPOS, 0, 0));
    }
    std::string StatusLog() const { return Text(IDC_STATUS_LOG_EDIT); }

    // Presses Download; returns once the session is over (the window's
    // messages are dispatched meanwhile).
    double Download() {
        const auto start = std::chrono::steady_clock::now();
        Click(IDC_DOWNLOAD_BUTTON);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Sends the system's port broadcast for name ("COM3") to the dialog.
    void PortBroadcast(WPARAM event, const wchar_t* name) {
        std::vector<char> buffer(sizeof(DEV_BROADCAST_PORT_W) + 16 * sizeof(wchar_t), 0);
        auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(buffer.data());
        port->dbcp_size = static_cast<DWORD>(buffer.size());
        port->dbcp_devicetype = DBT_DEVTYP_PORT;
        std::wcscpy(port->dbcp_name, name);
        ::SendMessageW(hwnd_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(port));
    }

    // True when handset k's flash holds file at address byte for byte, and
    // the rest of the erased range it lies in is still erased (0xFF).
    ::testing::AssertionResult Holds(int k, const std::string& file, unsigned address) const {
        return HoldsIn("ch" + std::to_string(k), k, file, address);
    }
    // The same for the dump named base (a swapped handset's serial).
    ::testing::AssertionResult HoldsIn(const std::string& base, int k, const std::string& file,
                                       unsigned address) const {
        std::ifstream index(platform::FileSystemPath(dumps_) / (base + ".idx"));
        const std::vector<char> flash =
            ReadBytes(platform::FileSystemPath(dumps_) / (base + ".bin"));
        const std::vector<char> image = ReadBytes(platform::FileSystemPath(file));
        unsigned start = 0, length = 0, crc = 0;
        size_t offset = 0;
        std::string line;
        while (std::getline(index, line)) {
            if (std::sscanf(line.c_str(), "%x %x %x", &start, &length, &crc) != 3) break;
            if (address >= start && address + image.size() <= start + length) {
                const size_t at = offset + (address - start);
                if (at + image.size() > flash.size()) break;
                if (!std::equal(image.begin(), image.end(), flash.begin() + at)) {
                    return ::testing::AssertionFailure() << "CH" << k << ": " << file << " differs";
                }
                for (size_t i = offset; i < offset + length && i < flash.size(); ++i) {
                    const bool inImage = i >= at && i < at + image.size();
                    if (!inImage && static_cast<unsigned char>(flash[i]) != 0xFF) {
                        return ::testing::AssertionFailure()
                               << "CH" << k << ": byte " << i << " beside " << file << " written";
                    }
                }
                return ::testing::AssertionSuccess();
            }
            offset += length;
        }
        return ::testing::AssertionFailure() << "CH" << k << " holds no " << file;
    }

    // Holds once the handset's dump caught up: the simulator writes it after
    // its last reply left the line, a little after the window saw that reply.
    // Waits at most 10 s.
    ::testing::AssertionResult HoldsOnceDumped(int k, const std::string& file,
                                               unsigned address) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            ::testing::AssertionResult held = Holds(k, file, address);
            if (held || std::chrono::steady_clock::now() > deadline) return held;
            ::Sleep(20);
        }
    }

    // The handset on channel ch's port.
    int Handset(int channel) const { return dialog_->Core().ChannelPort(channel) - firstPort_; }
    int ChannelOf(int handset) const {
        for (int ch = 0; ch < kChannels; ++ch) {
            if (Handset(ch) == handset) return ch;
        }
        return -1;
    }

    std::string images_;
    std::string dumps_;
    int firstPort_ = 0;
    fs::path previous_;
    fs::path station_;
    RecordingPrompt prompt_;
    std::vector<std::string> answers_;
    std::unique_ptr<DownloaderDialog> dialog_;
    HWND hwnd_ = nullptr;
    int questions_ = 0;  // the window's questions, answered No
};

TEST_F(Win32DialogTest, EveryControlOfTheTemplateSitsAtItsPlace) {
    Open();
    wchar_t className[64];
    for (const ui::TemplateItem& item : ui::DialogTemplate103()) {
        if (item.id == IDC_STATIC) continue;
        HWND control = Item(item.id);
        ASSERT_NE(control, nullptr) << item.name;
        RECT want{item.dlu.x, item.dlu.y, item.dlu.x + item.dlu.width,
                  item.dlu.y + item.dlu.height};
        ::MapDialogRect(hwnd_, &want);
        RECT got;
        ::GetWindowRect(control, &got);
        ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_NEAR(got.left, want.left, 1) << item.name;
        EXPECT_NEAR(got.top, want.top, 1) << item.name;
        EXPECT_NEAR(got.right, want.right, 1) << item.name;
        // A combo box's height is its closed height, not the template's.
        if (item.cls != ui::ControlClass::kCombo && item.cls != ui::ControlClass::kEditCombo) {
            EXPECT_NEAR(got.bottom, want.bottom, 1) << item.name;
        }
        ::GetClassNameW(control, className, 64);
        if (item.cls == ui::ControlClass::kProgress) {
            EXPECT_STREQ(className, controls::kTextProgressClassName) << item.name;
        }
    }
    EXPECT_EQ(ui::win32::WindowText(hwnd_), "Unified Kelvane Ver3.0 ");
    EXPECT_NE(::SendMessageW(hwnd_, WM_GETICON, ICON_BIG, 0), 0);
    // Enter presses no button; the dialog is still there.
    ::SendMessageW(hwnd_, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(dialog_->Ended());
}

TEST_F(Win32DialogTest, InitialStateComesFromTheStationFolder) {
    Open();
    EXPECT_EQ(Text(IDC_IMAGE_SET_PATH_EDIT), platform::PathText(station_ / "station.vrk"));
    EXPECT_TRUE(Checked(IDC_MODEM_CHECK));
    EXPECT_EQ(Text(IDC_MODEM_KIND_EDIT), "MODEM");
    // As stored: the window changes no address it did not set itself.
    EXPECT_EQ(Text(IDC_MODEM_ADDRESS_EDIT), "1a0000");
    EXPECT_EQ(Text(IDC_MODEM_PATH_EDIT), ui::DownloaderCore::AbbreviatePath(Image("modem.bin")));
    EXPECT_NE(Text(IDC_MODEM_PATH_EDIT).find("...\\"), std::string::npos)
        << Text(IDC_MODEM_PATH_EDIT);
    EXPECT_TRUE(Checked(IDC_RSRC1_CHECK));
    EXPECT_FALSE(Checked(IDC_RSRC2_CHECK));
    EXPECT_FALSE(Enabled(IDC_RSRC2_CHECK));
    EXPECT_EQ(Text(IDC_RSRC2_PATH_EDIT), "");
    EXPECT_TRUE(Checked(IDC_AUTO_CHECK));
    EXPECT_TRUE(Checked(IDC_MODEM_TYPE1_RADIO));

    // The port search found the eight handsets in the registry: each
    // channel's combo shows its port and is locked, its bar says so.
    for (int ch = 0; ch < kChannels; ++ch) {
        const int com = dialog_->Core().ChannelPort(ch);
        EXPECT_GE(Handset(ch), 0) << "CH" << ch << " holds COM" << com;
        EXPECT_LT(Handset(ch), kChannels) << "CH" << ch << " holds COM" << com;
        // Entry n is COM n; a port above 30 has no entry.
        EXPECT_EQ(::SendMessageW(Item(ComboId(ch)), CB_GETCURSEL, 0, 0),
                  com <= ui::kPortEntries ? com : CB_ERR)
            << "CH" << ch;
        EXPECT_EQ(::SendMessageW(Item(ComboId(ch)), CB_GETCOUNT, 0, 0), 31);
        EXPECT_FALSE(Enabled(ComboId(ch)));
        EXPECT_EQ(Text(BarId(ch)), "Ready...");
    }
    EXPECT_TRUE(Enabled(IDC_DOWNLOAD_BUTTON));

    // The path edit's focus shows the full path over it; leaving hides it.
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_MODEM_PATH_EDIT)), TRUE);
    EXPECT_TRUE(::IsWindowVisible(Item(IDC_MODEM_FULL_PATH_EDIT)));
    EXPECT_EQ(Text(IDC_MODEM_FULL_PATH_EDIT), Image("modem.bin"));
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_LOAD_BUTTON)), TRUE);
    EXPECT_FALSE(::IsWindowVisible(Item(IDC_MODEM_FULL_PATH_EDIT)));

    // A port that leaves and comes back while nothing runs.
    const std::wstring third = L"COM" + std::to_wstring(firstPort_ + 2);
    PortBroadcast(DBT_DEVICEREMOVECOMPLETE, third.c_str());
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "Disconnect " + ui::win32::Narrow(third) + " Port");
    EXPECT_EQ(ChannelOf(2), -1);
    PortBroadcast(DBT_DEVICEARRIVAL, third.c_str());
    EXPECT_EQ(Text(IDC_STATUS_TEXT), "Detect " + ui::win32::Narrow(third) + " Port");
    EXPECT_GE(ChannelOf(2), 0);
}

TEST_F(Win32DialogTest, DownloadFlashesEveryHandsetByteForByte) {
    Open();
    // Through the controls as an operator: Rsrc1 unticked, Rsrc2's file
    // chosen with its button.
    Click(IDC_RSRC1_CHECK);
    EXPECT_FALSE(Checked(IDC_RSRC1_CHECK));
    answers_.push_back(Image("resource2.rc2"));
    Click(IDC_RSRC2_BUTTON);
    EXPECT_EQ(Text(IDC_RSRC2_KIND_EDIT), "RSRC2");
    if (!Checked(IDC_RSRC2_CHECK)) Click(IDC_RSRC2_CHECK);
    ASSERT_TRUE(Checked(IDC_RSRC2_CHECK));

    const double seconds = Download();
    std::printf("[ figure   ] 8-channel download in the Win32 window: %.2f s\n", seconds);
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_NE(Text(BarId(ch)).find("All file Complete!"), std::string::npos)
            << "CH" << ch << ": " << Text(BarId(ch));
        EXPECT_NE(StatusLog().find("CH" + std::to_string(ch) + " All file Complete!"),
                  std::string::npos)
            << StatusLog();
        const int k = Handset(ch);
        EXPECT_TRUE(HoldsOnceDumped(k, Image("modem.bin"), kModemAddress));
        EXPECT_TRUE(HoldsOnceDumped(k, Image("resource2.rc2"), kRsrc2Address));
        EXPECT_FALSE(Holds(k, Image("resource1.rc1"), kRsrc1Address));
    }
    EXPECT_EQ(prompt_.Count("Download Completed!!"), kChannels);
}

TEST_F(Win32DialogTest, ARemovalStopsThatChannelOnly) {
    Open();
    const int removed = ChannelOf(2);
    ASSERT_GE(removed, 0);
    const std::wstring port = L"COM" + std::to_wstring(firstPort_ + 2);
    bool duringSession = false;
    WhileDownloading step([&] {
        if (BarPos(removed) <= 0) return false;
        duringSession = dialog_->Core().SessionRunning();
        PortBroadcast(DBT_DEVICEREMOVECOMPLETE, port.c_str());
        return true;
    });
    Download();
    ASSERT_TRUE(WhileDownloading::Done());
    EXPECT_TRUE(duringSession);
    EXPECT_EQ(dialog_->Core().ChannelPort(removed), 0);
    EXPECT_EQ(::SendMessageW(Item(ComboId(removed)), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(StatusLog().find("CH" + std::to_string(removed) + " All file Complete!"),
              std::string::npos);
    EXPECT_FALSE(Holds(2, Image("modem.bin"), kModemAddress));
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ch == removed) continue;
        const int k = Handset(ch);
        EXPECT_TRUE(HoldsOnceDumped(k, Image("modem.bin"), kModemAddress)) << "CH" << ch;
        EXPECT_TRUE(HoldsOnceDumped(k, Image("resource1.rc1"), kRsrc1Address)) << "CH" << ch;
    }
    EXPECT_EQ(prompt_.Count("Download Completed!!"), kChannels - 1);
}

TEST_F(Win32DialogTest, ClosingDuringADownloadStopsEveryChannelAndWritesTheSettings) {
    Open();
    const std::vector<char> before = ReadBytes(SettingsFile());
    ASSERT_EQ(std::string(before.begin(), before.end()).find("CH0_PORT"), std::string::npos);
    bool duringSession = false;
    WhileDownloading step([&] {
        for (int ch = 0; ch < kChannels; ++ch) {
            if (BarPos(ch) <= 0) return false;
        }
        duringSession = dialog_->Core().SessionRunning();
        ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        return true;
    });
    Download();
    ASSERT_TRUE(WhileDownloading::Done());
    EXPECT_TRUE(duringSession);
    EXPECT_TRUE(dialog_->Ended());
    EXPECT_FALSE(::IsWindowVisible(hwnd_));
    EXPECT_EQ(prompt_.Count("Download Completed!!"), 0);
    for (int k = 0; k < kChannels; ++k) {
        EXPECT_FALSE(Holds(k, Image("modem.bin"), kModemAddress) &&
                     Holds(k, Image("resource1.rc1"), kRsrc1Address))
            << "handset " << k << " was not stopped";
    }
    // The ports the channels held are written at the close.
    const std::vector<char> settings = ReadBytes(SettingsFile());
    const std::string text(settings.begin(), settings.end());
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_NE(text.find("CH" + std::to_string(ch) + "_PORT="), std::string::npos) << text;
    }
    EXPECT_NE(text.find("VARKOFILE=" + platform::PathText(station_ / "station.vrk") + "\r"),
              std::string::npos)
        << text;
}

// Settings an older version wrote in the ANSI code page: the window opens
// their image set, and the close writes its path back byte for byte.
TEST_F(Win32DialogTest, AnAnsiImageSetPathOfOlderSettingsIsKeptAtTheClose) {
    if (::GetACP() != 1252) GTEST_SKIP() << "written for the ANSI code page 1252";
    const std::string name = "kelvane-caf\xC3\xA9-" + std::to_string(::GetCurrentProcessId());
    const fs::path folder = fs::temp_directory_path() / platform::FileSystemPath(name);
    fs::create_directories(folder);
    fs::copy_file(station_ / "station.vrk", folder / "station.vrk",
                  fs::copy_options::overwrite_existing);
    std::string ansiSet = platform::PathText(folder / "station.vrk");
    ansiSet.replace(ansiSet.find("caf\xC3\xA9"), 5, "caf\xE9");
    std::ofstream(SettingsFile(), std::ios::binary)
        << "[VARKO]\r\nAUTODETECT=1\r\nVARKOFILE=" << ansiSet << "\r\n";
    Open();
    EXPECT_EQ(Text(IDC_IMAGE_SET_PATH_EDIT), platform::PathText(folder / "station.vrk"));
    EXPECT_EQ(Text(IDC_MODEM_KIND_EDIT), "MODEM");
    dialog_.reset();
    const std::vector<char> settings = ReadBytes(SettingsFile());
    const std::string text(settings.begin(), settings.end());
    EXPECT_NE(text.find("VARKOFILE=" + ansiSet + "\r\n"), std::string::npos) << text;
    fs::remove_all(folder);
}

// Dispatches the window's messages until done() or maxMs have passed.
bool PumpUntil(const std::function<bool()>& done, int maxMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Station mode on handsets that come and go (the script's second run:
// KELVANE_TEST_SWAP names the handsets per channel, the second handset of
// channel 1 never answers its unlock). Each slot's port names the handset's
// link in the port map, which the station watches for arrivals.
TEST_F(Win32DialogTest, StationModeFlashesEachArrivingHandsetAndTheFaultyOneFailsAlone) {
    const int perChannel = std::atoi(Env(L"KELVANE_TEST_SWAP").c_str());
    const std::string links = Env(L"KELVANE_TEST_LINKS");
    if (perChannel <= 0 || links.empty()) GTEST_SKIP() << "needs handsets that come and go";
    constexpr int kSlots = 3;
    {
        std::ofstream map(station_ / "Kelvane_ports.ini");
        map << "[PORTS]\r\n";
        for (int k = 0; k < kSlots; ++k) {
            map << "COM" << firstPort_ + k << "=" << links << "\\kvmodem-sim" << k << ".tty\r\n";
        }
    }
    Open();
    for (int ch = 0; ch < kSlots; ++ch)
        ASSERT_EQ(Handset(ch), ch) << "CH" << ch;
    Click(IDC_STATION_CHECK);
    ASSERT_TRUE(dialog_->Core().StationRunning()) << Text(IDC_STATUS_TEXT);
    EXPECT_FALSE(Enabled(IDC_LOAD_BUTTON));
    EXPECT_FALSE(Enabled(IDC_PORT_SEARCH_BUTTON));
    const size_t results = static_cast<size_t>(kSlots * perChannel);
    ASSERT_TRUE(PumpUntil(
        [&] {
            const std::string log = StatusLog();
            return Occurrences(log, " PASSED ") + Occurrences(log, " FAILED ") >= results;
        },
        120000))
        << StatusLog() << "\nCH0: " << Text(BarId(0)) << "\nCH1: " << Text(BarId(1))
        << "\nstatus: " << Text(IDC_STATUS_TEXT);
    const std::string log = StatusLog();
    EXPECT_EQ(Occurrences(log, " PASSED "), results - 1) << log;
    EXPECT_NE(log.find("FAILED \"ERR: Unlock"), std::string::npos) << log;
    EXPECT_EQ(Text(IDC_STATION_COUNTS_TEXT)
                  .rfind("Station: passed " + std::to_string(results - 1) + ", failed 1", 0),
              0u)
        << Text(IDC_STATION_COUNTS_TEXT);
    EXPECT_EQ(prompt_.Count("Download Completed!!"), 0);  // no message box
    // The simulator writes a handset's flash once it has left (bounded wait).
    const auto serialOf = [](int k, int number) {
        char serial[32];
        std::snprintf(serial, sizeof serial, "SIM%d-%04d", k, number);
        return std::string(serial);
    };
    PumpUntil(
        [&] {
            for (int k = 0; k < kSlots; ++k) {
                for (int number = 1; number <= perChannel; ++number) {
                    if (!(k == 1 && number == 2) &&
                        !HoldsIn(serialOf(k, number), k, Image("resource1.rc1"), kRsrc1Address))
                        return false;
                }
            }
            return true;
        },
        30000);
    for (int k = 0; k < kSlots; ++k) {
        for (int number = 1; number <= perChannel; ++number) {
            const std::string serial = serialOf(k, number);
            const bool faulty = k == 1 && number == 2;
            EXPECT_NE(HoldsIn(serial, k, Image("modem.bin"), kModemAddress), faulty) << serial;
            if (!faulty) {
                EXPECT_TRUE(HoldsIn(serial, k, Image("resource1.rc1"), kRsrc1Address)) << serial;
            }
        }
    }
    // Closing asks once; No stops every slot now.
    ::SendMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(questions_, 1);
    EXPECT_TRUE(dialog_->Ended());
    EXPECT_FALSE(dialog_->Core().StationRunning());
}

// The path display splits Windows paths at backslashes as well.
TEST(Win32PathDisplay, AbbreviatesAtBackslashes) {
    const fs::path folder = fs::temp_directory_path() / "kelvane-abbrev" / "images" / "v2";
    fs::create_directories(folder);
    const std::string file = (folder / "modem.bin").string();
    std::ofstream(file) << "x";
    const std::string shown = ui::DownloaderCore::AbbreviatePath(file);
    EXPECT_EQ(shown, file.substr(0, file.find('\\') + 1) + "...\\v2\\modem.bin");
    fs::remove_all(fs::temp_directory_path() / "kelvane-abbrev");
}

}  // namespace
