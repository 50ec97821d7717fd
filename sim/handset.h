// A simulated handset on its own thread: a pseudo-terminal as its cable, the
// line paced in both directions, and the downloader core answering packets.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/handset_core.h"
#include "sim/paced_line.h"
#include "sim/pty.h"

namespace sim {

// Bytes the handset takes off the line before they have crossed it: with the
// kernel's own buffering, a host write behaves like one into a driver queue
// of a few KiB.
inline constexpr size_t kLineQueueBytes = 4096;

class Handset {
public:
    Handset(HandsetConfig config, uint32_t baud);
    ~Handset();
    Handset(const Handset&) = delete;
    Handset& operator=(const Handset&) = delete;

    // Opens the pseudo-terminal and starts serving it.
    bool Start(std::string* error);
    // Stops serving and joins the thread; the pseudo-terminal goes away.
    void Stop();
    const std::string& Device() const { return pty_.SlavePath(); }

    HandsetStats Stats() const;
    std::vector<FlashRange> FlashRanges() const;
    bool ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const;
    std::vector<uint8_t> FlashImage() const;
    bool WriteDump();
    // Waits until done(stats) holds or the time-out passes; the result of the
    // last check.
    bool WaitUntil(const std::function<bool(const HandsetStats&)>& done,
                   std::chrono::milliseconds timeout) const;

private:
    void Run();
    void ReadLine(Clock::time_point now);
    void Deliver(Clock::time_point now);
    void FeedInbox(Clock::time_point now);
    void Transmit(Clock::time_point now);
    void WriteDueDump();
    void WaitForWork(Clock::time_point now);
    Clock::time_point NextWake(Clock::time_point now) const;
    size_t QueuedIn() const;
    void HangUp();

    mutable std::mutex mutex_;  // guards core_
    mutable std::condition_variable changed_;
    HandsetCore core_;
    const uint32_t baud_;
    Pty pty_;
    // Owned by the thread while it runs.
    PacedLine rxLine_;
    PacedLine txLine_;
    std::vector<uint8_t> inbox_;   // crossed, not yet taken by the core
    std::vector<uint8_t> outbox_;  // crossed, not yet taken by the master
    std::vector<uint8_t> delayedReply_;
    bool busy_ = false;  // working (erasing) until busyUntil_
    Clock::time_point busyUntil_{};
    bool lineDead_ = false;
    bool readable_ = false;  // the last poll found bytes waiting on the master
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace sim
