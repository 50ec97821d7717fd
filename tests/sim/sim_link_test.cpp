// The host's link layer against simulated handsets: what the host sends
// lands byte-exact in the flash model and the dump files.
#include <fstream>
#include <iterator>

#include "sim/crc32.h"
#include "tests/sim/host_harness.h"
#include "tests/sim/test_frames.h"

namespace simtest {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

class SimLink : public SimFixture {};

TEST_F(SimLink, ImageSetLandsByteExactInTheModelAndTheDump) {
    StartSim(2, 5);  // handset 0 on COM5, handset 1 on COM6
    HostChannel host(3, 6);
    ASSERT_TRUE(host.opened());
    const std::vector<uint8_t> first = Pattern(0x4000 * 3 + 0x3E00, 7);
    const std::vector<uint8_t> second = Pattern(0x3E00 * 2, 8);

    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0x0, 0x20000), 1);
    host.Download(0x1000, first, 0x4000);
    // Drain like the end of an image: Erase's polls (one per 4 KiB, at least
    // 10) must not have to wait for the blocks still in flight.
    ASSERT_EQ(FLASH_DOWNLOADER_WaitAllAcked(host.ch(), kDrainPolls), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0x80000, 0x40000), 1);
    host.Download(0x80000, second, 0x3E00);
    ASSERT_TRUE(host.CloseAndGo()) << host.State();
    ASSERT_TRUE(WaitSim(1, [](const sim::HandsetStats& s) { return s.dumpsWritten == 1; }));

    std::vector<uint8_t> low(0x20000, 0xFF);
    std::copy(first.begin(), first.end(), low.begin() + 0x1000);
    std::vector<uint8_t> high(0x40000, 0xFF);
    std::copy(second.begin(), second.end(), high.begin());
    EXPECT_EQ(ReadFlash(1, 0x0, 0x20000), low);
    EXPECT_EQ(ReadFlash(1, 0x80000, 0x40000), high);

    std::vector<uint8_t> bin = low;
    bin.insert(bin.end(), high.begin(), high.end());
    EXPECT_EQ(ReadFile(dir_.path() + "/ch1.bin"), bin);
    char index[80];
    std::snprintf(index, sizeof index, "00000000 00020000 %08X\n00080000 00040000 %08X\n",
                  sim::Crc32(low.data(), low.size()), sim::Crc32(high.data(), high.size()));
    const std::vector<uint8_t> idx = ReadFile(dir_.path() + "/ch1.idx");
    EXPECT_EQ(std::string(idx.begin(), idx.end()), index);

    EXPECT_EQ(host.fn().errorCount, 0);
    EXPECT_EQ(host.fn().sendFailed, 0);
    const sim::HandsetStats stats = sim_->Stats(1);
    EXPECT_EQ(stats.unlocks, 1u);
    EXPECT_EQ(stats.erases, 2u);
    EXPECT_EQ(stats.writes, 6u);
    EXPECT_EQ(stats.closes, 1u);
    EXPECT_EQ(stats.gos, 1u);
    EXPECT_EQ(stats.naks, 0u);
    EXPECT_EQ(stats.RejectedFrames() + stats.garbageBytes, 0u);
    EXPECT_EQ(sim_->Stats(0).bytesReceived, 0u);  // the other handset heard nothing
}

TEST_F(SimLink, TwoHostChannelsDriveTwoHandsetsIndependently) {
    StartSim(3, 1);
    HostChannel a(0, 3);  // handset 2
    HostChannel b(5, 1);  // handset 0
    ASSERT_TRUE(a.opened());
    ASSERT_TRUE(b.opened());
    const std::vector<uint8_t> imageA = Pattern(0x4000 * 2, 21), imageB = Pattern(0x3E00 * 3, 22);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(a.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Unlock(b.ch()), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(a.ch(), 0, 0x8000), 1);
    ASSERT_EQ(FLASH_DOWNLOADER_Erase(b.ch(), 0x100000, 0xBA00), 1);
    // Interleaved: each channel's packets go out between the other's.
    for (size_t i = 0; i < 3; ++i) {
        if (i < 2)
            a.Download(0x4000 * static_cast<uint32_t>(i),
                       {imageA.begin() + 0x4000 * i, imageA.begin() + 0x4000 * (i + 1)}, 0x4000);
        b.Download(0x100000 + 0x3E00 * static_cast<uint32_t>(i),
                   {imageB.begin() + 0x3E00 * i, imageB.begin() + 0x3E00 * (i + 1)}, 0x3E00);
    }
    ASSERT_TRUE(a.CloseAndGo());
    ASSERT_TRUE(b.CloseAndGo());
    ASSERT_TRUE(WaitSim(2, [](const sim::HandsetStats& s) { return s.gos == 1; }));
    ASSERT_TRUE(WaitSim(0, [](const sim::HandsetStats& s) { return s.gos == 1; }));
    EXPECT_EQ(ReadFlash(2, 0, imageA.size()), imageA);
    EXPECT_EQ(ReadFlash(0, 0x100000, imageB.size()), imageB);
    EXPECT_EQ(sim_->Handset(2).FlashRanges().size(), 1u);
    EXPECT_EQ(sim_->Handset(0).FlashRanges().size(), 1u);
    EXPECT_EQ(sim_->Stats(1).bytesReceived, 0u);
    EXPECT_EQ(a.fn().errorCount + b.fn().errorCount, 0);
}

TEST_F(SimLink, HostReopensThePortBetweenAndWithinSessions) {
    StartSim(1, 4);
    const std::vector<uint8_t> image = Pattern(0x4000 * 4, 31);
    for (int session = 0; session < 3; ++session) {
        {
            HostChannel host(1, 4);
            ASSERT_TRUE(host.opened());
            ASSERT_EQ(FLASH_DOWNLOADER_Unlock(host.ch()), 1);
            ASSERT_EQ(FLASH_DOWNLOADER_Erase(host.ch(), 0, 0x10000), 1);
            host.Download(0, {image.begin(), image.begin() + 0x8000}, 0x4000);
            ASSERT_EQ(FLASH_DOWNLOADER_WaitAllAcked(host.ch(), kDrainPolls), 1);
        }
        for (int reopen = 0; reopen < 5; ++reopen) {
            HostChannel host(1, 4);
            ASSERT_TRUE(host.opened()) << "reopen " << reopen;
        }
        HostChannel host(1, 4);
        ASSERT_TRUE(host.opened());
        host.Download(0x8000, {image.begin() + 0x8000, image.end()}, 0x4000);
        ASSERT_TRUE(host.CloseAndGo()) << host.State();
        ASSERT_TRUE(WaitSim(0, [&](const sim::HandsetStats& s) {
            return s.gos == static_cast<uint64_t>(session) + 1;
        }));
        EXPECT_EQ(ReadFlash(0, 0, image.size()), image);
    }
    EXPECT_EQ(sim_->Stats(0).unlocks, 3u);
    EXPECT_EQ(sim_->Stats(0).RejectedFrames(), 0u);
}

}  // namespace
}  // namespace simtest
