// One direction of a serial line at a given rate: bytes go in when they are
// written and come out only once they have crossed the line, back to back at
// baud / 10 bytes per second (8N1). A rate of 0 passes bytes straight through.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

inline constexpr uint32_t kMaxBaud = 100000000;

class PacedLine {
public:
    explicit PacedLine(uint32_t baud) : baud_(baud) {}

    // Bytes written at now; they start crossing when the line is free.
    void Push(const uint8_t* data, size_t count, Clock::time_point now);
    // Appends to out every byte that has crossed by now.
    void Release(Clock::time_point now, std::vector<uint8_t>* out);
    // When the next pending byte will have crossed; time_point::max() when
    // nothing is pending.
    Clock::time_point NextDue() const;
    size_t Pending() const { return bytes_.size() - head_; }
    void Clear();

private:
    // Bytes that have crossed between anchor_ and now, at the line rate.
    uint64_t CrossedSince(Clock::time_point now) const;
    Clock::duration TimeFor(uint64_t bytes) const;

    uint32_t baud_;
    std::vector<uint8_t> bytes_;  // pending from head_ on
    size_t head_ = 0;
    Clock::time_point anchor_{};  // when the current busy stretch began
    uint64_t released_ = 0;       // bytes released since anchor_
    Clock::time_point freeAt_{};  // when the line finished its last stretch
};

}  // namespace sim
