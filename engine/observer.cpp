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
    VARKO_SetChannelTextHook(observer != nullptr ? &KeepLastText : nullptr);
}

SessionObserver* CurrentSessionObserver() {
    return g_observer.load();
}

void ObserveSessionStart() {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    int ports[kChannelCount];
    for (int ch = 0; ch < kChannelCount; ++ch)
        ports[ch] = g_nComPort[ch].load();
    observer->SessionStarted(ports);
}

void ObserveChannelStart(int channel) {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    g_lastText[channel][0] = '\0';
    observer->ChannelStarted(channel);
}

void ObserveImage(int channel, int slot, int ok) {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    const ImageEntry& e = g_imageTable[channel][slot];
    const ImageOutcome outcome{slot, e.path, e.address, ok == 1, g_lastText[channel]};
    observer->ImageFinished(channel, outcome);
}

void ObserveChannelEnd(int channel, int result) {
    SessionObserver* observer = g_observer.load();
    if (observer == nullptr) return;
    ChannelResult outcome = ChannelResult::kFailed;
    if (result == 1) {
        outcome = ChannelResult::kCompleted;
    } else if (channelActive[channel].load() == 0) {
        outcome = ChannelResult::kStopped;
    }
    observer->ChannelFinished(channel, outcome, g_lastText[channel]);
}

void ObserveSessionEnd() {
    SessionObserver* observer = g_observer.load();
    if (observer != nullptr) observer->SessionFinished();
}

}  // namespace engine
