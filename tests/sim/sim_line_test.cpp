// The simulator's line over a real pseudo-terminal, written to directly:
// rejected input, AT lines, bytes after a hang-up, and the paced line.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/serial_port.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace simtest {
namespace {

using Bytes = std::vector<uint8_t>;

// The slave side opened raw, like the host opens it.
class RawPort {
public:
    explicit RawPort(const std::string& device) {
        int error = 0;
        ok_ = port_.Open(device.c_str(), 115200, &error) == platform::SerialPort::OpenResult::kOk;
    }
    bool ok() const { return ok_; }
    bool Send(const Bytes& bytes) {
        return port_.Write(bytes.data(), static_cast<int>(bytes.size()), 5000) ==
               static_cast<int>(bytes.size());
    }
    // Reads until want bytes came or the time-out passed.
    Bytes Receive(size_t want, std::chrono::milliseconds timeout) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            uint8_t buffer[256];
            const int n = port_.Read(buffer, sizeof buffer);
            if (n < 0) break;
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
            struct pollfd none {
                - 1, 0, 0
            };
            ::poll(&none, 0, 1);
        }
        return got;
    }

private:
    platform::SerialPort port_;
    bool ok_ = false;
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string& s) {
    return {s.begin(), s.end()};
}

class SimLine : public SimFixture {};

TEST_F(SimLine, GarbageOversizeAndTruncatedFramesAreCountedAndTheHandsetCarriesOn) {
    StartSim(1, 1);
    RawPort port(sim_->Ports()[0].device);
    ASSERT_TRUE(port.ok());
    Bytes oversize(20000, 0x31);
    oversize.front() = 0x7E;
    oversize.back() = 0x7E;
    Bytes truncated = Packet(0, WriteCommand(0, Bytes(100, 0x44)));
    truncated.resize(40);
    const Bytes input = Join({Text("AT\r\n"), Text("AT#UMSTART\r\n"), Text("+++garbage\r\n"),
                              Bytes{0x00, 0xFF, 0x13}, oversize, truncated, Packet(1, {0xA0})});
    ASSERT_TRUE(port.Send(input));
    // The truncated frame ends at the unlock's opening flag (a bad FCS, NAK 1);
    // the unlock itself then lacks its own opening flag and is lost as text.
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.badFcsFrames == 1; }));
    ASSERT_TRUE(port.Send(Packet(2, {0xA0})));
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.acks == 1; }));
    const sim::HandsetStats stats = sim_->Stats(0);
    EXPECT_EQ(stats.atLines, 1u);
    EXPECT_EQ(stats.startLines, 1u);
    EXPECT_EQ(stats.oversizeFrames, 1u);
    EXPECT_EQ(stats.badFcsFrames, 1u);
    EXPECT_EQ(stats.resendRequests, 1u);
    EXPECT_EQ(stats.bytesReceived, input.size() + 6);
    EXPECT_EQ(stats.garbageBytes, 12u + 3u + 4u);  // the lost unlock's 4 bytes too
    EXPECT_EQ(stats.unlocks, 1u);
    EXPECT_TRUE(sim_->Handset(0).FlashRanges().empty());
    const Bytes replies = Join({Reply({0x00, 0x03, 0x00, 0x01}), Reply({0x02, 0x02})});
    EXPECT_EQ(port.Receive(replies.size(), 3000ms), replies);
}

TEST_F(SimLine, BytesAfterAHangUpGoNowhere) {
    StartSim(2, 1, {"ch1:hangup=6"});
    RawPort port(sim_->Ports()[1].device);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(port.Send(Packet(1, {0xA0})));
    ASSERT_TRUE(WaitSim(1, [](const sim::HandsetStats& s) { return s.hungUp; }));
    // Further writes fail on the dead line; the handset counts nothing more.
    const Bytes more = Packet(2, {0xA0});
    port.Send(more);
    EXPECT_TRUE(port.Receive(1, 100ms).empty());
    EXPECT_EQ(sim_->Stats(1).bytesReceived, 6u);
    EXPECT_EQ(sim_->Stats(1).bytesSent, 0u);  // the unlock came, its ACK never left
    // The other handset still works.
    RawPort other(sim_->Ports()[0].device);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(other.Send(Packet(1, {0xA0})));
    EXPECT_EQ(other.Receive(6, 3000ms), Reply({0x01, 0x02}));
}

TEST_F(SimLine, PacedLineTakesAtLeastTheLineTimeAndQueuesOnlyAFewKiB) {
    constexpr uint32_t kBaud = 1382400;
    StartSim(1, 1, {}, kBaud);
    RawPort port(sim_->Ports()[0].device);
    ASSERT_TRUE(port.ok());
    Bytes input = Join({Packet(0, {0xA0}), Packet(1, EraseCommand(0, 0x10000))});
    for (uint8_t i = 0; i < 4; ++i) {
        input = Join({input, Packet((i + 2) & 3, WriteCommand(0x4000 * i, Pattern(0x4000, i)))});
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port.Send(input));
    const Bytes replies = port.Receive(6 * AckFrameSize(), 10000ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(replies.size(), 6 * AckFrameSize());
    // Every byte crossed an 8N1 line: no faster than baud / 10 bytes a second,
    // replies included.
    const double lineSeconds = double(input.size() + replies.size()) * 10 / kBaud;
    EXPECT_GE(std::chrono::duration<double>(elapsed).count(), lineSeconds);
    EXPECT_EQ(sim_->Stats(0).writes, 4u);
}

TEST_F(SimLine, SlowLineAcceptsOnlyAFewKiBAhead) {
    StartSim(1, 1, {}, 9600);
    const int fd = ::open(sim_->Ports()[0].device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const Bytes big(1 << 20, 0x55);
    size_t accepted = 0;
    for (;;) {
        const ssize_t n = ::write(fd, big.data() + accepted, big.size() - accepted);
        if (n <= 0) break;
        accepted += static_cast<size_t>(n);
    }
    ::close(fd);
    // The kernel's own buffer and the handset's queue: a few KiB, not megabytes.
    EXPECT_GT(accepted, 0u);
    EXPECT_LT(accepted, 64u * 1024);
}

}  // namespace
}  // namespace simtest
