#include "ui/station_panel.h"

#include <cstdio>

#include "engine/session.h"
#include "link/notify.h"
#include "ui/dialog_template.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

using engine::SlotEvent;
using engine::SlotReport;
using Look = DialogView::BarLook;

constexpr int kEndPumpMs = 50;
constexpr auto kCountsEvery = std::chrono::seconds(1);  // during a flash

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// A bar line is short: a handset known by its device's path shows the path's
// last part ("kvmodem-sim4.tty"), with its folder when that part is a bare
// number ("pts/4"); the log line keeps the whole.
std::string BarIdentity(const std::string& identity) {
    size_t cut = identity.find_last_of("/\\");
    if (cut == std::string::npos) return identity;
    const bool number = identity.find_first_not_of("0123456789", cut + 1) == std::string::npos;
    if (number && cut > 0) {
        const size_t parent = identity.find_last_of("/\\", cut - 1);
        if (parent != std::string::npos) cut = parent;
    }
    return identity.substr(cut + 1);
}

// "CH1 COM2 SIM1-0002 FAILED "CH1 ERR: Unlock" 3.2 s"
std::string ResultLine(const SlotReport& r) {
    std::string line = "CH" + std::to_string(r.channel) + " COM" + std::to_string(r.comPort) + " " +
                       r.identity + (r.event == SlotEvent::kPassed ? " PASSED" : " FAILED");
    if (r.event == SlotEvent::kFailed) line += " \"" + r.text + "\"";
    line += " " + Seconds(r.seconds);
    if (r.attempt > 0) line += " (try " + std::to_string(r.attempt + 1) + ")";
    return line;
}

}  // namespace

std::string StationCountsText(const StationCounts& counts) {
    const int64_t done = counts.passed + counts.failed;
    char yield[32] = "-";
    if (done > 0) std::snprintf(yield, sizeof yield, "%.1f %%", 100.0 * counts.passed / done);
    char rate[32] = "-";
    if (counts.perHour >= 0) std::snprintf(rate, sizeof rate, "%.0f", counts.perHour);
    return "passed " + std::to_string(counts.passed) + ", failed " + std::to_string(counts.failed) +
           ", yield " + yield + ", " + rate + " handsets/h";
}

StationPanel::StationPanel(DialogView& view, platform::NotifyReceiver& receiver)
    : m_view(view), m_receiver(receiver) {
    const std::vector<TemplateItem> items = DialogTemplate103();
    for (int c = 0; c < kControlCount; ++c) {
        const TemplateItem* item = FindTemplateItem(items, ControlName(static_cast<Control>(c)));
        m_enabled[c] = item == nullptr || (item->style & kDisabled) == 0;
    }
}

// The core ends a running station while its window is still there
// (TearDown); the engine's own destructor would wait for workers blocked on it.
StationPanel::~StationPanel() = default;

void StationPanel::SetCountsSource(std::unique_ptr<StationCountsSource> source) {
    m_source = std::move(source);
}

bool StationPanel::Start(const int comPorts[kChannelCount], int baud, int writeDelayMs) {
    if (m_station) return false;
    engine::StationOptions options;
    options.comPorts.assign(comPorts, comPorts + kChannelCount);
    options.baud = baud;
    options.writeDelayMs = writeDelayMs;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_slot[ch] = comPorts[ch] != 0;
        if (!m_slot[ch]) continue;
        m_view.SetBarLook(ch, Look::kNormal);
        m_view.SetBarText(ch, "Waiting");
        m_view.SetBarRange(ch, 0, 100);
        m_view.SetBarPos(ch, 0);
    }
    m_own = {};
    m_started = Clock::now();
    if (m_source) m_source->Begin();
    m_station = std::make_unique<engine::Station>(std::move(options), this, &m_receiver);
    if (!m_station->Start()) {
        m_station->Join();
        m_station.reset();
        return false;
    }
    Lock(true);
    ShowCounts(m_started);
    return true;
}

