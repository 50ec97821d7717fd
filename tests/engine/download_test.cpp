// Whole sessions against simulated handsets: what arrives in each handset's
// flash, what the operator is told, and how failures end a channel.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/crc32.h"
#include "engine/session.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"
#include "platform/tick.h"
#include "sim/simulator.h"
#include "tests/support/pty_peer.h"

namespace {

using namespace testing_support;
using Bytes = std::vector<uint8_t>;

class RecordingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.emplace_back(text);
    }
    bool AskYesNo(const char*) override { return false; }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + seed + (i >> 9));
    return bytes;
}

Bytes WithTrailer(Bytes payload, uint32_t address) {
    ImageTrailer trailer{};
    trailer.magic = kTrailerMagic;
    trailer.address = address;
    std::strcpy(trailer.kind, "TEST");
    std::strcpy(trailer.type, "bin");
    const auto* raw = reinterpret_cast<const uint8_t*>(&trailer);
    payload.insert(payload.end(), raw, raw + sizeof trailer);
    return payload;
}

// The file padded with 0xFF to whole blocks, as the handset's flash holds it.
Bytes Padded(Bytes file, size_t block) {
    file.resize((file.size() + block - 1) / block * block, 0xFF);
    return file;
}

// Stops a channel from the runner's pump once asked to (window thread side).
std::atomic<int> g_stopRequest{-1};
void StoppingPump(int maxWaitMs) {
    int channel = g_stopRequest.exchange(-1);
    if (channel >= 0) VARKO_StopChannel(channel);
    if (maxWaitMs > 0) platform::Sleep(static_cast<uint32_t>(maxWaitMs));
}

// Records notifications and asks for a channel to be stopped once its
// progress shows some bytes sent.
class Receiver : public RecordingReceiver {
public:
    int stopChannelAfterProgress = -1;
    std::function<void()> atFirstProgress;  // run once, at the first progress of any channel
    int stopAtStart = -1;                   // a channel stopped as soon as it starts
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override {
        const auto* e = static_cast<const ImageEntry*>(payload);
        if (code == NOTIFY_PROGRESS && e->channel == stopChannelAfterProgress && e->bytesSent > 0) {
            stopChannelAfterProgress = -1;
            g_stopRequest = e->channel;
        }
        if (code == NOTIFY_CHANNEL_TEXT && e->channel == stopAtStart) {
            stopAtStart = -1;
            VARKO_StopChannel(e->channel);
        }
        if (code == NOTIFY_PROGRESS && e->bytesSent > 0) {
            std::lock_guard<std::mutex> lock(changeMutex_);
            if (atFirstProgress) std::exchange(atFirstProgress, nullptr)();
        }
        return RecordingReceiver::Send(message, code, payload);
    }
    std::vector<std::string> ChannelTexts(int channel) {
        std::vector<std::string> out;
        for (const auto& e : Entries()) {
            if (e.code == NOTIFY_CHANNEL_TEXT && e.channel == channel) out.push_back(e.text);
        }
        return out;
    }
    int ProgressCount(int channel) {
        int n = 0;
        for (const auto& e : Entries())
            n += e.code == NOTIFY_PROGRESS && e.channel == channel;
        return n;
    }

private:
    std::mutex changeMutex_;
};

