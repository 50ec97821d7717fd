// The serial channel device on real pseudo-terminals.
#include "link/serial.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <thread>
#include <vector>

#include "link/notify.h"
#include "link/packet.h"
#include "tests/support/pty_peer.h"

namespace {

using namespace testing_support;
constexpr int kCh = 2;
constexpr int kCom = 12;  // two digits open like one

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        PinPort(dir_.path(), kCom, pty_.slavePath());
        g_nWriteDelay = 0;
        SetUpChannel(kCh, kCom, 115200);
        g_hNotifyWnd = &receiver_;
        g_uNotifyMsg = NotifyMessage;
    }
    void TearDown() override {
        SERIAL_PORT_Stop(kCh);
        g_hNotifyWnd = nullptr;
        g_uNotifyMsg = 0;
        g_nWriteDelay = 2;
    }
    TempDir dir_;
    Pty pty_;
    RecordingReceiver receiver_;
};

TEST_F(SerialTest, OpenCloseAndReopen) {
    ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
    SerialHandle first = g_hSerialDevice[kCh].load();
    ASSERT_TRUE(first);
    EXPECT_EQ(SERIAL_PORT_Open(kCh), 1);
    EXPECT_EQ(g_hSerialDevice[kCh].load(), first);

    // Recording a new port while the old one is open is refused.
    EXPECT_EQ(SERIAL_PORT_Start(kCh, 7, 9600), 0);
    EXPECT_EQ(g_nComPort[kCh], kCom);
    EXPECT_EQ(g_dwBaudRate[kCh], 115200u);

    EXPECT_EQ(SERIAL_PORT_Close(kCh), 1);
    EXPECT_FALSE(g_hSerialDevice[kCh].load());
    EXPECT_EQ(SERIAL_PORT_Close(kCh), 0);
    ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);

    TraceCapture traces;
    SERIAL_PORT_Stop(kCh);
    SERIAL_PORT_Stop(kCh);
    EXPECT_EQ(TraceCapture::Lines().back(), ">> SERIAL_PORT_Stop()\n");
    EXPECT_TRUE(receiver_.Entries().empty());
}

TEST_F(SerialTest, OpenFailuresAreReportedAndNeverHalfOpen) {
    TraceCapture traces;
    // Never started (baud rate 0): no status text.
    g_dwBaudRate[kCh] = 0;
    EXPECT_EQ(SERIAL_PORT_Open(kCh), 0);
    EXPECT_TRUE(receiver_.Entries().empty());

    // A device that does not exist: the trace names it, the status line says so.
    PinPort(dir_.path(), 13, dir_.File("no-such-device"));
    SERIAL_PORT_Start(kCh, 13, 115200);
    EXPECT_EQ(SERIAL_PORT_Open(kCh), 0);
    EXPECT_EQ(receiver_.Texts(NOTIFY_STATUS),
              std::vector<std::string>{"SERIAL_DEVICE_Open(COM13) Failed!"});
    EXPECT_TRUE(
        TraceCapture::Contains("CreateFile(" + dir_.File("no-such-device") + ") False = 2"));
    EXPECT_TRUE(TraceCapture::Contains("[Ch 2] g_hSerialDevice == NULL"));

    // A baud rate the device refuses fails the line setup.
    EXPECT_FALSE(SERIAL_DEVICE_Open(kCh, kCom, 0));
    EXPECT_TRUE(TraceCapture::Contains("[Ch 2] SetCommState False\n"));

    // 1382400 baud is no standard speed and still opens.
    SerialHandle fast = SERIAL_DEVICE_Open(kCh, kCom, 1382400);
    ASSERT_TRUE(fast);
    // A second opener of the same device is refused while the first holds it.
    EXPECT_FALSE(SERIAL_DEVICE_Open(kCh + 1, kCom, 1382400));
    EXPECT_TRUE(TraceCapture::Contains("[Ch 3] CreateFile(" + pty_.slavePath() + ") False"));
    SERIAL_DEVICE_Close(kCh, fast);
    SerialHandle again = SERIAL_DEVICE_Open(kCh + 1, kCom, 1382400);
    EXPECT_TRUE(again);
    SERIAL_DEVICE_Close(kCh + 1, again);
}

TEST_F(SerialTest, ReadsNeverBlockAndTakeAtMostOneQueue) {
    ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
    uint8_t buffer[kSerialQueueSize + 16];
    EXPECT_EQ(SERIAL_PORT_Read(kCh, buffer, 0, kSerialQueueSize), 0);

    std::vector<uint8_t> sent(9000);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7);
    std::thread writer([&] { pty_.Write(sent); });
    std::vector<uint8_t> got;
    bool chunksBounded = true;
    EXPECT_TRUE(WaitFor([&] {
        int32_t n = SERIAL_PORT_Read(kCh, buffer, 8, kSerialQueueSize);
        if (n > kSerialQueueSize) chunksBounded = false;
        if (n > 0) got.insert(got.end(), buffer + 8, buffer + 8 + n);
        return got.size() >= sent.size();
    }));
    writer.join();
    EXPECT_TRUE(chunksBounded);
    EXPECT_EQ(got, sent);
}

TEST_F(SerialTest, HangUpClosesThePortAndLaterWaitsRunOut) {
    ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
    const uint8_t frame[] = {0x7E, 0x00, 0xA0, 0x72, 0x55, 0x7E};
    EXPECT_EQ(SERIAL_PORT_Write(kCh, frame, 0, sizeof frame), static_cast<int32_t>(sizeof frame));
    pty_.Write({0x7E, 0x00});  // half a reply, then the cable is pulled
    pty_.CloseMaster();
    EXPECT_TRUE(WaitFor([&] {
        SERIAL_PORT_DoReading(kCh);
        return !g_hSerialDevice[kCh].load();
    }));
    EXPECT_EQ(SERIAL_PORT_Write(kCh, frame, 0, sizeof frame), -1);
    FN[kCh].txCount = FN[kCh].rxCount + 1;
    EXPECT_EQ(FLASH_DOWNLOADER_WaitAllAcked(kCh, 20), 0);
}

TEST_F(SerialTest, StopFromAnotherThreadEndsABlockedWrite) {
    ASSERT_EQ(SERIAL_PORT_Open(kCh), 1);
    // Nobody reads the far end: the queue fills and the write blocks.
    std::vector<uint8_t> lots(1 << 20, 0x11);
    std::atomic<int32_t> result{-2};
    std::thread worker(
        [&] { result = SERIAL_PORT_Write(kCh, lots.data(), 0, static_cast<int>(lots.size())); });
    EXPECT_TRUE(WaitFor([&] {
        int queued = 0;
        ioctl(pty_.master(), FIONREAD, &queued);
        return queued > 0;
    }));
    SERIAL_PORT_Stop(kCh);
    worker.join();
    EXPECT_LT(result.load(), static_cast<int32_t>(lots.size()));
    EXPECT_FALSE(g_hSerialDevice[kCh].load());
}

}  // namespace
