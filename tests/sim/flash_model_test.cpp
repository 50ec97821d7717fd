#include "sim/flash_model.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <vector>

#include "sim/crc32.h"
#include "sim/protocol.h"
#include "tests/sim/test_frames.h"

namespace {

TEST(SimChecksums, KnownCheckValuesAndTheHostsExampleFrames) {
    const std::vector<uint8_t> digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::Crc32(digits.data(), digits.size()), 0xCBF43926u);
    EXPECT_EQ(sim::Fcs(digits.data(), digits.size()), 0x906Eu);
    // Replies are built by the simulator's own code; compare with the plain way.
    std::vector<uint8_t> frame;
    sim::AppendFrame(sim::NakPayload(2, 1), &frame);
    EXPECT_EQ(frame, simtest::Reply({0x02, 0x03, 0x00, 0x01}));
    frame.clear();
    sim::AppendFrame(sim::AckPayload(3), &frame);
    EXPECT_EQ(frame, simtest::Reply({0x03, 0x02}));
    // The test's own packet builder matches the bytes the host puts on the wire.
    EXPECT_EQ(simtest::Packet(1, {0xA0}),
              (std::vector<uint8_t>{0x7E, 0x01, 0xA0, 0x72, 0x55, 0x7E}));
    EXPECT_EQ(simtest::Packet(0, simtest::EraseCommand(0, 0x10000)),
              (std::vector<uint8_t>{0x7E, 0x00, 0xEE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                                    0x00, 0x67, 0xA6, 0x7E}));
}

TEST(SimFlashModel, AdjacentAndOverlappingRangesMergeAndNewBytesWin) {
    sim::FlashModel flash;
    const std::vector<uint8_t> a(0x10, 0xAA), b(0x10, 0xBB), c(0x08, 0xCC);
    flash.Write(0x100, a.data(), a.size());
    flash.Write(0x110, b.data(), b.size());  // touches: one range
    flash.Write(0x200, c.data(), c.size());  // apart: a second range
    ASSERT_EQ(flash.Ranges().size(), 2u);
    EXPECT_EQ(flash.Ranges()[0].address, 0x100u);
    EXPECT_EQ(flash.Ranges()[0].length, 0x20u);

    flash.Erase(0x118, 0xEC);  // 0x118..0x204: joins both, erases their overlap
    const auto ranges = flash.Ranges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].address, 0x100u);
    EXPECT_EQ(ranges[0].length, 0x108u);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(flash.Read(0x100, 0x108, &bytes));
    std::vector<uint8_t> expected(0x108, 0xFF);
    std::fill(expected.begin(), expected.begin() + 0x10, 0xAA);
    std::fill(expected.begin() + 0x10, expected.begin() + 0x18, 0xBB);
    std::fill(expected.begin() + 0x104, expected.end(), 0xCC);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(ranges[0].crc32, sim::Crc32(expected.data(), expected.size()));
    EXPECT_FALSE(flash.Read(0x0FF, 2, &bytes));     // starts before the range
    EXPECT_FALSE(flash.Read(0x200, 0x10, &bytes));  // runs past it
    // A range that ends where the next one starts joins it.
    flash.Write(0x300, c.data(), c.size());
    flash.Write(0x2F8, a.data(), 8);
    ASSERT_EQ(flash.Ranges().size(), 2u);
    EXPECT_EQ(flash.Ranges()[1].address, 0x2F8u);
    EXPECT_EQ(flash.Ranges()[1].length, 0x10u);
}

TEST(SimFlashModel, MatchesAByteByByteModelUnderRandomErasesAndWrites) {
    std::mt19937 random(12345);
    sim::FlashModel flash;
    std::map<uint32_t, uint8_t> reference;
    std::set<uint32_t> erased;  // every byte ever erased
    for (int step = 0; step < 400; ++step) {
        const uint32_t address = 0xFFFFF000u + random() % 0xE00;  // near the top of the space
        const size_t length = 1 + random() % 0x180;
        std::vector<uint8_t> data(length);
        for (auto& byte : data)
            byte = static_cast<uint8_t>(random());
        const bool erase = random() % 4 == 0;
        if (erase) {
            flash.Erase(address, length);
        } else {
            flash.Write(address, data.data(), length);
        }
        for (size_t i = 0; i < length; ++i) {
            reference[address + i] = erase ? 0xFF : data[i];
            if (erase) erased.insert(static_cast<uint32_t>(address + i));
        }
        // Erased only when every byte was, whatever was written since.
        const uint32_t from = 0xFFFFF000u + random() % 0xF00;
        const size_t span = 1 + random() % std::min<uint64_t>(0x200, 0x100000000ull - from);
        bool all = true;
        for (size_t i = 0; i < span; ++i)
            all = all && erased.count(static_cast<uint32_t>(from + i)) == 1;
        ASSERT_EQ(flash.Erased(from, span), all) << std::hex << from << "+" << span;
    }
    // Ranges are maximal, apart, in order, and hold exactly the reference bytes.
    std::vector<uint8_t> all;
    uint64_t previousEnd = 0;
    for (const sim::FlashRange& range : flash.Ranges()) {
        EXPECT_GT(range.address, previousEnd);
        previousEnd = uint64_t{range.address} + range.length;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(flash.Read(range.address, range.length, &bytes));
        for (size_t i = 0; i < bytes.size(); ++i) {
            auto it = reference.find(range.address + static_cast<uint32_t>(i));
            ASSERT_NE(it, reference.end());
            ASSERT_EQ(it->second, bytes[i]) << "at " << range.address + i;
        }
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(all.size(), reference.size());
    EXPECT_EQ(flash.Concatenated(), all);
}

}  // namespace
