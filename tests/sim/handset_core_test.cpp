#include "sim/handset_core.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/crc32.h"
#include "tests/sim/test_frames.h"

namespace {

using simtest::EraseCommand;
using simtest::Packet;
using simtest::Reply;
using simtest::WriteCommand;
using Bytes = std::vector<uint8_t>;

const Bytes kUnlock{0xA0};
const Bytes kClose{0xC0};
const Bytes kGo{0x90};

Bytes Ack(uint8_t seq) {
    return Reply({seq, 0x02});
}
Bytes Nak(uint8_t seq, uint8_t error) {
    return Reply({seq, 0x03, 0x00, error});
}

struct Result {
    Bytes replies;  // every reply, in order
    std::vector<uint32_t> delays;
    bool hangUp = false;
};

Result Send(sim::HandsetCore& core, const Bytes& bytes) {
    Result result;
    sim::Outcome outcome;
    for (size_t taken = 0; taken < bytes.size();) {
        taken += core.Feed(bytes.data() + taken, bytes.size() - taken, &outcome);
        if (!outcome.Acts()) continue;
        result.replies.insert(result.replies.end(), outcome.reply.begin(), outcome.reply.end());
        result.delays.push_back(outcome.delayMs);
        result.hangUp = result.hangUp || outcome.hangUp;
    }
    return result;
}

sim::HandsetConfig Config(std::vector<sim::Fault> faults = {}) {
    sim::HandsetConfig config;
    config.index = 3;
    config.faults = std::move(faults);
    config.targetInfo = sim::DefaultTargetInfo(3);
    return config;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SimHandsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvsim-core-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(SimHandsetTest, SessionLandsInTheModelAndTheDump) {
    sim::HandsetConfig config = Config();
    config.outDir = dir_;
    config.eraseMsPer4k = 3;
    sim::HandsetCore core(config);
    const Bytes block = simtest::Pattern(0x4000, 1), tail = simtest::Pattern(0x3E00, 2);
    EXPECT_EQ(Send(core, Packet(1, kUnlock)).replies, Ack(1));
    const Result erase = Send(core, Packet(2, EraseCommand(0x20000, 0x10000)));
    EXPECT_EQ(erase.replies, Ack(2));
    EXPECT_EQ(erase.delays, (std::vector<uint32_t>{48}));  // 16 x 4 KiB at 3 ms
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0x20000, block))).replies, Ack(3));
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0x24000, tail))).replies, Ack(0));
    EXPECT_EQ(Send(core, Packet(1, EraseCommand(0x40000, 0x3E00))).replies, Ack(1));
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0x40000, tail))).replies, Ack(2));
    EXPECT_EQ(Send(core, Packet(3, kClose)).replies, Ack(3));
    EXPECT_EQ(Send(core, Packet(0, kGo)).replies, Ack(0));
    // The go is answered first; the line then writes the dump.
    ASSERT_TRUE(core.TakeDumpDue());
    EXPECT_FALSE(core.TakeDumpDue());
    ASSERT_TRUE(core.WriteDumpNow());

    Bytes expected(0x10000, 0xFF);
    std::copy(block.begin(), block.end(), expected.begin());
    std::copy(tail.begin(), tail.end(), expected.begin() + 0x4000);
    Bytes readBack;
    ASSERT_TRUE(core.Flash().Read(0x20000, 0x10000, &readBack));
    EXPECT_EQ(readBack, expected);
    Bytes bin = expected;
    bin.insert(bin.end(), tail.begin(), tail.end());
    EXPECT_EQ(ReadFile(dir_ + "/ch3.bin"), bin);
    char index[80];
    std::snprintf(index, sizeof index, "00020000 00010000 %08X\n00040000 00003E00 %08X\n",
                  sim::Crc32(expected.data(), expected.size()),
                  sim::Crc32(tail.data(), tail.size()));
    const Bytes idx = ReadFile(dir_ + "/ch3.idx");
    EXPECT_EQ(std::string(idx.begin(), idx.end()), index);

    const sim::HandsetStats stats = core.Stats();
    EXPECT_EQ(stats.packets, 8u);
    EXPECT_EQ(stats.dataPackets, 5u);
    EXPECT_EQ(stats.acks, 8u);
    EXPECT_EQ(stats.dumpsWritten, 1u);
    EXPECT_EQ(stats.RejectedFrames(), 0u);
    // The image set is complete: the next unlock starts a fresh model.
    EXPECT_EQ(core.Flash().Ranges().size(), 2u);
    Send(core, Packet(1, kUnlock));
    EXPECT_TRUE(core.Flash().Ranges().empty());
}

