#include "sim/deframer.h"

namespace sim {
namespace {

// Longer text lines cannot be one of the known ones.
constexpr size_t kMaxTextLine = 32;

}  // namespace

Deframer::Event Deframer::Push(uint8_t byte) {
    switch (state_) {
        case State::kText:
            return PushText(byte);
        case State::kOpened:
            if (byte == kFlag) return Event::kNone;
            state_ = State::kInFrame;
            [[fallthrough]];
        case State::kInFrame:
            if (byte == kEscape) {
                state_ = State::kEscaped;
                return Event::kNone;
            }
            if (byte == kFlag) {
                state_ = State::kText;
                counts_.frames += 1;
                return Event::kFrame;
            }
            return PushFrameByte(byte);
        case State::kEscaped:
            if (byte == kFlag) {
                state_ = State::kText;
                counts_.abortedFrames += 1;
                return Event::kAborted;
            }
            state_ = State::kInFrame;
            return PushFrameByte(byte ^ kEscapeXor);
        case State::kDiscarding:
            if (byte == kFlag) state_ = State::kText;
            return Event::kNone;
    }
    return Event::kNone;
}

Deframer::Event Deframer::PushText(uint8_t byte) {
    if (byte == kFlag) {
        DropText();
        longLine_ = false;
        length_ = 0;
        state_ = State::kOpened;
        return Event::kNone;
    }
    if (longLine_) {
        // The rest of a line too long to be a known one.
        counts_.garbageBytes += 1;
        longLine_ = byte != '\n';
        return Event::kNone;
    }
    text_.push_back(static_cast<char>(byte));
    if (byte == '\n') return EndLine();
    if (text_.size() > kMaxTextLine) {
        DropText();
        longLine_ = true;
    }
    return Event::kNone;
}

Deframer::Event Deframer::EndLine() {
    Event event = Event::kNone;
    if (text_ == "AT\r\n") {
        counts_.atLines += 1;
        event = Event::kAtLine;
    } else if (text_ == "AT#UMSTART\r\n") {
        counts_.startLines += 1;
        event = Event::kStartLine;
    } else {
        counts_.garbageBytes += text_.size();
    }
    text_.clear();
    return event;
}

void Deframer::DropText() {
    counts_.garbageBytes += text_.size();
    text_.clear();
}

Deframer::Event Deframer::PushFrameByte(uint8_t byte) {
    if (length_ >= kMaxFrameBytes) {
        length_ = 0;
        state_ = State::kDiscarding;
        counts_.oversizeFrames += 1;
        return Event::kOversize;
    }
    frame_[length_++] = byte;
    return Event::kNone;
}

}  // namespace sim
