// The packet window and the flash commands against a scripted handset on a
// real pseudo-terminal pair.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "link/commands.h"
#include "link/packet.h"
#include "link/serial.h"
#include "tests/support/pty_peer.h"

namespace {

using namespace testing_support;
using Bytes = std::vector<uint8_t>;
constexpr int kCh = 6;
constexpr int kCom = 3;

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        PinPort(dir_.path(), kCom, pty_.slavePath());
        g_nWriteDelay = 0;
        SetUpChannel(kCh, kCom, 1382400);
        ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
    }
    void TearDown() override {
        SERIAL_PORT_Stop(kCh);
        g_nWriteDelay = 2;
    }
    LinkState& fn() { return FN[kCh]; }
    TempDir dir_;
    Pty pty_;
};

TEST_F(WindowTest, AtMostThreePacketsAreUnanswered) {
    ScriptedPeer silent(pty_, nullptr);
    for (int i = 0; i < 4; ++i)
        FLASH_DOWNLOADER_SendUnlock(kCh);
    EXPECT_EQ(fn().sendFailed, 1);  // the fourth waited 1200 polls in vain
    EXPECT_TRUE(silent.WaitForPackets(3));
    silent.Stop();
    EXPECT_EQ(silent.PacketCount(), 3u);
}

TEST_F(WindowTest, FourthPacketGoesOnceTheFirstIsAcknowledged) {
    ScriptedPeer peer(pty_, [](const HostPacket& p, int index) {
        if (index < 2) return Bytes{};
        Bytes replies;
        if (index == 2) {  // answer the first two only now
            for (int back = 2; back >= 1; --back) {
                Bytes ack = Ack(static_cast<uint8_t>((p.seq - back) & 3));
                replies.insert(replies.end(), ack.begin(), ack.end());
            }
        }
        Bytes ack = Ack(p.seq);
        replies.insert(replies.end(), ack.begin(), ack.end());
        return replies;
    });
    for (int i = 0; i < 6; ++i)
        FLASH_DOWNLOADER_SendUnlock(kCh);
    EXPECT_EQ(fn().sendFailed, 0);
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 2000), 1);
    EXPECT_EQ(peer.PacketCount(), 6u);
    EXPECT_EQ(fn().errorCount, 0);
}

// Runs unlock, erase and blocks the way an image download does, with the
// handset asking once for a resend of the packet at nakIndex.
void DownloadWithOneResend(int nakIndex, Pty& pty) {
    std::map<uint32_t, Bytes> flash;
    std::mutex flashMutex;
    ScriptedPeer peer(pty, [&](const HostPacket& p, int index) {
        if (index == nakIndex) return Nak(p.seq, 1);
        if (!p.command.empty() && p.command[0] == 0xDD) {
            uint32_t address = p.command[1] | p.command[2] << 8 | p.command[3] << 16 |
                               static_cast<uint32_t>(p.command[4]) << 24;
            std::lock_guard<std::mutex> lock(flashMutex);
            flash[address] = Bytes(p.command.begin() + 7, p.command.end());
        }
        return Ack(p.seq);
    });
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0, 8 * 0x4000), 1);
    Bytes block(0x4000);
    for (uint32_t i = 0; i < 8; ++i) {
        std::fill(block.begin(), block.end(), static_cast<uint8_t>(0x40 + i));
        FLASH_DOWNLOADER_Resend(kCh);
        FLASH_DOWNLOADER_WriteBlock(kCh, i * 0x4000, 0x4000, block.data());
        SERIAL_PORT_DoReading(kCh);
        ASSERT_EQ(FN[kCh].sendFailed, 0) << "block " << i << ", NAK at " << nakIndex;
    }
    ASSERT_EQ(FLASH_DOWNLOADER_Drain(kCh, 2000), 1) << "NAK at " << nakIndex;
    EXPECT_EQ(FN[kCh].errorCount, 0);
    EXPECT_EQ(peer.PacketCount(), 2u + 8u + 1u);  // unlock, erase, blocks, one resend
    std::lock_guard<std::mutex> lock(flashMutex);
    ASSERT_EQ(flash.size(), 8u);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(flash[i * 0x4000], Bytes(0x4000, static_cast<uint8_t>(0x40 + i)));
    }
}

TEST_F(WindowTest, ANakWithErrorOneAnywhereLeadsToOneResendAndACleanFinish) {
    for (int nakIndex = 2; nakIndex < 10; ++nakIndex) {
        SERIAL_PORT_Stop(kCh);
        SetUpChannel(kCh, kCom, 1382400);
        ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
        DownloadWithOneResend(nakIndex, pty_);
        if (HasFatalFailure()) return;
    }
}

TEST_F(WindowTest, UnlockWithoutAnswerSendsClose) {
    ScriptedPeer silent(pty_, nullptr);
    EXPECT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 0);
    EXPECT_EQ(fn().sendFailed, 1);  // the drain before the close ran out
    ASSERT_TRUE(silent.WaitForPackets(2));
    auto packets = silent.Packets();
    EXPECT_EQ(packets[0].command, Bytes{0xA0});
    EXPECT_EQ(packets[1].command, Bytes{0xC0});
}

TEST_F(WindowTest, EraseWithoutAnswerFailsAndSendsClose) {
    ScriptedPeer peer(
        pty_, [](const HostPacket& p, int) { return p.command[0] == 0xEE ? Bytes{} : Ack(p.seq); });
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 1);
    EXPECT_EQ(FLASH_DOWNLOADER_Erase(kCh, 0x20000, 0x10000), 0);
    ASSERT_TRUE(peer.WaitForPackets(3));
    auto packets = peer.Packets();
    EXPECT_EQ(packets[1].command, (Bytes{0xEE, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(packets[2].command, Bytes{0xC0});
}

TEST_F(WindowTest, OddRepliesFromTheWire) {
    // A first byte with the high bit set answers by its low two bits; a
    // target-information reply is counted but answers nothing.
    ScriptedPeer peer(pty_, [](const HostPacket& p, int index) {
        if (index == 0) return Ack(static_cast<uint8_t>(0x80 | p.seq));
        Bytes replies = Ack(p.seq);
        Bytes info{0x70, 0x00};
        for (int i = 0; i < kTargetInfoSize; ++i)
            info.push_back(static_cast<uint8_t>(0xA0 + i));
        Bytes extra = ReplyFrame(p.seq, info);
        replies.insert(replies.end(), extra.begin(), extra.end());
        return replies;
    });
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(kCh), 1);
    EXPECT_EQ(fn().errorCount, 0);
    FLASH_DOWNLOADER_SendGo(kCh);
    EXPECT_TRUE(WaitFor([&] {
        SERIAL_PORT_DoReading(kCh);
        return fn().rxCount == fn().txCount + 1;
    }));
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 5), 0);
    uint8_t info[kTargetInfoSize];
    FLASH_DOWNLOADER_GetTargetInfo(info);
    EXPECT_EQ(info[0], 0xA0);
    EXPECT_EQ(info[kTargetInfoSize - 1], 0xA0 + kTargetInfoSize - 1);
}

}  // namespace