TEST_F(SimHandsetTest, RefusedPacketsGetTheirNakAndLeaveTheModelAlone) {
    sim::HandsetConfig config = Config();
    config.flashSize = 0x100000;
    sim::HandsetCore core(config);
    const Bytes data(16, 0x11);
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0, data))).replies, Nak(0, 2));
    EXPECT_EQ(Send(core, Packet(1, EraseCommand(0, 0x1000))).replies, Nak(1, 2));
    EXPECT_EQ(Send(core, Packet(2, kUnlock)).replies, Ack(2));
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0, data, 15))).replies, Nak(3, 3));
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0, data, 17))).replies, Nak(0, 3));
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(0, Bytes(0x4001, 1)))).replies, Nak(1, 3));
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0, {}))).replies, Nak(2, 3));
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0xFFFF1, data))).replies,
              Nak(3, 3));  // one past the end
    EXPECT_EQ(Send(core, Packet(0, EraseCommand(0xFFFFF000u, 0x2000))).replies, Nak(0, 3));
    EXPECT_EQ(Send(core, Packet(1, EraseCommand(0x800, 0))).replies, Ack(1));  // nothing to do
    EXPECT_EQ(Send(core, Packet(2, {0xEE, 0, 0, 0, 0})).replies, Nak(2, 3));
    EXPECT_EQ(Send(core, Packet(3, {0x23})).replies, Nak(3, 4));
    EXPECT_EQ(Send(core, Packet(0, {0xA0, 0x00})).replies, Nak(0, 3));
    // Flash never erased is not written, not even in part.
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(0, data))).replies, Nak(1, 5));
    EXPECT_EQ(Send(core, Packet(2, EraseCommand(0, 0x2000))).replies, Ack(2));
    EXPECT_EQ(Send(core, Packet(3, EraseCommand(0x2000, 0x2000))).replies, Ack(3));
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0x3FF8, data))).replies, Nak(0, 5));
    // The largest write fits; so does the last byte of the flash.
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(0, Bytes(0x4000, 1)))).replies, Ack(1));
    EXPECT_EQ(Send(core, Packet(2, EraseCommand(0xFFFF0, 16))).replies, Ack(2));
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0xFFFF0, data))).replies, Ack(3));
    const auto ranges = core.Flash().Ranges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].length, 0x4000u);
    EXPECT_EQ(ranges[1].address, 0xFFFF0u);
    const sim::HandsetStats stats = core.Stats();
    EXPECT_EQ(stats.lockedRejects, 2u);
    EXPECT_EQ(stats.lengthRejects, 7u);
    EXPECT_EQ(stats.unknownCommands, 1u);
    EXPECT_EQ(stats.unerasedWrites, 2u);
    EXPECT_EQ(stats.naks, 13u);
    // The next image set starts a fresh model; what was erased stays erased.
    Send(core, Packet(0, kGo));
    EXPECT_EQ(Send(core, Packet(1, kUnlock)).replies, Ack(1));
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0x100, data))).replies, Ack(2));
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0x4000, data))).replies, Nak(3, 5));
}

TEST_F(SimHandsetTest, DamagedFramesAreCountedAndOnlyBadFcsIsAnswered) {
    sim::HandsetCore core(Config());
    Bytes bad = Packet(1, kUnlock);
    bad[3] ^= 0x01;  // FCS low byte
    EXPECT_EQ(Send(core, bad).replies, Nak(1, 1));
    EXPECT_TRUE(Send(core, {0x7E, 0x00, 0x02, 0x7E}).replies.empty());        // too short
    EXPECT_TRUE(Send(core, Packet(5, kUnlock)).replies.empty());              // no such sequence
    EXPECT_TRUE(Send(core, {0x7E, 0x01, 0xA0, 0x7D, 0x7E}).replies.empty());  // aborted
    Bytes truncated = Packet(0, WriteCommand(0, Bytes(64, 0x33)));
    truncated.resize(20);
    truncated.push_back(0x7E);  // the rest never came
    EXPECT_EQ(Send(core, truncated).replies, Nak(0, 1));
    const sim::HandsetStats stats = core.Stats();
    EXPECT_EQ(stats.badFcsFrames, 2u);
    EXPECT_EQ(stats.runtFrames, 1u);
    EXPECT_EQ(stats.badSeqFrames, 1u);
    EXPECT_EQ(stats.abortedFrames, 1u);
    EXPECT_EQ(stats.RejectedFrames(), 5u);
    EXPECT_EQ(stats.packets, 0u);
    EXPECT_EQ(stats.unlocks, 0u);
}

