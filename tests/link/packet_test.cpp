// The packet window's bookkeeping: reply counting, resend, and the window
// rule, with frames captured in memory instead of a port.
#include "link/packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/commands.h"
#include "link/frame.h"
#include "tests/support/pty_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kCh = 3;

std::vector<Bytes> g_frames;  // decoded frames the host sent
Bytes g_wire;
int32_t CaptureWrite(int, const uint8_t* buffer, int offset, int length) {
    g_wire.insert(g_wire.end(), buffer + offset, buffer + offset + length);
    // Split the wire into frames as they complete.
    for (;;) {
        size_t open = 0;
        while (open < g_wire.size() && g_wire[open] != 0x7E)
            ++open;
        size_t close = open + 1;
        while (close < g_wire.size() && g_wire[close] != 0x7E)
            ++close;
        if (close >= g_wire.size()) break;
        Bytes frame;
        for (size_t i = open + 1; i < close; ++i) {
            if (g_wire[i] == 0x7D) {
                frame.push_back(g_wire[++i] ^ 0x20);
            } else {
                frame.push_back(g_wire[i]);
            }
        }
        g_frames.push_back(frame);
        g_wire.erase(g_wire.begin(), g_wire.begin() + static_cast<long>(close) + 1);
    }
    return length;
}

Bytes Reply(uint8_t first, const Bytes& body) {
    Bytes frame(1 + body.size(), first);  // sized at once: g++ 12 warns on growing {first}
    std::copy(body.begin(), body.end(), frame.begin() + 1);
    uint16_t fcs = CRC16_Compute(body.data(), static_cast<int>(body.size()));
    frame.push_back(static_cast<uint8_t>(fcs & 0xFF));
    frame.push_back(static_cast<uint8_t>(fcs >> 8));
    return frame;
}

void Deliver(const Bytes& frame) {
    FLASH_DOWNLOADER_Receive(kCh, frame.data(), 0, static_cast<int>(frame.size()));
}

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_frames.clear();
        g_wire.clear();
        FRAME_SetWriter(&CaptureWrite);
        testing_support::SetUpChannel(kCh, 0, 0);
    }
    void TearDown() override { FRAME_SetWriter(nullptr); }
    LinkState& fn() { return FN[kCh]; }
    int base() { return fn().txCount; }
};

TEST_F(PacketTest, RepliesAreCountedPerTheirKind) {
    const int32_t rx0 = fn().rxCount;
    Deliver({0x00});
    Deliver({0x00, 0x02});
    EXPECT_EQ(fn().rxCount, rx0);  // one or two bytes: not a reply

    Deliver({0x00, 0x00, 0x00});  // three bytes: counted; the FCS of nothing matches 00 00
    EXPECT_EQ(fn().rxCount, rx0 + 1);
    EXPECT_EQ(fn().errorCount, 1);  // and code 0x00 is a stray reply
    fn().errorCount = 0;

    Deliver(Reply(0x01, {0x02}));
    EXPECT_EQ(fn().replyRing[1], 0x02);

    fn().replyRing[2] = 0;
    Deliver(Reply(0x82, {0x02}));  // high bit set: low two bits name the slot
    EXPECT_EQ(fn().replyRing[2], 0x02);
    EXPECT_EQ(fn().errorCount, 0);

    Deliver(Reply(0x03, {0x03, 0x00, 0x05}));  // NAK with another error
    EXPECT_EQ(fn().replyRing[3], 0x03);
    EXPECT_EQ(fn().errorCount, 1);
    EXPECT_EQ(fn().error_no, -1);

    fn().replyRing[0] = 0;
    const int32_t beforeCorrupt = fn().rxCount;
    Bytes bad = Reply(0x00, {0x02});
    bad.back() ^= 0xFF;
    Deliver(bad);  // bad FCS: the slot it names is freed, a resend is asked
    EXPECT_EQ(fn().errorCount, 2);
    EXPECT_EQ(fn().error_no, beforeCorrupt + 1);
    EXPECT_EQ(fn().replyRing[beforeCorrupt & 3], 0x02);

    Deliver(Reply(0x05, {0x02}));  // first byte 0x05: a corrupted frame
    EXPECT_EQ(fn().errorCount, 3);
    EXPECT_EQ(fn().error_no, fn().rxCount);

    const int32_t strayNumber = fn().rxCount;
    fn().replyRing[1] = 0;
    Deliver(Reply(0x01, {0x44}));  // a stray reply code frees its slot
    EXPECT_EQ(fn().replyRing[1], 0x02);
    EXPECT_EQ(lastStraySlot[kCh], strayNumber & 3);
    EXPECT_EQ(fn().errorCount, 4);

    const int32_t rxBeforeInfo = fn().rxCount;
    const uint8_t ringBefore[4] = {fn().replyRing[0], fn().replyRing[1], fn().replyRing[2],
                                   fn().replyRing[3]};
    Bytes info{0x70, 0x00};
    for (int i = 0; i < kTargetInfoSize; ++i)
        info.push_back(static_cast<uint8_t>(i + 1));
    Deliver(Reply(0x00, info));
    EXPECT_EQ(fn().rxCount, rxBeforeInfo + 1);
    EXPECT_EQ(fn().errorCount, 4);
    for (int s = 0; s < 4; ++s)
        EXPECT_EQ(fn().replyRing[s], ringBefore[s]);
    uint8_t target[kTargetInfoSize];
    FLASH_DOWNLOADER_GetTargetInfo(target);
    EXPECT_EQ(target[0], 1);
    EXPECT_EQ(target[kTargetInfoSize - 1], kTargetInfoSize);

    // A shorter reply fills what it carries; the rest is zero, never its FCS.
    Deliver(Reply(0x00, {0x70, 0x00, 0x11, 0x22, 0x33}));
    FLASH_DOWNLOADER_GetTargetInfo(target);
    EXPECT_EQ(Bytes(target, target + 5), (Bytes{0x11, 0x22, 0x33, 0x00, 0x00}));
}

