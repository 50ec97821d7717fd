// The frame codec: FCS values, stuffing, staging into port writes, and the
// deframer fed in every possible split.
#include "link/frame.h"

#include "link/serial.h"
#include "tests/support/pty_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kCh = 5;

std::vector<std::vector<uint8_t>> g_writes;
int32_t RecordWrite(int /*channel*/, const uint8_t* buffer, int offset, int length) {
    g_writes.emplace_back(buffer + offset, buffer + offset + length);
    return length;
}

std::vector<std::vector<uint8_t>> g_frames;
void RecordFrame(int /*channel*/, const uint8_t* frame, int from, int to) {
    g_frames.emplace_back(frame + from, frame + to);
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_writes.clear();
        g_frames.clear();
        FRAME_SetWriter(&RecordWrite);
        FRAME_SetReceiver(&RecordFrame);
        FRAME_Reset(kCh);
    }
    void TearDown() override {
        FRAME_SetWriter(nullptr);
        FRAME_SetReceiver(nullptr);
    }
    static std::vector<uint8_t> Sent() {
        std::vector<uint8_t> all;
        for (const auto& w : g_writes)
            all.insert(all.end(), w.begin(), w.end());
        return all;
    }
    static void Parse(const std::vector<uint8_t>& bytes) {
        FRAME_Parse(kCh, bytes.data(), 0, static_cast<int>(bytes.size()));
    }
};

using Bytes = std::vector<uint8_t>;

TEST_F(FrameTest, FcsMatchesTheX25CheckValuesAndTable) {
    const char* digits = "123456789";
    EXPECT_EQ(CRC16_Compute(reinterpret_cast<const uint8_t*>(digits), 9), 0x906E);
    EXPECT_EQ(CRC16_Compute(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9E25);
    EXPECT_EQ(g_fcsTable[1], 0x1189);
    EXPECT_EQ(g_fcsTable[255], 0x0F78);

    uint32_t reg = 0;
    uint8_t buffer[16] = {0xAA, 0xA0};
    CRC16_Append(reg, buffer, 1, 1);  // the unlock command byte
    EXPECT_EQ(buffer[2], 0x72);
    EXPECT_EQ(buffer[3], 0x55);
    EXPECT_EQ(CRC16_Verify(reg, buffer, 1, 3), 1);
    buffer[3] ^= 1;
    EXPECT_EQ(CRC16_Verify(reg, buffer, 1, 3), 0);

    // No bytes: the FCS of nothing is 0x0000, and a two-byte count compares with it.
    uint8_t empty[4] = {9, 9, 9, 9};
    CRC16_Append(reg, empty, 1, 0);
    EXPECT_EQ(empty[1], 0);
    EXPECT_EQ(empty[2], 0);
    EXPECT_EQ(CRC16_Verify(reg, empty, 1, 2), 1);
}

TEST_F(FrameTest, SendStuffsOnlyFlagAndEscape) {
    const Bytes packet = {0x01, 0xA0, 0x72, 0x55};
    FRAME_Send(kCh, packet.data(), 0, 4);
    EXPECT_EQ(Sent(), (Bytes{0x7E, 0x01, 0xA0, 0x72, 0x55, 0x7E}));
    EXPECT_EQ(g_writes.size(), 1u);

    g_writes.clear();
    const Bytes awkward = {0x7E, 0x7D, 0x11, 0x13, 0x00, 0x1F, 0x5E};
    FRAME_Send(kCh, awkward.data(), 0, 7);
    EXPECT_EQ(Sent(), (Bytes{0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x11, 0x13, 0x00, 0x1F, 0x5E, 0x7E}));
}

TEST_F(FrameTest, StagingWritesChunksOfAtMost4096) {
    // 4094 plain bytes plus two flags fill the stage exactly: one write, by
    // the flush at the 4096th byte; the end-of-frame flush writes nothing.
    Bytes exact(4094, 0x11);
    FRAME_Send(kCh, exact.data(), 0, 4094);
    ASSERT_EQ(g_writes.size(), 1u);
    EXPECT_EQ(g_writes[0].size(), 4096u);

    // A largest write packet with stuffing everywhere: every chunk <= 4096,
    // nothing lost, the frame decodes back to the packet.
    g_writes.clear();
    Bytes big(16394);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = (i % 3 == 0) ? 0x7E : static_cast<uint8_t>(i);
    FRAME_Send(kCh, big.data(), 0, static_cast<int>(big.size()));
    for (const auto& w : g_writes)
        EXPECT_LE(w.size(), 4096u);
    Parse(Sent());
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], big);
}

// A port write that holds the frame until the test opens the gate.
std::mutex g_gateMutex;
std::condition_variable g_gateChanged;
bool g_gateOpen = false;
size_t g_bytesWritten = 0;
int32_t GatedWrite(int /*channel*/, const uint8_t* /*buffer*/, int /*offset*/, int length) {
    std::unique_lock<std::mutex> lock(g_gateMutex);
    g_bytesWritten += static_cast<size_t>(length);
    g_gateChanged.notify_all();
    g_gateChanged.wait_for(lock, std::chrono::seconds(10), [] { return g_gateOpen; });
    return length;
}

