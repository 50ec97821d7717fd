// Station mode: every channel is a slot that loops on its own worker. It
// waits for a handset on its port, flashes it with the channel download
// sequence, reports the result, waits until the handset is gone and then
// waits for the next one. A slot never waits for another slot.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/notify.h"

namespace engine {

enum class SlotEvent { kArrived, kStarted, kProgress, kPassed, kFailed, kGone, kStopped };

const char* SlotEventText(SlotEvent event);  // "arrived", "started", ... "stopped"

// One thing that happened on a slot. Fields that do not apply stay 0 or "".
struct SlotReport {
    SlotEvent event = SlotEvent::kStopped;
    int channel = 0;
    int comPort = 0;
    // The handset: its port's USB serial, else its USB location, else the
    // device its port names ("" before the first arrival).
    std::string identity;
    std::chrono::system_clock::time_point time;
    int percent = 0;     // progress: of all images together
    int attempt = 0;     // started, passed, failed: 0 the first try, 1.. the retries
    std::string text;    // passed, failed: the channel's last text
    double seconds = 0;  // passed, failed: from the first try's start
};

// The front end's side. Called from the slots' workers, several at once: the
// listener serialises what it shares. No call may wait for long.
class StationListener {
public:
    virtual ~StationListener() = default;
    virtual void OnSlot(const SlotReport& report) = 0;
};

struct StationOptions {
    std::vector<int> comPorts;  // COM number per channel, channel 0 first; 0: no slot
    int baud = 1382400;
    int writeDelayMs = 2;
    int retries = 0;   // further tries of a failed flash on the same handset (link failures)
    int pollMs = 100;  // how often an idle slot looks at its port
};

// Runs the slots over the images in g_imageTable. One station at a time, and
// never beside a session: the engine's channels are shared.
class Station {
public:
    // texts, when given, receives every notification of the channels (the
    // progress, status and channel texts of a session).
    Station(StationOptions options, StationListener* listener,
            platform::NotifyReceiver* texts = nullptr);
    ~Station();  // stops and joins what still runs
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Loads the images and starts one worker per slot; false when no worker
    // could start.
    bool Start();
    // No new flash starts: flashes in progress finish, waiting slots end.
    void Finish();
    // Every channel stopped at once, as a stopped session leaves them.
    void Stop();
    // True once every slot has ended; waits up to maxWaitMs for it.
    bool WaitEnded(int maxWaitMs);
    // Joins the workers and ends the station's run (after Finish or Stop, or
    // once the slots ended on their own).
    void Join();

    int Passed() const;
    int Failed() const;
    // Slots whose port is there but did not open when last tried (no
    // permission, held by another program); each was told once with its reason.
    int Refused() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace engine