TEST_F(PacketTest, NakWithErrorOneAsksForOneResendAndASecondCountsAsError) {
    const int n = base();
    FLASH_DOWNLOADER_SendErase(kCh, 0x1000, 0x10);
    FLASH_DOWNLOADER_SendErase(kCh, 0x2000, 0x20);
    ASSERT_EQ(g_frames.size(), 2u);
    ASSERT_EQ(g_frames[0].size(), 12u);

    Deliver(Reply(static_cast<uint8_t>(n & 3), {0x03, 0x00, 0x01}));
    EXPECT_EQ(fn().error_no, n);
    EXPECT_EQ(fn().replyRing[n & 3], 0x03);
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 1), 0);

    // A second resend request while one is pending would be lost: an error.
    Deliver(Reply(static_cast<uint8_t>((n + 1) & 3), {0x03, 0x00, 0x01}));
    EXPECT_EQ(fn().error_no, n);
    EXPECT_EQ(fn().errorCount, 1);

    FLASH_DOWNLOADER_Resend(kCh);
    ASSERT_EQ(g_frames.size(), 3u);
    EXPECT_EQ(g_frames[2][0], (n + 2) & 3);  // the next sequence number
    EXPECT_EQ(Bytes(g_frames[2].begin() + 1, g_frames[2].end() - 2),
              Bytes(g_frames[0].begin() + 1, g_frames[0].end() - 2));
    EXPECT_EQ(fn().error_no, -1);
    EXPECT_EQ(fn().replyRing[n & 3], 0x02);  // the NAK'd slot no longer blocks

    Deliver(Reply(static_cast<uint8_t>((n + 2) & 3), {0x02}));
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 1), 1);

    // Nothing pending: a resend sends nothing.
    FLASH_DOWNLOADER_Resend(kCh);
    EXPECT_EQ(g_frames.size(), 3u);
}

TEST_F(PacketTest, ResendsInARowEachSendTheirOwnPacket) {
    // A, B and C out; A is NAK'd and sent again, then B is NAK'd. B must go
    // again itself: not the erase, not a packet built over B's buffer after
    // A's resend.
    const int n = base();
    FLASH_DOWNLOADER_SendErase(kCh, 0, 0x20000);
    Deliver(Reply(static_cast<uint8_t>(n & 3), {0x02}));
    uint8_t block[16];
    const auto write = [&](int i) {
        std::fill(std::begin(block), std::end(block), static_cast<uint8_t>(0xA0 + i));
        FLASH_DOWNLOADER_Resend(kCh);
        FLASH_DOWNLOADER_WriteBlock(kCh, 0x4000u * i, 16, block);
    };
    write(0);
    write(1);
    write(2);
    Deliver(Reply(static_cast<uint8_t>((n + 1) & 3), {0x03, 0x00, 0x01}));  // A
    FLASH_DOWNLOADER_Resend(kCh);
    // B's NAK is read while A's resend waits for the window, so D is built
    // with B's resend pending.
    Deliver(Reply(static_cast<uint8_t>((n + 2) & 3), {0x03, 0x00, 0x01}));
    std::fill(std::begin(block), std::end(block), 0xA3);
    FLASH_DOWNLOADER_WriteBlock(kCh, 0xC000, 16, block);
    for (int r = 3; r <= 5; ++r)  // C, A again, D
        Deliver(Reply(static_cast<uint8_t>((n + r) & 3), {0x02}));
    FLASH_DOWNLOADER_Resend(kCh);
    Deliver(Reply(static_cast<uint8_t>((n + 6) & 3), {0x02}));  // B again
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 1), 1);
    EXPECT_EQ(fn().errorCount, 0);

    // The write blocks went out in this order, each with its own bytes:
    // A, B, C, A, D, B; the erase only once.
    const auto fill = [](const Bytes& frame) { return frame.size() > 9 ? frame[8] : 0; };
    ASSERT_EQ(g_frames.size(), 7u);
    EXPECT_EQ(g_frames[0][1], 0xEE);
    const uint8_t expected[] = {0xA0, 0xA1, 0xA2, 0xA0, 0xA3, 0xA1};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(g_frames[i + 1][1], 0xDD) << "frame " << i + 1;
        EXPECT_EQ(fill(g_frames[i + 1]), expected[i]) << "frame " << i + 1;
        EXPECT_EQ(g_frames[i + 1][0], (n + 1 + static_cast<int>(i)) & 3) << "frame " << i + 1;
    }
}

