// A simulated handset on its own thread: a pseudo-terminal as its cable, the
// line paced in both directions, and the downloader core answering packets.
//
// With a swap plan the object stands for a channel that handsets come to and
// leave, one after the other, on the same thread: a symbolic link names the
// current handset's pseudo-terminal. A handset leaves once the host has taken
// the go's reply (or closed the port) after its dump was written and the
// plan's stay has passed, like a flashed handset waiting to be unplugged; or the
// pause after the host closed the port following an unlock that got no go, or
// at once when its cable is pulled (the hangup fault); the link goes and the
// pseudo-terminal closes. After the pause a handset with erased flash and the
// next number arrives on a fresh pseudo-terminal and the link comes back.
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
#include "sim/host_watch.h"
#include "sim/paced_line.h"
#include "sim/pty.h"

namespace sim {

// Bytes the handset takes off the line before they have crossed it: with the
// kernel's own buffering, a host write behaves like one into a driver queue
// of a few KiB.
inline constexpr size_t kLineQueueBytes = 4096;

// A handset arriving on (arrived) or leaving a swapping channel.
struct SwapEvent {
    bool arrived = false;
    int number = 0;  // from 1 per channel
    std::string serial;
    std::string device;  // its pseudo-terminal's slave path
};

struct SwapPlan {
    // The handset with this number (from 1); its serial names its dumps.
    std::function<HandsetConfig(int number)> configFor;
    int count = 0;  // handsets in all; 0: no end
    std::chrono::milliseconds pause{1000};
    // How long a flashed handset stays after the host took the go's reply.
    std::chrono::milliseconds stay{0};
    std::string link;  // the symbolic link to the current handset's device
    std::function<void(const SwapEvent&)> onEvent;  // may be empty; on the handset thread
};

// Which handset a swapping channel has.
struct Presence {
    int number = 1;        // the handset there, or the last one that left
    bool present = false;  // false between a departure and the next arrival
    int departures = 0;
    std::string serial;
};

class Handset {
public:
    Handset(HandsetConfig config, uint32_t baud);
    // Handsets come and go as the plan says; the first arrives in Start.
    Handset(SwapPlan plan, uint32_t baud);
    ~Handset();
    Handset(const Handset&) = delete;
    Handset& operator=(const Handset&) = delete;

    // Opens the pseudo-terminal and starts serving it.
    bool Start(std::string* error);
    // Stops serving and joins the thread; the pseudo-terminal goes away.
    void Stop();
    // The slave path (with a swap plan, the current handset's).
    std::string Device() const;

    // The current handset's counters (with a swap plan, the last one's while
    // the channel is empty).
    HandsetStats Stats() const;
    Presence CurrentPresence() const;
    // Counters of the handsets that left, in order.
    std::vector<HandsetStats> Departed() const;
    bool WaitForPresence(const std::function<bool(const Presence&)>& done,
                         std::chrono::milliseconds timeout) const;
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
    bool Swapping() const { return static_cast<bool>(plan_.configFor); }
    bool Arrive(int number, std::string* error);
    void Leave(Clock::time_point now);
    bool ShouldLeave(Clock::time_point now);
    void CheckArrival(Clock::time_point now);
    void Tell(bool arrived, const std::string& device);
    void Vacate();

    mutable std::mutex mutex_;  // guards core_
    mutable std::condition_variable changed_;
    HandsetCore core_;
    const uint32_t baud_;
    const SwapPlan plan_;
    Presence presence_;                   // guarded by mutex_
    std::vector<HandsetStats> departed_;  // guarded by mutex_
    std::string device_;                  // guarded by mutex_
    Pty pty_;
    HostWatch watch_;
    // Swapping, owned by the thread while it runs.
    int number_ = 1;
    bool present_ = true;
    bool hostClosed_ = false;  // the host's last descriptor closed at hostClosedAt_
    Clock::time_point hostClosedAt_{};
    Clock::time_point arriveAt_{};
    bool passed_ = false;  // the host took the go's reply at passedAt_
    Clock::time_point passedAt_{};
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
