#include "engine/observer.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/session.h"
#include "link/notify.h"
#include "link/serial.h"

namespace engine {
namespace {

std::atomic<SessionObserver*> g_observer{nullptr};

// Each channel's last line, written only by the thread running the channel.
char g_lastText[kChannelCount][sizeof(ImageEntry::path)];

// How each channel of the last run ended; written by the channel's worker
// (or the runner before the workers start), read after the run has joined
// them.
engine::ChannelOutcome g_outcomes[kChannelCount];

// "Erase Flash" is a passing state, never a channel's last word.
void KeepLastText(int channel, const char* text) {
    if (!IsChannel(channel) || text[0] == '\0' || std::strcmp(text, "Erase Flash") == 0) return;
    std::snprintf(g_lastText[channel], sizeof g_lastText[channel], "%s", text);
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
    return IsChannel(channel) ? g_outcomes[channel] : ChannelOutcome{};
}

SessionObserver* CurrentSessionObserver() {
    return g_observer.load();
}

void ObserveSessionStart() {
    VARKO_SetChannelTextHook(&KeepLastText);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        g_outcomes[ch] = ChannelOutcome{};
        g_lastText[ch][0] = '\0';
    }
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    int ports[kChannelCount];
    for (int ch = 0; ch < kChannelCount; ++ch)
        ports[ch] = g_nComPort[ch].load();
    observer->SessionStarted(ports);
}

void ObserveChannelStart(int channel) {
    VARKO_SetChannelTextHook(&KeepLastText);
    g_lastText[channel][0] = '\0';
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    observer->ChannelStarted(channel);
}

void ObserveImage(int channel, int slot, int ok) {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    const ImageEntry& e = g_imageTable[channel][slot];
    ImageOutcome outcome{slot, e.path, e.address, ok == 1, g_lastText[channel]};
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
    g_outcomes[channel] = ChannelOutcome{true, outcome, g_lastText[channel]};
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    observer->ChannelFinished(channel, outcome, g_lastText[channel]);
}

void ObserveSessionEnd() {
    SessionObserver* observer = g_observer.load();
    if (observer != nullptr) observer->SessionFinished();
}

}  // namespace engine