// What the engine tells an observer of each image sent.
class ImageObserver : public engine::SessionObserver {
public:
    struct Seen {
        int channel;
        bool ok;
        int64_t fileSize;
        uint32_t crc32;
    };
    void SessionStarted(const int*) override {}
    void ChannelStarted(int) override {}
    void ImageFinished(int channel, const engine::ImageOutcome& image) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (image.slot == 8) seen_.push_back({channel, image.ok, image.fileSize, image.crc32});
    }
    void ChannelFinished(int, engine::ChannelResult, const char*) override {}
    void SessionFinished() override {}
    std::vector<Seen> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(seen_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_nWriteDelay = 0;
        platform::SetOperatorPrompt(&prompt_);
        VARKO_SetPumpHook(&StoppingPump);
        VARKO_ClearImages();
    }
    void TearDown() override {
        engine::SetSessionObserver(nullptr);
        VARKO_SetPumpHook(nullptr);
        platform::SetOperatorPrompt(nullptr);
        g_nWriteDelay = 2;
        g_bEmergencyMode = 1;
    }

    void StartHandsets(int count, std::vector<std::string> faults = {}, uint32_t baud = 0) {
        sim::SimOptions options;
        options.channels = count;
        options.baud = baud;
        options.dir = dir_.path();
        options.firstPort = 1;
        for (const std::string& text : faults) {
            sim::FaultRule rule;
            std::string error;
            ASSERT_TRUE(sim::ParseFault(text, &rule, &error)) << error;
            options.faults.push_back(rule);
        }
        simulator_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
        platform::PortMap_SetDirectory(dir_.path());
    }

    std::string Image(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.File(name);
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    // One session on COM1..COMn (channels 0..n-1).
    void RunSession(int channels, int emergency = 1, int baud = 1382400) {
        int ports[kChannelCount] = {};
        for (int ch = 0; ch < channels; ++ch)
            ports[ch] = ch + 1;
        VARKO_StartSession(&receiver_, NotifyMessage, ports, baud, 0);
        VARKO_RunSession(emergency);
        VARKO_StopSession();
    }

    // The go command is not waited for: give the handset time to take it.
    bool WaitForGo(int handset) {
        return simulator_->Handset(handset).WaitUntil(
            [](const sim::HandsetStats& s) { return s.gos >= 1; }, std::chrono::seconds(10));
    }

    Bytes Flash(int handset, uint32_t address, size_t length) {
        Bytes out;
        EXPECT_TRUE(simulator_->Handset(handset).ReadFlash(address, length, &out))
            << "handset " << handset << " at " << std::hex << address;
        return out;
    }

    TempDir dir_;
    RecordingPrompt prompt_;
    Receiver receiver_;
    ImageObserver observer_;
    std::unique_ptr<sim::Simulator> simulator_;
};

TEST_F(DownloadTest, EightChannelsGetEveryImageByteForByte) {
    StartHandsets(8);
    const Bytes modem = WithTrailer(Pattern(3 * 0x4000, 1), 0x1A0000);  // trailer: one more block
    const Bytes sbl = Pattern(40000, 2);                                // 15872 + 15872 + 8256
    const Bytes exact = Pattern(2 * 0x4000, 3);                         // no padded block
    ASSERT_EQ(VARKO_SetImage(8, Image("modem.bin", modem).c_str(), "1A0000"), 8);
    ASSERT_EQ(VARKO_SetImage(4, Image("qcsbl.mbn", sbl).c_str(), "100000"), 4);
    ASSERT_EQ(VARKO_SetImage(9, Image("exact.rc1", exact).c_str(), "400000"), 9);
    RunSession(8);

    Bytes sblFlash(0xC000, 0xFF);
    std::copy(sbl.begin(), sbl.begin() + 0x3E00, sblFlash.begin());
    std::copy(sbl.begin() + 0x3E00, sbl.begin() + 0x7C00, sblFlash.begin() + 0x4000);
    std::copy(sbl.begin() + 0x7C00, sbl.end(), sblFlash.begin() + 0x8000);
    sblFlash.resize(0x8000 + 0x3E00);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(Flash(k, 0x1A0000, 4 * 0x4000), Padded(modem, 0x4000)) << "handset " << k;
        EXPECT_EQ(Flash(k, 0x100000, sblFlash.size()), sblFlash) << "handset " << k;
        EXPECT_EQ(Flash(k, 0x400000, exact.size()), exact) << "handset " << k;
        Bytes beyond;
        EXPECT_FALSE(simulator_->Handset(k).ReadFlash(0x400000 + 0x8000, 1, &beyond));
        EXPECT_TRUE(WaitForGo(k));
        const sim::HandsetStats stats = simulator_->Stats(k);
        EXPECT_EQ(stats.unlocks, 2u);  // the unlock and the one that confirms it
        EXPECT_EQ(stats.erases, 3u);
        EXPECT_EQ(stats.writes, 4u + 3u + 2u);
        EXPECT_EQ(stats.closes, 1u);
        EXPECT_EQ(stats.gos, 1u);
        EXPECT_EQ(stats.startLines, 1u);
        const auto texts = receiver_.ChannelTexts(k);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts.front(), "CH" + std::to_string(k) + " Download Start");
        EXPECT_EQ(texts.back().rfind("CH" + std::to_string(k) + " All file Complete! [", 0), 0u);
        int okLines = 0;
        for (const auto& t : texts)
            okLines += t.find("KB OK! [") != std::string::npos;
        EXPECT_EQ(okLines, 3);
    }
    int boxes = 0;
    for (const auto& t : prompt_.Texts())
        boxes += t == "Download Completed!!";
    EXPECT_EQ(boxes, 8);
    for (int ch = 0; ch < kChannelCount; ++ch)
        EXPECT_EQ(g_nComPort[ch], 0);
}

