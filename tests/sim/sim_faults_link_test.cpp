// Every fault of the simulator against the host's packet window: the host's
// counters show what its window makes of each one.
#include <atomic>

#include "platform/tick.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace simtest {
namespace {

// An unlock, an erase (data packet 1) and six blocks (data packets 2..7).
constexpr int kBlocks = 6;
constexpr uint32_t kBlock = 0x4000;

// Bytes of an ACK frame on the wire (the same for every sequence number: the
// FCS covers only the code).
uint64_t AckFrameSize() {
    return Reply({0, 0x02}).size();
}

class SimFaultLink : public SimFixture {
protected:
    // Runs the session up to the last block; false when unlock or erase failed.
    bool UnlockEraseDownload(HostChannel& host) {
        if (FLASH_DOWNLOADER_Unlock(host.ch()) != 1) return false;
        if (FLASH_DOWNLOADER_Erase(host.ch(), 0, 0x20000) != 1) return false;
        host.Download(0, image_, kBlock);
        return true;
    }
    // Reads replies until every packet sent has its reply (bounded).
    bool PumpUntilAllReplied(int ch, std::chrono::milliseconds timeout = 3000ms) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (FN[ch].rxCount != FN[ch].txCount) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            SERIAL_PORT_DoReading(ch);
            platform::Sleep(1);
        }
        return true;
    }
    std::vector<uint8_t> Block(int i) const {
        return {image_.begin() + kBlock * i, image_.begin() + kBlock * (i + 1)};
    }

    const std::vector<uint8_t> image_ = Pattern(kBlock * kBlocks, 11);
};

TEST_F(SimFaultLink, NakOneIsResentOnceAndTheImageArrivesIntact) {
    // Data packet 4 is block 2: its NAK is read at the latest when block 5
    // waits for the window, so the Resend before the next block sends it again.
    StartSim(1, 2, {"nak1-every=4"});
    HostChannel host(4, 2);
    ASSERT_TRUE(UnlockEraseDownload(host));
    ASSERT_TRUE(host.CloseAndGo()) << host.State();
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.gos == 1; }));
    EXPECT_EQ(host.fn().errorCount, 0);
    EXPECT_EQ(host.fn().sendFailed, 0);
    const sim::HandsetStats stats = sim_->Stats(0);
    EXPECT_EQ(stats.resendRequests, 1u);
    EXPECT_EQ(stats.resends, 1u);
    EXPECT_EQ(stats.writes, static_cast<uint64_t>(kBlocks));  // the NAKed one only as its resend
    EXPECT_EQ(ReadFlash(0, 0, image_.size()), image_);
}

TEST_F(SimFaultLink, SeveralNakOnesInALongImageAreAllResent) {
    // 12 blocks: data packets 5 and 10 are blocks 3 and 8.
    StartSim(1, 2, {"nak1-every=5"});
    HostChannel host(4, 2);
    const std::vector<uint8_t> image = Pattern(kBlock * 12, 12);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0, 0x40000), 1);
    host.Download(0, image, kBlock);
    ASSERT_TRUE(host.CloseAndGo()) << host.State();
    EXPECT_EQ(host.fn().errorCount, 0);
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.gos == 1; }));
    EXPECT_EQ(sim_->Stats(0).resends, 2u);
    EXPECT_EQ(ReadFlash(0, 0, image.size()), image);
}

TEST_F(SimFaultLink, ResendRequestsOneBlockApartNeverWriteStaleData) {
    // Every second data packet is NAK'd: a resend is in flight when the
    // next request comes. The host either finishes clean with every block
    // intact or counts an error; it never sends the erase again or a block
    // built over a packet still waiting. Replies come at whatever moment the
    // line brings them, so several images go to the handset. With 13 blocks
    // every image's erase is an odd data packet and is answered.
    StartSim(1, 2, {"nak1-every=2"});
    HostChannel host(4, 2);
    const std::vector<uint8_t> image = Pattern(kBlock * 13, 13);
    for (uint64_t round = 1; round <= 4; ++round) {
        ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
        ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0, 0x40000), 1);
        // As the image download does: replies are read after every block.
        for (uint32_t offset = 0; offset < image.size(); offset += kBlock) {
            FLASH_DOWNLOADER_Resend(host.ch());
            FLASH_DOWNLOADER_WriteBlock(host.ch(), offset, kBlock, image.data() + offset);
            SERIAL_PORT_DoReading(host.ch());
            if (host.fn().errorCount != 0 || host.fn().sendFailed != 0) break;
        }
        // Its last step: every resend asked for goes out.
        const bool clean = FLASH_DOWNLOADER_Drain(host.ch(), 2000) == 1 && host.CloseAndGo() &&
                           host.fn().errorCount == 0;
        ASSERT_TRUE(WaitSim(0, [&](const sim::HandsetStats& s) { return s.closes == round; }));
        EXPECT_EQ(sim_->Stats(0).erases, round) << "round " << round;
        if (!clean) continue;
        ASSERT_TRUE(WaitSim(0, [&](const sim::HandsetStats& s) { return s.gos == round; }));
        EXPECT_TRUE(ReadFlash(0, 0, image.size()) == image) << "round " << round << host.State();
    }
    EXPECT_GE(sim_->Stats(0).resends, 4u);
}

TEST_F(SimFaultLink, WrongFcsAndStrayRepliesCountOneErrorEach) {
    StartSim(2, 1, {"ch0:bad-fcs@2", "ch1:stray@2"});  // the reply to block 0
    for (int k = 0; k < 2; ++k) {
        HostChannel host(6 + k, 1 + k);
        ASSERT_TRUE(UnlockEraseDownload(host));
        EXPECT_TRUE(host.CloseAndGo()) << "handset " << k;
        EXPECT_EQ(host.fn().errorCount, 1) << "handset " << k;
        // The handset did the work; only its answer was spoiled.
        ASSERT_TRUE(WaitSim(k, [](const sim::HandsetStats& s) { return s.gos == 1; }));
        EXPECT_EQ(sim_->Stats(k).faultsFired, 1u);
        EXPECT_EQ(ReadFlash(k, 0, image_.size()), image_) << "handset " << k;
    }
}

