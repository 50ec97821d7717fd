#include "sim/paced_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::seconds;

const sim::Clock::time_point t0 = sim::Clock::time_point() + seconds(1000);

size_t ReleasedBy(sim::PacedLine& line, sim::Clock::time_point at, std::vector<uint8_t>* out) {
    const size_t before = out->size();
    line.Release(at, out);
    return out->size() - before;
}

TEST(SimPacedLine, BytesCrossBackToBackAtTheLineRate) {
    sim::PacedLine line(10000);  // 1000 bytes per second: one byte per millisecond
    const std::vector<uint8_t> data{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    line.Push(data.data(), data.size(), t0);
    std::vector<uint8_t> out;
    EXPECT_EQ(ReleasedBy(line, t0 + microseconds(999), &out), 0u);
    EXPECT_EQ(line.NextDue(), t0 + milliseconds(1));
    EXPECT_EQ(ReleasedBy(line, t0 + milliseconds(1), &out), 1u);
    EXPECT_EQ(ReleasedBy(line, t0 + microseconds(5500), &out), 4u);
    EXPECT_EQ(line.NextDue(), t0 + milliseconds(6));
    // Written while the line is busy: they queue behind the pending bytes.
    const std::vector<uint8_t> more{11, 12};
    line.Push(more.data(), more.size(), t0 + milliseconds(6));
    EXPECT_EQ(ReleasedBy(line, t0 + microseconds(11999), &out), 6u);
    EXPECT_EQ(ReleasedBy(line, t0 + milliseconds(12), &out), 1u);
    EXPECT_EQ(line.Pending(), 0u);
    EXPECT_EQ(line.NextDue(), sim::Clock::time_point::max());
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(SimPacedLine, AnIdleLineStartsAtTheWriteAndNeverBeforeItFreedUp) {
    sim::PacedLine line(10000);
    const std::vector<uint8_t> five{1, 2, 3, 4, 5};
    std::vector<uint8_t> out;
    line.Push(five.data(), 5, t0);
    EXPECT_EQ(ReleasedBy(line, t0 + milliseconds(50), &out), 5u);
    // Idle since t0 + 5 ms: a write at t0 + 50 ms starts then, not in the past.
    line.Push(five.data(), 5, t0 + milliseconds(50));
    EXPECT_EQ(ReleasedBy(line, t0 + microseconds(50999), &out), 0u);
    EXPECT_EQ(ReleasedBy(line, t0 + milliseconds(51), &out), 1u);
    EXPECT_EQ(ReleasedBy(line, t0 + milliseconds(55), &out), 4u);
    // Stamped before the line freed up (t0 + 55 ms): the byte waits for it.
    line.Push(five.data(), 1, t0 + milliseconds(53));
    EXPECT_EQ(line.NextDue(), t0 + milliseconds(56));
    // A clock that seems to go back releases nothing.
    EXPECT_EQ(ReleasedBy(line, t0, &out), 0u);
}

TEST(SimPacedLine, LongTransfersReleaseExactlyTheLineRateAndUnpacedPassesThrough) {
    sim::PacedLine line(1382400);
    std::vector<uint8_t> data(400000, 0x5A);
    line.Push(data.data(), data.size(), t0);
    std::vector<uint8_t> out;
    EXPECT_EQ(ReleasedBy(line, t0 + seconds(1), &out), 138240u);
    EXPECT_EQ(ReleasedBy(line, t0 + seconds(2), &out), 138240u);
    EXPECT_EQ(line.Pending(), 400000u - 2 * 138240u);

    sim::PacedLine unpaced(0);
    unpaced.Push(data.data(), 1000, t0);
    EXPECT_EQ(ReleasedBy(unpaced, t0, &out), 1000u);
    EXPECT_EQ(unpaced.NextDue(), sim::Clock::time_point::max());
}

}  // namespace