TEST_F(DownloadTest, ResultLinesAndProgressFollowTheBlocks) {
    StartHandsets(1);
    ASSERT_EQ(VARKO_SetImage(9, Image("one.rc1", Pattern(100, 4)).c_str(), "800000"), 9);
    ASSERT_EQ(VARKO_SetImage(10, Image("many.rc2", Pattern(17 * 0x4000, 5)).c_str(), "900000"), 10);
    ASSERT_EQ(VARKO_SetImage(11, Image("empty.ffs", {}).c_str(), "A00000"),
              -1);  // nothing to flash
    RunSession(1);
    const auto texts = receiver_.ChannelTexts(0);
    const std::vector<std::string> expectedStarts = {
        "CH0 Download Start",      "Erase Flash",
        "CH0 Rsrc1 0.1KB OK! [",   "Erase Flash",
        "CH0 Rsrc2 278.5KB OK! [", "CH0 All file Complete! ["};
    ASSERT_EQ(texts.size(), expectedStarts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].rfind(expectedStarts[i], 0), 0u) << texts[i];
    // One block: after block 0 and after the loop; 17 blocks: 0, 16, after.
    EXPECT_EQ(receiver_.ProgressCount(0), 2 + 3);
    EXPECT_EQ(simulator_->Stats(0).writes, 1u + 17u);
    EXPECT_EQ(simulator_->Stats(0).erases, 2u);
    EXPECT_EQ(Flash(0, 0x800000, 0x4000), Padded(Pattern(100, 4), 0x4000));
}

TEST_F(DownloadTest, AFailedImageStopsItsChannelButCloseAndGoStillGo) {
    StartHandsets(2);
    ASSERT_EQ(VARKO_SetImage(8, Image("a.bin", Pattern(0x5000, 6)).c_str(), "100000"), 8);
    ASSERT_EQ(VARKO_SetImage(9, Image("b.rc1", Pattern(0x5000, 7)).c_str(), "200000"), 9);
    ASSERT_EQ(VARKO_SetImage(10, dir_.File("missing.rc2").c_str(), "300000"), 10);
    ASSERT_EQ(VARKO_SetImage(11, Image("d.ffs", Pattern(0x5000, 8)).c_str(), "400000"), 11);
    RunSession(2);
    for (int k = 0; k < 2; ++k) {
        const auto texts = receiver_.ChannelTexts(k);
        EXPECT_EQ(texts.back(), "ERR: No File");
        EXPECT_TRUE(WaitForGo(k));
        const sim::HandsetStats stats = simulator_->Stats(k);
        EXPECT_EQ(stats.erases, 2u);  // the fourth image is not tried
        EXPECT_EQ(stats.closes, 1u);
        EXPECT_EQ(stats.gos, 1u);
    }
    EXPECT_TRUE(prompt_.Texts().empty());
}

