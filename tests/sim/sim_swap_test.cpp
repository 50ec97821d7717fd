// Handsets that come and go (swap): a host flashes each one that arrives on
// its COM number, and every handset leaves its own dump under its serial.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/serial_port.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace simtest {
namespace {

class SimSwap : public SimFixture {
protected:
    bool WaitPresence(int k, const std::function<bool(const sim::Presence&)>& done) {
        return sim_->Handset(k).WaitForPresence(done, 8000ms);
    }
};

TEST_F(SimSwap, EachArrivingHandsetIsFreshAndLeavesAfterGoOrAFailedSession) {
    // Every second handset, and the third on channel 1, never answers its
    // unlock: the host gives up and closes the port, and the handset leaves.
    StartSim(2, 7, {"every2:mute-unlock", "ch1:h3:mute-unlock"}, 0, 3, 20);
    struct Visit {
        int k, number;
        bool flashes;
    };
    const Visit visits[] = {{0, 1, true},  {1, 1, true}, {0, 2, false},
                            {1, 2, false}, {0, 3, true}, {1, 3, false}};
    for (const Visit& v : visits) {
        SCOPED_TRACE(sim::HandsetSerial(v.k, v.number));
        ASSERT_TRUE(WaitPresence(
            v.k, [&](const sim::Presence& p) { return p.present && p.number == v.number; }));
        const std::string serial = sim::HandsetSerial(v.k, v.number);
        // A second holder of the port, which must see the hang-up.
        const int watcher = ::open(sim_->LinkPath(v.k).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(watcher, 0);
        if (!v.flashes) ::close(watcher);  // so the host's close is the last
        // A handset that kept the last one's flash would dump both ranges.
        const uint32_t address = 0x10000 * static_cast<uint32_t>(v.number);
        const std::vector<uint8_t> image = Pattern(0x4000 * 2, 10 * v.k + v.number);
        {
            HostChannel host(v.k, 7 + v.k);
            ASSERT_TRUE(host.opened());
            ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), v.flashes ? 1 : 0);
            if (v.flashes) {
                ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), address, 0x10000), 1);
                host.Download(address, image, 0x4000);
                ASSERT_TRUE(host.CloseAndGo()) << host.State();
            }
        }
        ASSERT_TRUE(
            WaitPresence(v.k, [&](const sim::Presence& p) { return p.departures == v.number; }));
        const std::vector<sim::HandsetStats> gone = sim_->Handset(v.k).Departed();
        EXPECT_EQ(gone.back().gos, v.flashes ? 1u : 0u);
        EXPECT_EQ(gone.back().faultsFired, v.flashes ? 0u : 1u);
        const std::string dump = dir_.path() + "/" + serial + ".bin";
        if (!v.flashes) {
            EXPECT_FALSE(std::filesystem::exists(dump));
            continue;
        }
        std::vector<uint8_t> erased(0x10000, 0xFF);
        std::copy(image.begin(), image.end(), erased.begin());
        std::ifstream in(dump, std::ios::binary);
        EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), erased);
        struct pollfd p = {watcher, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 5000), 1);
        EXPECT_NE(p.revents & POLLHUP, 0) << p.revents;
        ::close(watcher);
    }
    // After its last handset a channel stays empty and its device is gone.
    for (int k = 0; k < 2; ++k) {
        const sim::Presence last = sim_->Handset(k).CurrentPresence();
        EXPECT_FALSE(last.present);
        EXPECT_EQ(last.number, 3);
        EXPECT_FALSE(std::filesystem::exists(sim_->LinkPath(k)));
    }
}

// A flashed handset stays until the host has read the go's reply (its dump
// written before), then for its leave pause, and then the next one comes.
TEST_F(SimSwap, AFlashedHandsetStaysUntilTheGoReplyWasReadAndItsLeavePausePassed) {
    for (const std::chrono::milliseconds stay : {0ms, 600ms}) {
        SCOPED_TRACE(stay.count());
        StartSim(1, 1, {}, 0, 2, 0, stay.count());
        platform::SerialPort port;
        int error = 0;
        ASSERT_EQ(port.Open(sim_->LinkPath(0).c_str(), 115200, &error),
                  platform::SerialPort::OpenResult::kOk);
        std::vector<uint8_t> session = Packet(0, {0xA0});
        for (const auto& packet : {Packet(1, EraseCommand(0, 0x1000)), Packet(2, {0x90})})
            session.insert(session.end(), packet.begin(), packet.end());
        ASSERT_EQ(port.Write(session.data(), static_cast<int>(session.size()), 1000),
                  static_cast<int>(session.size()));
        ASSERT_TRUE(sim_->Handset(0).WaitUntil(
            [](const sim::HandsetStats& s) { return s.dumpsWritten == 1; }, 5000ms));
        const sim::Presence before = sim_->Handset(0).CurrentPresence();
        EXPECT_TRUE(before.present && before.number == 1);
        const auto read = std::chrono::steady_clock::now();
        std::vector<uint8_t> got(64);
        EXPECT_EQ(port.Read(got.data(), static_cast<int>(got.size())),
                  static_cast<int>(3 * Reply({0, 0x02}).size()));
        ASSERT_TRUE(WaitPresence(0, [](const sim::Presence& p) { return p.departures == 1; }));
        EXPECT_GE(std::chrono::steady_clock::now() - read, stay);
        EXPECT_EQ(sim_->Handset(0).Departed().back().gos, 1u);
        ASSERT_TRUE(
            WaitPresence(0, [](const sim::Presence& p) { return p.present && p.number == 2; }));
        port.Close();
        sim_->Stop();
    }
}

}  // namespace
}  // namespace simtest