TEST_F(SimHandsetTest, NakFaultsRefuseThePacketAndResendsAreNotNumbered) {
    sim::HandsetCore core(Config({{sim::FaultKind::kNakResendEvery, 2, 0},
                                  {sim::FaultKind::kNakError, 0x7D, 3},
                                  {sim::FaultKind::kNakError, 1, 5}}));
    Send(core, Packet(0, kUnlock));
    const Bytes a(8, 0xA1), b(8, 0xB2), c(8, 0xC3);
    EXPECT_EQ(Send(core, Packet(1, EraseCommand(0x000, 0x500))).replies, Ack(1));    // data 1
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0x100, b))).replies, Nak(2, 1));     // data 2
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0x200, a))).replies, Nak(3, 0x7D));  // data 3
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0x100, b))).replies, Ack(0));        // resend
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(0x300, c))).replies, Nak(1, 1));     // data 4
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0x400, c))).replies, Nak(2, 1));     // data 5
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(0x400, c))).replies, Ack(3));        // resend
    EXPECT_EQ(Send(core, Packet(0, WriteCommand(0x300, c))).replies, Ack(0));        // resend
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(0x300, c))).replies, Nak(1, 1));     // data 6
    const sim::HandsetStats stats = core.Stats();
    EXPECT_EQ(stats.dataPackets, 6u);
    EXPECT_EQ(stats.resendRequests, 4u);
    EXPECT_EQ(stats.resends, 3u);
    EXPECT_EQ(stats.faultsFired, 5u);
    Bytes bytes;
    ASSERT_TRUE(core.Flash().Read(0x200, 8, &bytes));
    EXPECT_EQ(bytes, Bytes(8, 0xFF));  // NAK 0x7D: not written
    ASSERT_TRUE(core.Flash().Read(0x100, 8, &bytes));
    EXPECT_EQ(bytes, b);
}

TEST_F(SimHandsetTest, ReplyFaultsDamageOnlyTheReplyOfTheirPacket) {
    sim::HandsetConfig config = Config({{sim::FaultKind::kBadFcs, 0, 1},
                                        {sim::FaultKind::kBadSlot, 0, 2},
                                        {sim::FaultKind::kStray, 0x7E, 3},
                                        {sim::FaultKind::kDrop, 0, 4},
                                        {sim::FaultKind::kTargetInfo, 0, 5},
                                        {sim::FaultKind::kSlowErase, 40, 0}});
    config.targetInfo[20] = 0x7E;  // bytes that must be stuffed on the wire
    config.targetInfo[21] = 0x7D;
    sim::HandsetCore core(config);
    Send(core, Packet(0, kUnlock));
    const Bytes ack1 = Ack(1);
    const Result erase = Send(core, Packet(1, EraseCommand(0, 0x1000)));
    // The same ACK, only its FCS is wrong.
    ASSERT_GE(erase.replies.size(), ack1.size());
    EXPECT_EQ(Bytes(erase.replies.begin(), erase.replies.begin() + 3),
              Bytes(ack1.begin(), ack1.begin() + 3));
    EXPECT_NE(erase.replies, ack1);
    EXPECT_EQ(erase.delays, (std::vector<uint32_t>{40}));
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(0, {1}))).replies, Reply({0x05, 0x02}));
    EXPECT_EQ(Send(core, Packet(3, WriteCommand(1, {2}))).replies, Reply({0x03, 0x7E}));
    EXPECT_TRUE(Send(core, Packet(0, WriteCommand(2, {3}))).replies.empty());
    Bytes info{0x01, 0x70, 0x00};
    const auto target = config.targetInfo;
    info.insert(info.end(), target.begin(), target.end());
    EXPECT_EQ(Send(core, Packet(1, WriteCommand(3, {4}))).replies, Reply(info));
    EXPECT_EQ(Send(core, Packet(2, WriteCommand(4, {5}))).replies, Ack(2));
    Bytes bytes;
    ASSERT_TRUE(core.Flash().Read(0, 6, &bytes));
    EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4, 5, 0xFF}));  // every packet was applied
    EXPECT_EQ(core.Stats().faultsFired, 5u);
}

TEST_F(SimHandsetTest, UnlockFaultsAndHangUp) {
    sim::HandsetCore core(Config({{sim::FaultKind::kMuteUnlock, 2, 0},
                                  {sim::FaultKind::kTargetInfo, 0, 0},
                                  {sim::FaultKind::kHangUp, 6 * 3 + 4, 0}}));
    EXPECT_TRUE(Send(core, Packet(0, kUnlock)).replies.empty());
    EXPECT_TRUE(Send(core, Packet(1, kUnlock)).replies.empty());
    Bytes info{0x02, 0x70, 0x00};
    const auto target = sim::DefaultTargetInfo(3);
    EXPECT_STREQ(reinterpret_cast<const char*>(target.data()), "kvmodem-sim3");
    info.insert(info.end(), target.begin(), target.end());
    EXPECT_EQ(Send(core, Packet(2, kUnlock)).replies, Reply(info));
    // The 22nd byte completes nothing; the line goes dead there.
    const Result last = Send(core, Packet(3, WriteCommand(0, Bytes(8, 7))));
    EXPECT_TRUE(last.hangUp);
    EXPECT_TRUE(last.replies.empty());
    const sim::HandsetStats stats = core.Stats();
    EXPECT_TRUE(stats.hungUp);
    EXPECT_EQ(stats.bytesReceived, 22u);  // nothing counted after the hang-up
    EXPECT_EQ(stats.unlocks, 3u);
    EXPECT_EQ(stats.writes, 0u);
}

}  // namespace