TEST_F(DownloadTest, AFileChangedDuringTheFlashIsSentAsItWasAtTheStart) {
    // Every channel sends the copy read when the session started, and the
    // observer hears that copy's size and CRC-32: a file cut short, grown or
    // rewritten in place meanwhile changes nothing any handset receives.
    const Bytes original = Pattern(20 * 0x4000, 14);
    const auto write = [](const char* mode, const Bytes& bytes) {
        return [=](const std::string& path) {
            FILE* f = std::fopen(path.c_str(), mode);
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        };
    };
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> cases = {
        {"cut", [](const std::string& path) { EXPECT_EQ(::truncate(path.c_str(), 0x4000), 0); }},
        {"grown", write("ab", Pattern(0x4000, 99))},
        {"rewritten", write("r+b", Pattern(original.size(), 77))},  // same size, same file
    };
    StartHandsets(2);
    engine::SetSessionObserver(&observer_);
    const uint32_t crc = VARKO_Crc32(0, original.data(), original.size());
    for (const auto& [name, change] : cases) {
        const std::string path = Image(name + ".bin", original);
        ASSERT_EQ(VARKO_SetImage(8, path.c_str(), "0"), 8);
        ASSERT_EQ(VARKO_SetImage(9, Image("next.rc1", Pattern(100, 12)).c_str(), "800000"), 9);
        receiver_.atFirstProgress = [&, path = path] { change(path); };
        RunSession(2);
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(receiver_.ChannelTexts(k).back().rfind("CH" + std::to_string(k) + " All", 0),
                      0u)
                << name;
            EXPECT_EQ(Flash(k, 0, original.size()), original) << name << " handset " << k;
        }
        const auto seen = observer_.Take();
        ASSERT_EQ(seen.size(), 2u) << name;
        for (const ImageObserver::Seen& image : seen) {
            EXPECT_TRUE(image.ok) << name;
            EXPECT_EQ(image.fileSize, static_cast<int64_t>(original.size())) << name;
            EXPECT_EQ(image.crc32, crc) << name;
        }
    }
}

TEST_F(DownloadTest, AnImageThatBecameAFifoFailsWithoutHangingTheChannel) {
    StartHandsets(1);
    const std::string path = Image("m.bin", Pattern(0x100, 15));
    ASSERT_EQ(VARKO_SetImage(8, path.c_str(), "0"), 8);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // nobody ever writes to it
    RunSession(1);
    EXPECT_EQ(receiver_.ChannelTexts(0).back(), "ERR: No File");
}

