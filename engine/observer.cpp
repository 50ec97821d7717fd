#include "engine/observer.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/session.h"
#include "link/notify.h"
#include "link/serial.h"

namespace engine {
namespace {

std::atomic<SessionObserver*> g_observer{nullptr};

// What the engine keeps of each channel's run for the observer; written by
// the channel's worker (or the runner before the workers start), read after
// the run has joined them.
struct ObservedChannel {
    char lastText[sizeof(ImageEntry::path)];  // the last line ("" while none)
    ChannelOutcome outcome;                   // how the last run ended
};
ObservedChannel g_observed[kChannelCount];

// The channel reads as not ended, with no last line.
void ResetObservedChannel(int channel) {
    g_observed[channel].outcome = ChannelOutcome{};
    g_observed[channel].lastText[0] = '\0';
}

// "Erase Flash" is a passing state, never a channel's last word.
void KeepLastText(int channel, const char* text) {
    if (!IsChannel(channel) || text[0] == '\0' || std::strcmp(text, "Erase Flash") == 0) return;
    ObservedChannel& observed = g_observed[channel];
    std::snprintf(observed.lastText, sizeof observed.lastText, "%s", text);
}

}  // namespace

const char* ChannelResultText(ChannelResult result) {
    switch (result) {
        case ChannelResult::kCompleted:
            return "completed";
        case ChannelResult::kFailed:
            return "failed";
        case ChannelResult::kStopped:
            return "stopped";
    }
    return "failed";
}

void SetSessionObserver(SessionObserver* observer) {
    g_observer.store(observer);
}

ChannelOutcome LastChannelOutcome(int channel) {
    return IsChannel(channel) ? g_observed[channel].outcome : ChannelOutcome{};
}

SessionObserver* CurrentSessionObserver() {
    return g_observer.load();
}

void ObserveSessionStart() {
    VARKO_SetChannelTextHook(&KeepLastText);
    for (int ch = 0; ch < kChannelCount; ++ch)
        ResetObservedChannel(ch);
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    int ports[kChannelCount];
    for (int ch = 0; ch < kChannelCount; ++ch)
        ports[ch] = g_nComPort[ch].load();
    observer->SessionStarted(ports);
}

void ObserveChannelStart(int channel) {
    VARKO_SetChannelTextHook(&KeepLastText);
    // A channel run again on its own forgets its earlier run here.
    ResetObservedChannel(channel);
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    observer->ChannelStarted(channel);
}

void ObserveImage(int channel, int slot, int ok) {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    const ImageEntry& e = g_imageTable[channel][slot];
    ImageOutcome outcome{slot, e.path, e.address, ok == 1, g_observed[channel].lastText};
    uint32_t fileSize = 0;
    if (VARKO_LoadedImage(slot, e.path, &fileSize, &outcome.crc32)) outcome.fileSize = fileSize;
    observer->ImageFinished(channel, outcome);
}

void ObserveChannelEnd(int channel, int result) {
    ChannelResult outcome = ChannelResult::kFailed;
    if (result == 1) {
        outcome = ChannelResult::kCompleted;
    } else if (channelActive[channel].load() == 0) {
        outcome = ChannelResult::kStopped;
    }
    ObservedChannel& observed = g_observed[channel];
    observed.outcome = ChannelOutcome{true, outcome, observed.lastText};
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    observer->ChannelFinished(channel, outcome, observed.lastText);
}

void ObserveSessionEnd() {
    SessionObserver* observer = g_observer.load();
    if (observer != nullptr) observer->SessionFinished();
}

namespace {
std::mutex g_runMutex;
ChannelRun g_runs[kChannelCount];
}  // namespace

void SetChannelRun(int channel, ChannelRun run) {
    if (!IsChannel(channel)) return;
    std::lock_guard<std::mutex> lock(g_runMutex);
    g_runs[channel] = run;
}

ChannelRun CurrentChannelRun(int channel) {
    if (!IsChannel(channel)) return {};
    std::lock_guard<std::mutex> lock(g_runMutex);
    return g_runs[channel];
}

void ResetChannelRuns() {
    std::lock_guard<std::mutex> lock(g_runMutex);
    for (ChannelRun& run : g_runs)
        run = ChannelRun{};
}

}  // namespace engine
