// The packet window and the flash commands against a scripted handset on a
// real pseudo-terminal pair.
#include <gtest/gtest.h>

#include <functional>
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

TEST(UnlockInStepTest, TheUnlockIsTakenOnlyOnceTheHandsetAnswersInStep) {
    // What the handset answers to each packet of the session start, by the
    // packet's index; the answers of an earlier, stopped session come first.
    using Script = std::function<Bytes(const HostPacket&, int)>;
    struct Case {
        const char* name;
        Script script;
        int result;
        size_t unlocks;  // unlock packets the host sent
    };
    const auto join = [](std::initializer_list<Bytes> frames) {
        Bytes out;
        for (const Bytes& f : frames)
            out.insert(out.end(), f.begin(), f.end());
        return out;
    };
    const std::vector<Case> cases = {
        {"in step", [](const HostPacket& p, int) { return Ack(p.seq); }, 1, 2},
        // An earlier session's answer happens to carry the probe's number;
        // the next ones (consecutive, then the probe's own) give it away.
        {"old answer in the probe's slot",
         [&](const HostPacket& p, int i) {
             if (i == 0) return Ack(p.seq);
             if (i == 1) return join({Ack((p.seq + 3) & 3), Ack((p.seq + 2) & 3), Ack(p.seq)});
             return Ack(p.seq);
         },
         1, 4},
        {"a half frame's NAK first",
         [&](const HostPacket& p, int i) {
             return i == 0 ? join({Nak(1, 1), Ack(p.seq)}) : Ack(p.seq);
         },
         1, 3},
        {"mute", [](const HostPacket&, int) { return Bytes{}; }, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Pty pty;
        PinPort(dir.path(), kCom, pty.slavePath());
        g_nWriteDelay = 0;
        SetUpChannel(kCh, kCom, 1382400);
        ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
        ScriptedPeer peer(pty, c.script);
        EXPECT_EQ(FLASH_DOWNLOADER_UnlockInStep(kCh), c.result);
        SERIAL_PORT_Stop(kCh);
        peer.Stop();
        size_t unlocks = 0, closes = 0;
        for (const HostPacket& p : peer.Packets()) {
            unlocks += p.command == Bytes{0xA0};
            closes += p.command == Bytes{0xC0};
        }
        EXPECT_EQ(unlocks, c.unlocks);
        EXPECT_EQ(closes, c.result == 1 ? 0u : 1u);  // a failed unlock closes, as ever
        if (c.result == 1) {
            EXPECT_EQ(FN[kCh].txCount, FN[kCh].rxCount);  // next packet in step
        }
    }
    g_nWriteDelay = 2;
}