TEST_F(SimFaultLink, ReplyStartingWith05CountsOneError) {
    StartSim(1, 3, {"bad-slot@2"});
    HostChannel host(0, 3);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0, 0x20000), 1);
    for (int i = 0; i < 3; ++i)
        FLASH_DOWNLOADER_WriteBlock(host.ch(), kBlock * i, kBlock, Block(i).data());
    ASSERT_TRUE(PumpUntilAllReplied(host.ch()));
    EXPECT_EQ(host.fn().errorCount, 1);
    EXPECT_NE(host.fn().error_no, -1);  // the host asks for a resend
    EXPECT_EQ(sim_->Stats(0).faultsFired, 1u);
}

TEST_F(SimFaultLink, NakWithAnotherErrorCountsOneErrorAndTheBlockIsMissing) {
    StartSim(1, 1, {"nak-err=5@7"});  // the last block
    HostChannel host(2, 1);
    ASSERT_TRUE(UnlockEraseDownload(host));
    ASSERT_TRUE(host.CloseAndGo()) << host.State();
    EXPECT_EQ(host.fn().errorCount, 1);
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.gos == 1; }));
    EXPECT_EQ(sim_->Stats(0).naks, 1u);
    const std::vector<uint8_t> written = ReadFlash(0, 0, kBlock * (kBlocks - 1));
    EXPECT_EQ(written, std::vector<uint8_t>(image_.begin(), image_.end() - kBlock));
    EXPECT_EQ(ReadFlash(0, kBlock * (kBlocks - 1), kBlock), std::vector<uint8_t>(kBlock, 0xFF));
}

TEST_F(SimFaultLink, DroppedReplyMakesWaitAllAckedRunOut) {
    StartSim(1, 7, {"drop@7"});  // the last block
    HostChannel host(1, 7);
    ASSERT_TRUE(UnlockEraseDownload(host));
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(host.ch(), 100), 0);
    EXPECT_EQ(host.fn().txCount - host.fn().rxCount, 1);
    EXPECT_EQ(host.fn().errorCount, 0);
    // The block itself arrived.
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.writes == kBlocks; }));
    EXPECT_EQ(ReadFlash(0, 0, image_.size()), image_);
}

TEST_F(SimFaultLink, UnansweredUnlockFailsUntilTheHandsetAnswers) {
    StartSim(1, 2, {"mute-unlock=1"});
    {
        HostChannel host(3, 2);
        EXPECT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 0);
        // The failed unlock ends with a close; its ACK must be on the line
        // before the port closes, or the next session would read it.
        ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) {
            return s.closes == 1 && s.bytesSent == AckFrameSize();
        }));
    }
    HostChannel host(3, 2);  // the retry opens the port afresh, dropping stale input
    EXPECT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1)
        << host.State() << "; handset: unlocks " << sim_->Stats(0).unlocks << ", bytes in "
        << sim_->Stats(0).bytesReceived << ", out " << sim_->Stats(0).bytesSent;
    const sim::HandsetStats stats = sim_->Stats(0);
    EXPECT_EQ(stats.unlocks, 2u);
    EXPECT_EQ(stats.faultsFired, 1u);
}

TEST_F(SimFaultLink, SlowEraseOnOneHandsetOnly) {
    StartSim(2, 4, {"ch1:slow-erase=3000"});
    HostChannel fast(0, 4), slow(1, 5);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(fast.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(slow.ch()), 1);
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(fast.ch(), 0, 0x10000), 1);
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(slow.ch(), 0, 0x10000), 0);
    // Still erasing: only the unlock's ACK went out, the close waits behind
    // the erase. Stopping the handset must not wait for it.
    const sim::HandsetStats stats = sim_->Stats(1);
    EXPECT_EQ(stats.erases, 1u);
    EXPECT_EQ(stats.closes, 0u);
    EXPECT_EQ(stats.bytesSent, AckFrameSize());
}

TEST_F(SimFaultLink, TargetInformationReachesTheHost) {
    StartSim(3, 1, {"ch2:info"});
    HostChannel host(5, 3);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
    uint8_t info[kTargetInfoSize];
    FLASH_DOWNLOADER_GetTargetInfo(info);
    const auto expected = sim::DefaultTargetInfo(2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), info));
    EXPECT_EQ(host.fn().errorCount, 0);
}

TEST_F(SimFaultLink, HangUpClosesTheHostsPortWithoutCrashing) {
    StartSim(1, 6, {"hangup=16"});  // the unlock's 6 bytes and 10 of the erase
    HostChannel host(7, 6);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
    FLASH_DOWNLOADER_SendErase(host.ch(), 0, 0x10000);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (g_hSerialDevice[host.ch()].load() && std::chrono::steady_clock::now() < deadline) {
        SERIAL_PORT_DoReading(host.ch());
        platform::Sleep(1);
    }
    EXPECT_EQ(g_hSerialDevice[host.ch()].load(), nullptr);
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.hungUp; }));
    EXPECT_EQ(sim_->Stats(0).bytesReceived, 16u);
    EXPECT_EQ(sim_->Stats(0).erases, 0u);
    // The port is closed: writing fails cleanly.
    const uint8_t bytes[] = {0x7E, 0x7E};
    EXPECT_EQ(SERIAL_PORT_Write(host.ch(), bytes, 0, 2), -1);
}

}  // namespace
}  // namespace simtest
