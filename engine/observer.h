// Who watches a download session from outside the window's notifications:
// the session's start and end, each channel's start, each image's result and
// each channel's result. Both front ends share one observer (the station
// records); the calls come once per channel start, image and end, never per
// block.
#pragma once

#include <cstdint>

#include "link/channel.h"

namespace engine {

enum class ChannelResult { kCompleted, kFailed, kStopped };

const char* ChannelResultText(ChannelResult result);  // "completed", "failed", "stopped"

// One image as its channel sent it.
struct ImageOutcome {
    int slot;                // 0..11
    const char* path;        // the image file
    uint32_t address;        // flash address
    bool ok;                 // the whole file written and acknowledged
    const char* resultLine;  // the channel's line for it ("CH0 Modem 100.0KB OK! [1.2 sec]")
    // The file as the session read it at its start and sent it: its size
    // (-1 when it could not be read) and CRC-32.
    int64_t fileSize = -1;
    uint32_t crc32 = 0;
};

// Calls come from the runner's thread (session start and end) and from the
// channels' worker threads (everything else), several workers at once: an
// observer serialises what it shares itself. No call may wait for long.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    // Before any worker starts; comPorts as the session holds them (0 = none).
    virtual void SessionStarted(const int comPorts[kChannelCount]) = 0;
    virtual void ChannelStarted(int channel) = 0;
    virtual void ImageFinished(int channel, const ImageOutcome& image) = 0;
    // lastText: the channel's last line ("" when it sent none).
    virtual void ChannelFinished(int channel, ChannelResult result, const char* lastText) = 0;
    // After every worker has ended.
    virtual void SessionFinished() = 0;
};

// Installs the observer of the sessions to come (nullptr: none). Set it
// between sessions only.
void SetSessionObserver(SessionObserver* observer);
SessionObserver* CurrentSessionObserver();

// How a channel's run came about: a session's channel, or one attempt of a
// station slot on the handset that arrived on it. An observer reads it when
// the channel starts.
struct ChannelRun {
    bool station = false;
    int attempt = 0;  // 0: the first try on this handset; 1, 2, ...: its retries
};
// Set by the station before each run of the channel; a session's channels
// read the default (ResetChannelRuns at every session start).
void SetChannelRun(int channel, ChannelRun run);
ChannelRun CurrentChannelRun(int channel);
void ResetChannelRuns();

// What the engine's own code calls at those moments (each a no-op without an
// observer).
void ObserveSessionStart();
void ObserveChannelStart(int channel);
void ObserveImage(int channel, int slot, int ok);
void ObserveChannelEnd(int channel, int result);
void ObserveSessionEnd();

}  // namespace engine
