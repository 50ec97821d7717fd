#include "sim/deframer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/protocol.h"

namespace {

using Event = sim::Deframer::Event;

struct Fed {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<Event> events;  // every event but kNone and kFrame
};

Fed Feed(sim::Deframer& deframer, const std::vector<uint8_t>& bytes) {
    Fed fed;
    for (uint8_t b : bytes) {
        const Event event = deframer.Push(b);
        if (event == Event::kFrame)
            fed.frames.emplace_back(deframer.Frame().begin(), deframer.Frame().end());
        if (event != Event::kFrame && event != Event::kNone) fed.events.push_back(event);
    }
    return fed;
}

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(SimDeframer, TextLinesBetweenFramesAndUnstuffing) {
    sim::Deframer d;
    const Fed fed = Feed(d, Join({Text("AT\r\n"),
                                  Text("noise\r\n"),
                                  Text("AT#UMSTART\r\n"),
                                  {0x7E, 0x7E, 0x7E, 0x01, 0x7D, 0x5E, 0x7D, 0x5D, 0x41, 0x7E},
                                  Text("XAT\r\n"),
                                  Text("AT\n"),
                                  Text("AT\r\n")}));
    ASSERT_EQ(fed.frames.size(), 1u);
    EXPECT_EQ(fed.frames[0], (std::vector<uint8_t>{0x01, 0x7E, 0x7D, 0x41}));
    EXPECT_EQ(d.Counts().atLines, 2u);
    EXPECT_EQ(d.Counts().startLines, 1u);
    EXPECT_EQ(d.Counts().garbageBytes, 7u + 5u + 3u);  // "noise\r\n", "XAT\r\n", "AT\n"
    EXPECT_EQ(d.Counts().frames, 1u);
}

TEST(SimDeframer, ClosingFlagReturnsToTextSoEveryFrameNeedsItsOwnOpeningFlag) {
    sim::Deframer d;
    // 7E 01 02 7E closes a frame; "03 04" is then text, and the next flag opens.
    const Fed fed = Feed(d, {0x7E, 0x01, 0x02, 0x7E, 0x03, 0x04, 0x7E, 0x05, 0x7E});
    ASSERT_EQ(fed.frames.size(), 2u);
    EXPECT_EQ(fed.frames[0], (std::vector<uint8_t>{0x01, 0x02}));
    EXPECT_EQ(fed.frames[1], (std::vector<uint8_t>{0x05}));
    EXPECT_EQ(d.Counts().garbageBytes, 2u);
}

TEST(SimDeframer, OversizeFramesAreDroppedWholeAndTheNextFrameParses) {
    sim::Deframer d;
    std::vector<uint8_t> largest(sim::kMaxFrameBytes, 0x11);
    largest.insert(largest.begin(), 0x7E);
    largest.push_back(0x7E);
    std::vector<uint8_t> oversize(sim::kMaxFrameBytes + 1, 0x22);
    oversize.insert(oversize.begin(), 0x7E);
    oversize.push_back(0x7E);
    const Fed fed = Feed(d, Join({largest, oversize, Text("AT\r\n"), {0x7E, 0x09, 0x7E}}));
    ASSERT_EQ(fed.frames.size(), 2u);
    EXPECT_EQ(fed.frames[0].size(), sim::kMaxFrameBytes);
    EXPECT_EQ(fed.frames[1], (std::vector<uint8_t>{0x09}));
    EXPECT_EQ(fed.events, (std::vector<Event>{Event::kOversize, Event::kAtLine}));
    // The rest of the dropped frame is not counted as text.
    EXPECT_EQ(d.Counts().oversizeFrames, 1u);
    EXPECT_EQ(d.Counts().garbageBytes, 0u);
}

TEST(SimDeframer, EscapeBeforeFlagAbortsAndLongTextStaysBounded) {
    sim::Deframer d;
    std::vector<uint8_t> longLine(5000, 'x');
    const Fed fed = Feed(d, Join({{0x7E, 0x01, 0x7D, 0x7E},
                                  longLine,
                                  Text("AT\r\n"),
                                  Text("AT\r\n"),
                                  {0x7E, 0x02, 0x7E}}));
    ASSERT_EQ(fed.frames.size(), 1u);
    EXPECT_EQ(fed.frames[0], (std::vector<uint8_t>{0x02}));
    EXPECT_EQ(d.Counts().abortedFrames, 1u);
    // "AT\r\n" ending the long line is part of it; only the next line counts.
    EXPECT_EQ(d.Counts().atLines, 1u);
    EXPECT_EQ(d.Counts().garbageBytes, 5004u);
}

}  // namespace
