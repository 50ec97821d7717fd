// The flash commands on the wire, byte for byte, and their limits.
#include "link/commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "link/packet.h"
#include "tests/support/pty_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kCh = 4;

Bytes g_wire;
int32_t CaptureWrite(int, const uint8_t* buffer, int offset, int length) {
    g_wire.insert(g_wire.end(), buffer + offset, buffer + offset + length);
    return length;
}

Bytes Unstuff(const Bytes& wire) {
    Bytes out;
    for (size_t i = 1; i + 1 < wire.size(); ++i) {
        out.push_back(wire[i] == 0x7D ? static_cast<uint8_t>(wire[++i] ^ 0x20) : wire[i]);
    }
    return out;
}

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        FRAME_SetWriter(&CaptureWrite);
        testing_support::SetUpChannel(kCh, 0, 0);
        StartAtSequenceZero();
    }
    void TearDown() override { FRAME_SetWriter(nullptr); }
    static void StartAtSequenceZero() {
        g_wire.clear();
        FN[kCh].rxCount = 0;
        FLASH_DOWNLOADER_ResetLink(kCh);
    }
};

TEST_F(CommandsTest, OpcodeTable) {
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(0), 0x02);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(1), 0x03);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(4), 0x23);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(5), 0x24);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(9), 0x70);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(10), 0xFF);
    EXPECT_EQ(FLASH_DOWNLOADER_Opcode(-1), 0xFF);
}

TEST_F(CommandsTest, CommandsWithSequenceZeroAreByteExact) {
    FLASH_DOWNLOADER_SendUnlock(kCh);
    EXPECT_EQ(g_wire, (Bytes{0x7E, 0x00, 0xA0, 0x72, 0x55, 0x7E}));
    StartAtSequenceZero();
    FLASH_DOWNLOADER_SendClose(kCh);
    EXPECT_EQ(g_wire, (Bytes{0x7E, 0x00, 0xC0, 0x74, 0x36, 0x7E}));
    StartAtSequenceZero();
    FLASH_DOWNLOADER_SendGo(kCh);
    EXPECT_EQ(g_wire, (Bytes{0x7E, 0x00, 0x90, 0xF1, 0x64, 0x7E}));
    StartAtSequenceZero();
    FLASH_DOWNLOADER_SendErase(kCh, 0, 0x10000);
    EXPECT_EQ(g_wire, (Bytes{0x7E, 0x00, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x67,
                             0xA6, 0x7E}));
}

TEST_F(CommandsTest, WriteBlockLimitsAndFieldOrder) {
    const int selectBefore = packetSelect[kCh];
    const int txBefore = FN[kCh].txCount;
    Bytes data(0x4001, 0x5A);
    EXPECT_EQ(FLASH_DOWNLOADER_WriteBlock(kCh, 0, 0, data.data()), 0);
    EXPECT_EQ(FLASH_DOWNLOADER_WriteBlock(kCh, 0, 0x4001, data.data()), 0);
    EXPECT_EQ(packetSelect[kCh], selectBefore);
    EXPECT_EQ(FN[kCh].txCount, txBefore);
    EXPECT_TRUE(g_wire.empty());

    EXPECT_EQ(FLASH_DOWNLOADER_WriteBlock(kCh, 65536, 0x4000, data.data()), 1);
    Bytes packet = Unstuff(g_wire);
    ASSERT_EQ(packet.size(), 16394u);
    EXPECT_EQ(Bytes(packet.begin() + 1, packet.begin() + 8),
              (Bytes{0xDD, 0x00, 0x00, 0x01, 0x00, 0x00, 0x40}));

    StartAtSequenceZero();
    FLASH_DOWNLOADER_WriteBlock(kCh, 0x12345678, 0x3E00, data.data());
    packet = Unstuff(g_wire);
    EXPECT_EQ(Bytes(packet.begin() + 1, packet.begin() + 8),
              (Bytes{0xDD, 0x78, 0x56, 0x34, 0x12, 0x00, 0x3E}));
    EXPECT_EQ(packet.size(), 0x3E00u + 10);
}

TEST_F(CommandsTest, EraseAllowsOnePollPer4KiBAndAtLeastTen) {
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0), 10);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0x9FFF), 10);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0xA000), 10);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0xB000), 11);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0x10000), 16);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0x100000), 256);
    EXPECT_EQ(FLASH_DOWNLOADER_ErasePolls(0x80000000u), 10);  // top bit: a negative length
}

TEST_F(CommandsTest, CloseAfterAFailedSendGoesAtOnce) {
    FN[kCh].sendFailed = 1;
    FN[kCh].error_no = 2;  // a pending resend is skipped as well
    EXPECT_EQ(FLASH_DOWNLOADER_Close(kCh), 1);
    EXPECT_EQ(g_wire, (Bytes{0x7E, 0x00, 0xC0, 0x74, 0x36, 0x7E}));
    EXPECT_EQ(FN[kCh].error_no, 2);
}

}  // namespace