void StationPanel::End(bool finish) {
    if (!m_station) return;
    if (m_ending) {
        if (!finish) m_station->Stop();
        return;
    }
    m_ending = true;
    if (finish) {
        m_station->Finish();
    } else {
        m_station->Stop();
    }
    // The slots' last reports need the window: it is kept alive until all
    // have ended, and only then are the workers joined.
    m_view.RunWithWindowPump([this] {
        while (!m_station->WaitEnded(0))
            VARKO_Pump(kEndPumpMs);
    });
    m_station->Join();
    m_station.reset();
    m_ending = false;
    Lock(false);
    ShowCounts(Clock::now());
}

void StationPanel::StopNow() {
    if (m_station) m_station->Stop();
}

void StationPanel::OnSlot(const SlotReport& report) {
    m_receiver.Send(NotifyMessage, kNotifyStationSlot, &report);
}

std::string StationPanel::Show(const SlotReport& r, Clock::time_point now) {
    if (!IsChannel(r.channel) || !m_slot[r.channel]) return {};
    const int ch = r.channel;
    const auto bar = [this, ch](const std::string& text, int pos, Look look) {
        m_view.SetBarLook(ch, look);
        m_view.SetBarText(ch, text);
        m_view.SetBarRange(ch, 0, 100);
        m_view.SetBarPos(ch, pos);
    };
    std::string line;
    switch (r.event) {
        case SlotEvent::kArrived:
            bar("Arrived " + BarIdentity(r.identity), 0, Look::kNormal);
            break;
        case SlotEvent::kStarted:
            bar((r.attempt > 0 ? "Retry " : "Flashing ") + BarIdentity(r.identity), 0,
                Look::kNormal);
            break;
        case SlotEvent::kProgress:
            // The bar shows the engine's own progress of each image.
            if (now - m_countsShown >= kCountsEvery) ShowCounts(now);
            return {};
        case SlotEvent::kPassed:
            ++m_own.passed;
            bar("PASSED " + BarIdentity(r.identity) + " " + Seconds(r.seconds), 100, Look::kPassed);
            line = ResultLine(r);
            break;
        case SlotEvent::kFailed:
            ++m_own.failed;
            bar("FAILED " + r.text, 100, Look::kFailed);
            line = ResultLine(r);
            break;
        case SlotEvent::kGone:
            bar("Waiting", 0, Look::kNormal);
            break;
        case SlotEvent::kStopped:
            bar("Ready...", 0, Look::kNormal);
            break;
    }
    ShowCounts(now);
    return line;
}

void StationPanel::ShowCounts(Clock::time_point now) {
    m_countsShown = now;
    std::optional<StationCounts> counts = m_source ? m_source->Counts() : std::nullopt;
    if (!counts) {
        counts = m_own;
        const double hours = std::chrono::duration<double>(now - m_started).count() / 3600;
        counts->perHour = hours > 0 ? m_own.passed / hours : -1;
    }
    m_view.SetText(Control::kStationCountsText, "Station: " + StationCountsText(*counts));
}

bool StationPanel::Locks(Control control) const {
    if (control == Control::kLoadButton || control == Control::kSaveAsButton ||
        control == Control::kPortSearchButton || control == Control::kDownloadButton) {
        return true;
    }
    for (int r = 0; r < kRowCount; ++r) {
        const RowControls row = ControlsOf(static_cast<Row>(r));
        if (control == row.check || control == row.button) return true;
    }
    return false;
}

void StationPanel::Lock(bool locked) {
    m_locked = locked;
    for (int c = 0; c < kControlCount; ++c) {
        const auto control = static_cast<Control>(c);
        if (Locks(control)) m_view.SetEnabled(control, !locked && m_enabled[c]);
    }
}

void StationPanel::SetEnabled(Control control, bool enabled) {
    const int c = static_cast<int>(control);
    if (c < 0 || c >= kControlCount) return;
    m_enabled[c] = enabled;
    if (!m_locked || !Locks(control)) m_view.SetEnabled(control, enabled);
}

}  // namespace ui
