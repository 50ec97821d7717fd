// The handset's receiver: between frames it reads plain text lines (the AT
// lines the host sends before the first packet), inside a frame it unstuffs
// bytes. Every frame brings its own opening flag: a closing flag returns to
// reading text, and runs of flags are skipped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "sim/protocol.h"

namespace sim {

struct DeframerCounts {
    uint64_t frames = 0;          // frames handed on (any length)
    uint64_t atLines = 0;         // "AT\r\n"
    uint64_t startLines = 0;      // "AT#UMSTART\r\n"
    uint64_t garbageBytes = 0;    // bytes between frames that formed no known line
    uint64_t oversizeFrames = 0;  // frames longer than kMaxFrameBytes, dropped whole
    uint64_t abortedFrames = 0;   // an escape directly followed by a flag
};

class Deframer {
public:
    enum class Event { kNone, kFrame, kAtLine, kStartLine, kOversize, kAborted };

    // Takes one byte off the line.
    Event Push(uint8_t byte);
    // The unstuffed frame; valid right after Push returned kFrame.
    std::span<const uint8_t> Frame() const { return {frame_.data(), length_}; }
    const DeframerCounts& Counts() const { return counts_; }

private:
    enum class State { kText, kOpened, kInFrame, kEscaped, kDiscarding };

    Event PushText(uint8_t byte);
    Event EndLine();
    Event PushFrameByte(uint8_t byte);
    void DropText();

    State state_ = State::kText;
    std::string text_;
    bool longLine_ = false;  // inside a text line too long to be a known one
    std::array<uint8_t, kMaxFrameBytes> frame_{};
    size_t length_ = 0;
    DeframerCounts counts_;
};

}  // namespace sim
