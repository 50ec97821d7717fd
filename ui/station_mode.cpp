// Station mode in the window core: the Station box starts a slot on every
// channel holding a port, the slots' reports reach the bars, the log and the
// counts line, and a close during the station asks how to end it.
#include <cstddef>

#include "config/settings.h"
#include "engine/station.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

constexpr const char* kCloseQuestion =
    "The station is running.\n"
    "Yes: let the flashes in progress end, then close.\n"
    "No: stop every channel now and close.\n"
    "Cancel: keep the station running.";

// A station runs for a whole shift: its log keeps the newest lines only.
constexpr size_t kStationLogKeep = 48 * 1024;
constexpr size_t kStationLogMost = 64 * 1024;

void TrimLog(std::string* log) {
    if (log->size() <= kStationLogMost) return;
    const size_t cut = log->find("\r\n", log->size() - kStationLogKeep);
    log->erase(0, cut == std::string::npos ? log->size() - kStationLogKeep : cut + 2);
}

}  // namespace

void DownloaderCore::OnStationCheck() {
    const bool wanted = Checked(Control::kStationCheck);
    if (m_station.Running()) {
        // While the slots end, the box stays unticked; a click changes nothing.
        if (wanted || m_station.Ending()) {
            SetChecked(Control::kStationCheck, !m_station.Ending());
            return;
        }
        SetText(Control::kStatusText, "Station finishing: flashes in progress end");
        m_station.End(true);
        StationEnded();
        return;
    }
    if (wanted && !StartStation()) SetChecked(Control::kStationCheck, false);
}

bool DownloaderCore::StartStation() {
    if (m_sessionRunning) return false;
    if (!AnyChannelHasPort()) {
        SetText(Control::kStatusText, "Station: no channel holds a port");
        return false;
    }
    if (!FillImageTable()) return false;
    PublishModel();  // the records name the image set in use, as a session's do
    if (!m_station.Start(m_channelPort, m_settings.BAUDRATE, m_settings.DELAY)) {
        SetText(Control::kStatusText, "Station: no slot could start");
        return false;
    }
    SetText(Control::kStatusText, "Station running");
    m_statusLog.append("Station started\r\n");
    PushStatusLog();
    return true;
}

void DownloaderCore::StationEnded() {
    SetChecked(Control::kStationCheck, false);
    SetText(Control::kStatusText, "Station ended");
    m_statusLog.append("Station ended\r\n");
    PushStatusLog();
    EnableDownload(AnyChannelHasPort());
    if (m_closePending) {
        m_closePending = false;
        m_view.EndDialog();
    }
}

bool DownloaderCore::CloseDuringStation() {
    using Answer = DialogView::Answer;
    const Answer answer = m_view.Ask(kCloseQuestion, true);
    if (answer == Answer::kCancel) return false;
    if (m_station.Ending()) {
        // Asked while the slots end: the close follows once they have.
        if (answer == Answer::kNo) m_station.StopNow();
        m_closePending = true;
        return false;
    }
    m_station.End(answer == Answer::kYes);
    TearDown();
    return true;
}

void DownloaderCore::ShowStationSlot(const void* payload) {
    const auto* report = static_cast<const engine::SlotReport*>(payload);
    if (report == nullptr) return;
    const std::string line = m_station.Show(*report);
    if (line.empty()) return;
    m_statusLog.append(line).append("\r\n");
    TrimLog(&m_statusLog);
    PushStatusLog();
}

}  // namespace ui
