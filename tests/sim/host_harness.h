// The host's link layer driven the way the image download drives it, against
// simulated handsets in the same process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/commands.h"
#include "link/frame.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/port_map.h"
#include "sim/simulator.h"

namespace simtest {

using namespace std::chrono_literals;

// A temporary folder for the port map and the dumps.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kvsim-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// One host channel on a COM number, opened like a session opens it.
class HostChannel {
public:
    HostChannel(int channel, int comNumber, uint32_t baud = 115200) : ch_(channel) {
        FRAME_Reset(ch_);
        FLASH_DOWNLOADER_SelectFirstBuffer(ch_);
        FLASH_DOWNLOADER_InitLink(ch_);
        channelActive[ch_] = 1;
        g_nWriteDelay = 0;
        SERIAL_PORT_Start(ch_, comNumber, baud);
        opened_ = SERIAL_PORT_Open(ch_) == 1;
    }
    ~HostChannel() {
        SERIAL_PORT_Close(ch_);
        channelActive[ch_] = 0;
    }
    bool opened() const { return opened_; }
    // The window's counters, for failure messages.
    std::string State() const {
        const LinkState& f = FN[ch_];
        return "tx=" + std::to_string(f.txCount) + " rx=" + std::to_string(f.rxCount) +
               " error_no=" + std::to_string(f.error_no) +
               " errors=" + std::to_string(f.errorCount) +
               " sendFailed=" + std::to_string(f.sendFailed);
    }
    int ch() const { return ch_; }
    const LinkState& fn() const { return FN[ch_]; }

    // Writes image at address in blocks, calling Resend before every block as
    // the image download does.
    void Download(uint32_t address, const std::vector<uint8_t>& image, size_t block) {
        for (size_t offset = 0; offset < image.size(); offset += block) {
            const size_t n = std::min(block, image.size() - offset);
            FLASH_DOWNLOADER_Resend(ch_);
            FLASH_DOWNLOADER_WriteBlock(ch_, address + static_cast<uint32_t>(offset),
                                        static_cast<int>(n), image.data() + offset);
        }
    }
    // Close (which drains with Resend and WaitAllAcked), then go; true when
    // every packet was answered.
    bool CloseAndGo() {
        FLASH_DOWNLOADER_Close(ch_);
        if (!FLASH_DOWNLOADER_WaitAllAcked(ch_, kDrainPolls)) return false;
        FLASH_DOWNLOADER_Go(ch_);
        return FLASH_DOWNLOADER_WaitAllAcked(ch_, kDrainPolls) == 1;
    }

private:
    int ch_;
    bool opened_ = false;
};

// Simulated handsets pinned in a temporary port map that the host uses.
class SimFixture : public ::testing::Test {
protected:
    // handsets > 0 lets that many handsets come and go per channel, swapMs apart.
    void StartSim(int channels, int firstPort, std::vector<std::string> faults = {},
                  uint32_t baud = 0, int handsets = 0, uint32_t swapMs = 0, uint32_t leaveMs = 0) {
        sim::SimOptions options;
        options.swap = handsets > 0;
        options.handsets = handsets;
        options.swapMs = swapMs;
        options.leaveMs = leaveMs;
        options.channels = channels;
        options.firstPort = firstPort;
        options.dir = dir_.path();
        options.baud = baud;
        for (const std::string& text : faults) {
            sim::FaultRule rule;
            std::string error;
            ASSERT_TRUE(sim::ParseFault(text, &rule, &error)) << error;
            options.faults.push_back(rule);
        }
        platform::PortMap_SetDirectory(dir_.path());
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }

    // Waits (bounded) until the handset's counters satisfy done.
    template <typename Done>
    bool WaitSim(int k, Done done, std::chrono::milliseconds timeout = 5000ms) {
        return sim_->Handset(k).WaitUntil(done, timeout);
    }

    std::vector<uint8_t> ReadFlash(int k, uint32_t address, size_t length) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(sim_->Handset(k).ReadFlash(address, length, &bytes))
            << "no range holds " << address << "+" << length;
        return bytes;
    }

    TempDir dir_;
    std::unique_ptr<sim::Simulator> sim_;
};

}  // namespace simtest
