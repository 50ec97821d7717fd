// Station mode in the window: every channel holding a port is a slot of an
// engine::Station that flashes each handset arriving on it. The panel keeps
// each slot's state on its bar line (waiting, the flash's progress, then the
// result until the handset is gone), the counts line, and the lock of the
// controls that must not change while the station runs.
//
// The slots' workers report through the window's notification receiver, the
// same blocking path as the engine's notifications: nothing here touches the
// view off the window thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/station.h"
#include "link/channel.h"
#include "platform/notify.h"
#include "ui/dialog_view.h"

namespace ui {

// The notification code of a slot report (payload: const engine::SlotReport*),
// apart from the engine's own codes.
inline constexpr uintptr_t kNotifyStationSlot = 0x5354;

// The station's counts as the counts line shows them.
struct StationCounts {
    int64_t passed = 0;
    int64_t failed = 0;
    double perHour = -1;  // passed handsets per hour; -1 while unknown
};

// Where the counts come from when the program keeps station records; the
// window thread calls it.
class StationCountsSource {
public:
    virtual ~StationCountsSource() = default;
    // The station starts: later counts cover what it flashes from now on.
    virtual void Begin() = 0;
    // Nothing when the records cannot be read (the slots' own count is shown).
    virtual std::optional<StationCounts> Counts() = 0;
};

// "passed 12, failed 1, yield 92.3 %, 340 handsets/h" ("-" for an unknown
// yield or rate).
std::string StationCountsText(const StationCounts& counts);

class StationPanel : public engine::StationListener {
public:
    using Clock = std::chrono::steady_clock;

    StationPanel(DialogView& view, platform::NotifyReceiver& receiver);
    ~StationPanel() override;
    StationPanel(const StationPanel&) = delete;
    StationPanel& operator=(const StationPanel&) = delete;

    void SetCountsSource(std::unique_ptr<StationCountsSource> source);

    // From Start until the slots ended and were joined.
    bool Running() const { return m_station != nullptr; }
    // Finish or Stop was asked; the panel waits for the slots to end.
    bool Ending() const { return m_ending; }

    // Starts a slot on every channel with a port over the images in the
    // image table, and locks the controls; false when no slot could start.
    bool Start(const int comPorts[kChannelCount], int baud, int writeDelayMs);
    // Lets flashes in progress end (finish) or stops every channel (not
    // finish), then waits with the window alive until every slot ended and
    // unlocks the controls. A stop asked during the wait applies at once.
    void End(bool finish);
    void StopNow();

    // A slot's report on the window thread; returns a line for the status
    // log ("" for none).
    std::string Show(const engine::SlotReport& report, Clock::time_point now = Clock::now());

    // Every enabled state the core sets passes here: a control the station
    // locks keeps it until the lock ends.
    void SetEnabled(Control control, bool enabled);

    // Workers' side: hands the report to the window thread.
    void OnSlot(const engine::SlotReport& report) override;

private:
    void Lock(bool locked);
    void ShowCounts(Clock::time_point now);
    bool Locks(Control control) const;

    DialogView& m_view;
    platform::NotifyReceiver& m_receiver;
    std::unique_ptr<StationCountsSource> m_source;
    std::unique_ptr<engine::Station> m_station;
    bool m_ending = false;
    bool m_locked = false;
    bool m_enabled[kControlCount] = {};  // as the core last set them
    bool m_slot[kChannelCount] = {};     // the channel is a slot of the station
    // The slots' own count, for a program without records.
    StationCounts m_own;
    Clock::time_point m_started{};
    Clock::time_point m_countsShown{};
};

}  // namespace ui