TEST_F(DownloadTest, AHandsetLeftHoldingHalfAFrameUnlocksInTheSameSession) {
    // The handset's receiver holds part of a write frame, as a session
    // stopped mid-frame or a cable pulled mid-frame leaves it. The next
    // session still unlocks (its first unlock is answered after the NAK of
    // the half frame, so it waits for the line to go quiet and unlocks
    // again); it is stopped in the middle of its image, and the session
    // after it unlocks at once.
    StartHandsets(1);
    const Bytes partial = {0x7E, 0x00, 0xDD, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 1, 2, 3, 4, 5};
    platform::SerialPort cable;
    ASSERT_EQ(cable.Open(simulator_->Ports()[0].device.c_str(), 115200, nullptr),
              platform::SerialPort::OpenResult::kOk);
    ASSERT_EQ(cable.Write(partial.data(), static_cast<int>(partial.size()), 5000),
              static_cast<int>(partial.size()));
    ASSERT_TRUE(simulator_->Handset(0).WaitUntil(
        [&](const sim::HandsetStats& s) { return s.bytesReceived == partial.size(); },
        std::chrono::seconds(10)));
    cable.Close();

    ASSERT_EQ(VARKO_SetImage(8, Image("m.bin", Pattern(64 * 0x4000, 16)).c_str(), "0"), 8);
    receiver_.stopChannelAfterProgress = 0;
    RunSession(1);
    EXPECT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 ERR: [", 0), 0u);
    EXPECT_EQ(simulator_->Stats(0).badFcsFrames, 1u);  // the half frame, ended by a lone flag
    // The probe answered after the half frame's NAK, then probe and confirmation.
    const uint64_t unlocksBefore = simulator_->Stats(0).unlocks;
    EXPECT_EQ(unlocksBefore, 3u);

    const Bytes small = Pattern(0x100, 17);
    ASSERT_EQ(VARKO_SetImage(8, Image("s.bin", small).c_str(), "100000"), 8);
    RunSession(1);
    EXPECT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 All file Complete!", 0), 0u);
    EXPECT_TRUE(WaitForGo(0));
    // In step at once (probe and confirmation), or once more when the
    // stopped session's last frames were still on their way (the probe or
    // the confirmation answered out of step, then both again).
    const uint64_t unlocks = simulator_->Stats(0).unlocks - unlocksBefore;
    EXPECT_TRUE(unlocks >= 2u && unlocks <= 4u) << unlocks;
    EXPECT_EQ(Flash(0, 0x100000, small.size()), small);
    EXPECT_TRUE(prompt_.Texts().size() == 1u && prompt_.Texts()[0] == "Download Completed!!");
}

TEST_F(DownloadTest, ASessionRightAfterAStoppedOneUnlocksAtEverySpeed) {
    // The stopped session leaves its last frames on their way to the
    // handset, which answers each of them before it reads the next
    // session's unlock. The next session waits for them, at any speed.
    for (const uint32_t baud : {115200u, 460800u, 1382400u}) {
        SCOPED_TRACE(baud);
        simulator_.reset();
        StartHandsets(1, {}, baud);
        VARKO_ClearImages();
        ASSERT_EQ(VARKO_SetImage(8, Image("big.bin", Pattern(8 * 0x4000, 18)).c_str(), "0"), 8);
        receiver_.stopChannelAfterProgress = 0;
        RunSession(1, 1, static_cast<int>(baud));
        ASSERT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 ERR: [", 0), 0u);

        const Bytes small = Pattern(0x100, 19);
        VARKO_ClearImages();
        ASSERT_EQ(VARKO_SetImage(8, Image("small.bin", small).c_str(), "200000"), 8);
        RunSession(1, 1, static_cast<int>(baud));
        EXPECT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 All file Complete!", 0), 0u);
        EXPECT_TRUE(WaitForGo(0));
        EXPECT_EQ(Flash(0, 0x200000, small.size()), small);
    }
    for (const auto& text : prompt_.Texts())
        EXPECT_EQ(text, "Download Completed!!");
}

TEST_F(DownloadTest, AChannelStoppedBeforeItsUnlockAsksForNoReboot) {
    // The operator stopped CH1 (its port went away, or the window closed)
    // before the handset answered: its unlock fails, but the handset is not
    // at fault and no box holds the session.
    StartHandsets(2);
    ASSERT_EQ(VARKO_SetImage(8, Image("m.bin", Pattern(0x4000, 13)).c_str(), "0"), 8);
    receiver_.stopAtStart = 1;
    RunSession(2);
    EXPECT_EQ(receiver_.ChannelTexts(1).back(), "ERR: Unlock");
    EXPECT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 All file Complete!", 0), 0u);
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Download Completed!!"});
}

TEST_F(DownloadTest, EachChannelsOutcomeIsKeptUntilTheNextRun) {
    // What the command line's exit status is read from: ch0 completes, ch1's
    // handset never unlocks, ch2 holds no port.
    StartHandsets(2, {"ch1:mute-unlock"});
    ASSERT_EQ(VARKO_SetImage(8, Image("m.bin", Pattern(0x4000, 14)).c_str(), "0"), 8);
    RunSession(2);
    const engine::ChannelOutcome done = engine::LastChannelOutcome(0);
    EXPECT_TRUE(done.ended);
    EXPECT_EQ(done.result, engine::ChannelResult::kCompleted);
    EXPECT_EQ(done.lastText.rfind("CH0 All file Complete!", 0), 0u);
    EXPECT_EQ(done.lastText, receiver_.ChannelTexts(0).back());
    const engine::ChannelOutcome failed = engine::LastChannelOutcome(1);
    EXPECT_TRUE(failed.ended);
    EXPECT_EQ(failed.result, engine::ChannelResult::kFailed);
    EXPECT_EQ(failed.lastText, "ERR: Unlock");
    EXPECT_FALSE(engine::LastChannelOutcome(2).ended);

    // The next run forgets them; its writes wait the delay it was started with.
    int none[kChannelCount] = {};
    VARKO_StartSession(&receiver_, NotifyMessage, none, 1382400, 7);
    EXPECT_EQ(g_nWriteDelay.load(), 7);
    VARKO_RunSession(1);
    VARKO_StopSession();
    EXPECT_FALSE(engine::LastChannelOutcome(0).ended);
    EXPECT_EQ(engine::LastChannelOutcome(0).lastText, "");
}

TEST_F(DownloadTest, StoppingOneChannelLetsTheOthersFinish) {
    StartHandsets(3);
    ASSERT_EQ(VARKO_SetImage(8, Image("big.bin", Pattern(64 * 0x4000, 9)).c_str(), "0"), 8);
    receiver_.stopChannelAfterProgress = 1;
    RunSession(3);
    EXPECT_EQ(receiver_.ChannelTexts(1).back().rfind("CH1 ERR: [", 0), 0u);
    for (int k : {0, 2}) {
        EXPECT_EQ(receiver_.ChannelTexts(k).back().rfind("CH" + std::to_string(k) + " All file", 0),
                  0u);
        EXPECT_EQ(Flash(k, 0, 64 * 0x4000), Pattern(64 * 0x4000, 9));
    }
}

TEST_F(DownloadTest, HandsetFaultsEndAsTheLinkPredicts) {
    // ch0 asks for resends now and then and still finishes byte for byte;
    // ch1 answers one block with NAK error 5; ch2 refuses to unlock;
    // ch3 is unplugged in the middle of the image.
    StartHandsets(4,
                  {"ch0:nak1-every=3", "ch1:nak-err=5@4", "ch2:mute-unlock", "ch3:hangup=70000"});
    const Bytes image = Pattern(12 * 0x4000, 10);
    ASSERT_EQ(VARKO_SetImage(8, Image("m.bin", image).c_str(), "20000"), 8);
    RunSession(4);

    EXPECT_EQ(receiver_.ChannelTexts(0).back().rfind("CH0 All file Complete!", 0), 0u);
    EXPECT_EQ(Flash(0, 0x20000, image.size()), image);
    EXPECT_GE(simulator_->Stats(0).resends, 3u);
    EXPECT_EQ(simulator_->Stats(0).resends, simulator_->Stats(0).resendRequests);

    const auto ch1 = receiver_.ChannelTexts(1);
    EXPECT_EQ(ch1.back(), "CH1 ERR: [0,1]");
    EXPECT_TRUE(WaitForGo(1));

    EXPECT_EQ(receiver_.ChannelTexts(2).back(), "ERR: Unlock");
    int reboots = 0;
    for (const auto& t : prompt_.Texts()) {
        reboots += t == "Please reboot Target\n           And\n   Connect Target";
    }
    EXPECT_EQ(reboots, 1);

    EXPECT_EQ(receiver_.ChannelTexts(3).back().rfind("CH3 ERR: [", 0), 0u);
    EXPECT_TRUE(simulator_->Stats(3).hungUp);
}

TEST_F(DownloadTest, RestartStepWakesTheHandsetAndOpensThePortAgain) {
    StartHandsets(1);
    g_restartPauseMs = 50;
    ASSERT_EQ(VARKO_SetImage(9, Image("r.rc1", Pattern(0x100, 11)).c_str(), "0"), 9);
    RunSession(1, 0);
    g_restartPauseMs = 20000;
    const auto texts = receiver_.ChannelTexts(0);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[1], "Restart");
    EXPECT_EQ(texts.back().rfind("CH0 All file Complete!", 0), 0u);
    EXPECT_EQ(simulator_->Stats(0).atLines, 1u);
    EXPECT_EQ(simulator_->Stats(0).startLines, 2u);
}

// Holds the worker of CH0 and of CH1 at its first progress of a run until
// that channel is released (bounded).
class HoldingReceiver : public Receiver {
public:
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override {
        const auto* e = static_cast<const ImageEntry*>(payload);
        if (code == NOTIFY_PROGRESS && e->channel < 2 && e->bytesSent > 0) {
            std::unique_lock<std::mutex> lock(holdMutex_);
            held_[e->channel] = true;
            released_.wait_for(lock, std::chrono::seconds(30),
                               [&] { return release_[e->channel]; });
        }
        return Receiver::Send(message, code, payload);
    }
    bool Held(int channel) {
        std::lock_guard<std::mutex> lock(holdMutex_);
        return held_[channel];
    }
    void Release(int channel) {
        std::lock_guard<std::mutex> lock(holdMutex_);
        release_[channel] = true;
        released_.notify_all();
    }

private:
    std::mutex holdMutex_;
    std::condition_variable released_;
    bool held_[2] = {};
    bool release_[2] = {};
};

TEST_F(DownloadTest, AChannelStartsAgainOnItsOwnWhileAnotherDownloads) {
    // CH1 is stopped in the middle of its image, set up again alone and run
    // on a worker of its own; CH0, in the middle of the same image all the
    // while, goes on from where it was. Both handsets end with the image.
    StartHandsets(2);
    const Bytes image = Pattern(24 * 0x4000, 21);
    ASSERT_EQ(VARKO_SetImage(8, Image("m.bin", image).c_str(), "40000"), 8);
    HoldingReceiver receiver;
    const int ports[kChannelCount] = {1, 2};
    VARKO_StartSession(&receiver, NotifyMessage, ports, 1382400, 0);
    VARKO_LoadImages();
    std::thread first([] { FileDownload(0); });
    std::thread second([] { FileDownload(1); });
    EXPECT_TRUE(
        WaitFor([&] { return receiver.Held(0) && receiver.Held(1); }, std::chrono::seconds(30)));
    VARKO_StopChannel(1);
    receiver.Release(1);
    second.join();
    EXPECT_EQ(engine::LastChannelOutcome(1).result, engine::ChannelResult::kStopped);

    ASSERT_EQ(VARKO_StartChannel(1, 2, 1382400), 1);
    second = std::thread([] { FileDownload(1); });
    receiver.Release(0);
    first.join();
    second.join();
    VARKO_StopSession();
    VARKO_ReleaseImages();
    for (int k = 0; k < 2; ++k) {
        const engine::ChannelOutcome outcome = engine::LastChannelOutcome(k);
        EXPECT_EQ(outcome.result, engine::ChannelResult::kCompleted) << outcome.lastText;
        EXPECT_EQ(Flash(k, 0x40000, image.size()), image) << "handset " << k;
    }
}

TEST_F(DownloadTest, NoChannelWithAPortEndsAtOnce) {
    int ports[kChannelCount] = {};
    VARKO_StartSession(&receiver_, NotifyMessage, ports, 1382400, 0);
    EXPECT_EQ(VARKO_RunSession(1), 1);
    VARKO_StopSession();
    EXPECT_TRUE(receiver_.Entries().empty());
    EXPECT_EQ(g_hNotifyWnd.load(), nullptr);
}

}  // namespace