TEST_F(FrameTest, AStopWaitsForTheFrameBeingWrittenToLeaveWhole) {
    // Cut short, the frame would stay half in the handset's receiver and the
    // next session's unlock would be joined onto it.
    FRAME_SetWriter(&GatedWrite);
    const Bytes packet(16000, 0x11);  // four port writes, nothing stuffed
    std::thread worker([&] { FRAME_Send(kCh, packet.data(), 0, 16000); });
    {
        std::unique_lock<std::mutex> lock(g_gateMutex);
        ASSERT_TRUE(g_gateChanged.wait_for(lock, std::chrono::seconds(10),
                                           [] { return g_bytesWritten > 0; }));
    }
    std::atomic<bool> stopped{false};
    size_t writtenAtStop = 0;
    std::thread stopper([&] {
        SERIAL_PORT_Stop(kCh);
        std::lock_guard<std::mutex> lock(g_gateMutex);
        writtenAtStop = g_bytesWritten;
        stopped = true;
    });
    // The stop must still be waiting; give a wrong one the chance to return.
    testing_support::WaitFor([&] { return stopped.load(); }, std::chrono::milliseconds(300));
    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        g_gateOpen = true;
        g_gateChanged.notify_all();
    }
    worker.join();
    stopper.join();
    EXPECT_EQ(writtenAtStop, packet.size() + 2);
}

TEST_F(FrameTest, DeframerHandlesFlagRunsEscapesAndStrayBytes) {
    Parse({0x7E, 0x7E, 0x7E, 0x01, 0x02, 0x7E});
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], (Bytes{0x01, 0x02}));

    g_frames.clear();
    FRAME_Reset(kCh);
    Parse({0x7E, 0x7E});
    EXPECT_TRUE(g_frames.empty());
    EXPECT_EQ(rxState[kCh], 1);

    // 02 after a closing flag is dropped while hunting; the last flag opens a frame.
    g_frames.clear();
    FRAME_Reset(kCh);
    Parse({0x7E, 0x01, 0x7E, 0x02, 0x7E});
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], Bytes{0x01});
    EXPECT_EQ(rxState[kCh], 1);

    g_frames.clear();
    FRAME_Reset(kCh);
    Parse({0x7E, 0x7D, 0x5E, 0x7E});
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], Bytes{0x7E});

    // An escape before a flag stores 0x5E and the frame goes on.
    g_frames.clear();
    FRAME_Reset(kCh);
    Parse({0x7E, 0x01, 0x7D, 0x7E, 0x02, 0x7E});
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], (Bytes{0x01, 0x5E, 0x02}));
}

TEST_F(FrameTest, FramesSplitAtEveryByteArriveOnceAndUnchanged) {
    const Bytes packet = {0x02, 0x7E, 0x03, 0x7D, 0x00, 0x01, 0x7E, 0x7D};
    FRAME_Send(kCh, packet.data(), 0, static_cast<int>(packet.size()));
    Bytes wire = Sent();
    wire.insert(wire.begin(), {0x55, 0x7E});  // garbage and an extra flag in front
    for (size_t cut = 0; cut <= wire.size(); ++cut) {
        g_frames.clear();
        FRAME_Reset(kCh);
        FRAME_Parse(kCh, wire.data(), 0, static_cast<int>(cut));
        FRAME_Parse(kCh, wire.data(), static_cast<int>(cut), static_cast<int>(wire.size()));
        ASSERT_EQ(g_frames.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(g_frames[0], packet) << "cut at " << cut;
    }
}

TEST_F(FrameTest, OversizeFrameIsDroppedWholeWithoutOverrun) {
    Bytes wire{0x7E};
    wire.insert(wire.end(), kRxFrameSize + 100, 0x33);
    wire.push_back(0x7E);
    const Bytes next = {0x7E, 0x01, 0x02, 0x03, 0x7E};
    wire.insert(wire.end(), next.begin(), next.end());
    // Fill the byte just behind the frame buffer's neighbour to see it stays put.
    const int32_t lengthBefore = rxLength[kCh + 1];
    Parse(wire);
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0], (Bytes{0x01, 0x02, 0x03}));
    EXPECT_EQ(rxLength[kCh + 1], lengthBefore);

    // A frame of exactly the buffer's size still arrives.
    g_frames.clear();
    FRAME_Reset(kCh);
    Bytes full{0x7E};
    full.insert(full.end(), kRxFrameSize, 0x44);
    full.push_back(0x7E);
    Parse(full);
    ASSERT_EQ(g_frames.size(), 1u);
    EXPECT_EQ(g_frames[0].size(), static_cast<size_t>(kRxFrameSize));
}

}  // namespace