TEST_F(PacketTest, AResendWithNoPacketLeftSendsNothingAndCountsAnError) {
    // A corrupted reply names the reply after it; no packet was ever sent
    // with that number since the session started.
    FLASH_DOWNLOADER_SelectFirstBuffer(kCh);
    FLASH_DOWNLOADER_ResetLink(kCh);
    FLASH_DOWNLOADER_Receive_CRC_error(kCh, 0);
    ASSERT_NE(fn().error_no, -1);
    FLASH_DOWNLOADER_Resend(kCh);
    EXPECT_TRUE(g_frames.empty());
    EXPECT_EQ(fn().error_no, -1);
    EXPECT_EQ(fn().errorCount, 2);
}

TEST_F(PacketTest, ANakForTheOldestPacketDoesNotShutTheWindowForever) {
    // Three packets out; the first is NAK'd with error 1 while the fourth is
    // about to go. The pending resend owns that slot, so the fourth goes at
    // once, then the resend, and the exchange finishes clean.
    const int n = base();
    const uint8_t block[16] = {1, 2, 3};
    for (int i = 0; i < 3; ++i)
        FLASH_DOWNLOADER_WriteBlock(kCh, 0x4000u * i, 16, block);
    Deliver(Reply(static_cast<uint8_t>(n & 3), {0x03, 0x00, 0x01}));
    Deliver(Reply(static_cast<uint8_t>((n + 1) & 3), {0x02}));
    Deliver(Reply(static_cast<uint8_t>((n + 2) & 3), {0x02}));

    FLASH_DOWNLOADER_WriteBlock(kCh, 0xC000, 16, block);
    EXPECT_EQ(fn().sendFailed, 0);
    ASSERT_EQ(g_frames.size(), 4u);

    FLASH_DOWNLOADER_Resend(kCh);
    ASSERT_EQ(g_frames.size(), 5u);
    EXPECT_EQ(g_frames[4][0], (n + 4) & 3);
    EXPECT_EQ(Bytes(g_frames[4].begin() + 1, g_frames[4].begin() + 6),
              Bytes(g_frames[0].begin() + 1, g_frames[0].begin() + 6));
    Deliver(Reply(static_cast<uint8_t>((n + 3) & 3), {0x02}));
    Deliver(Reply(static_cast<uint8_t>((n + 4) & 3), {0x02}));
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 1), 1);
    EXPECT_EQ(fn().errorCount, 0);
}

TEST_F(PacketTest, FourthPacketWithoutRepliesIsDroppedAfterTheWindowWait) {
    const int n = base();
    for (int i = 0; i < 3; ++i)
        FLASH_DOWNLOADER_SendUnlock(kCh);
    EXPECT_EQ(g_frames.size(), 3u);
    EXPECT_EQ(fn().sendFailed, 0);

    FLASH_DOWNLOADER_SendUnlock(kCh);  // 1200 polls without an answer
    EXPECT_EQ(g_frames.size(), 3u);
    EXPECT_EQ(fn().sendFailed, 1);
    EXPECT_EQ(fn().txCount, n + 4);

    // A stopped channel ends the wait at once.
    channelActive[kCh] = 0;
    EXPECT_EQ(FLASH_DOWNLOADER_WaitWindow(kCh, 1000000), 0);
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 1000000), 0);
}

}  // namespace
