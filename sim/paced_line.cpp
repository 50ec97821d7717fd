#include "sim/paced_line.h"

#include <algorithm>

namespace sim {
namespace {

// Bit times per byte on an 8N1 line, in nanoseconds per byte times the baud.
constexpr uint64_t kNanoBitsPerByte = 10ull * 1000000000ull;

}  // namespace

void PacedLine::Push(const uint8_t* data, size_t count, Clock::time_point now) {
    if (count == 0) return;
    if (Pending() == 0) {
        Clear();
        anchor_ = std::max(now, freeAt_);
        released_ = 0;
    }
    bytes_.insert(bytes_.end(), data, data + count);
}

uint64_t PacedLine::CrossedSince(Clock::time_point now) const {
    if (now <= anchor_) return 0;
    const uint64_t ns = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchor_).count());
    // Split so ns * baud cannot overflow (baud <= kMaxBaud).
    return ns / kNanoBitsPerByte * baud_ + ns % kNanoBitsPerByte * baud_ / kNanoBitsPerByte;
}

Clock::duration PacedLine::TimeFor(uint64_t bytes) const {
    const uint64_t ns =
        bytes / baud_ * kNanoBitsPerByte + (bytes % baud_ * kNanoBitsPerByte + baud_ - 1) / baud_;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

void PacedLine::Release(Clock::time_point now, std::vector<uint8_t>* out) {
    size_t count = Pending();
    if (baud_ != 0) {
        const uint64_t crossed = CrossedSince(now);
        const uint64_t due = crossed > released_ ? crossed - released_ : 0;
        count = static_cast<size_t>(std::min<uint64_t>(due, Pending()));
        released_ += count;
    }
    const uint8_t* from = bytes_.data() + head_;
    out->insert(out->end(), from, from + count);
    head_ += count;
    if (Pending() == 0) {
        Clear();
        if (baud_ != 0) freeAt_ = anchor_ + TimeFor(released_);
    } else if (head_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

Clock::time_point PacedLine::NextDue() const {
    if (Pending() == 0) return Clock::time_point::max();
    if (baud_ == 0) return Clock::time_point::min();
    return anchor_ + TimeFor(released_ + 1);
}

void PacedLine::Clear() {
    bytes_.clear();
    head_ = 0;
}

}  // namespace sim
