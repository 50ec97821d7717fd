// The window core's construction, the controls' first state and the close.
#include "ui/downloader_core.h"

#include <algorithm>
#include <iterator>

#include "config/settings.h"
#include "engine/session.h"
#include "platform/notify.h"
#include "platform/port_map.h"

namespace ui {

namespace {

// A row's controls follow each other in the template: button, check box,
// kind, path, full path, address, CRC.
constexpr Control kFirstRowControl = Control::kBootButton;
constexpr int kControlsPerRow = 7;
static_assert(static_cast<int>(Control::kCrcEdit6) ==
                  static_cast<int>(kFirstRowControl) + kRowCount * kControlsPerRow - 1,
              "the template's rows are no longer seven controls each");
static_assert(std::size(kControlMemberNames) == kControlCount);

}  // namespace

const char* ControlName(Control control) {
    const int index = static_cast<int>(control);
    return index >= 0 && index < kControlCount ? kControlMemberNames[index] : "";
}

RowControls ControlsOf(Row row) {
    const auto at = [row](int part) {
        return static_cast<Control>(static_cast<int>(kFirstRowControl) + row * kControlsPerRow +
                                    part);
    };
    return {at(1), at(0), at(2), at(3), at(4), at(5), at(6)};
}

void DownloaderCore::SetText(Control c, const std::string& text) {
    for (int r = 0; r < kRowCount; ++r) {
        if (ControlsOf(Row(r)).path == c) m_shownPath[r] = text;
    }
    m_view.SetText(c, text);
}

DownloaderCore::DownloaderCore(DialogView& view, platform::NotifyReceiver& receiver,
                               std::unique_ptr<platform::SerialPortSource> ports)
    : m_view(view), m_receiver(receiver), m_ports(std::move(ports)) {}

void DownloaderCore::OnInitDialog() {
    FillPortCombos();
    SetChecked(Control::kAutoCheck, true);
    SetChecked(Control::kEmergencyCheck, true);
    SetEnabled(Control::kFotaCheck, false);
    SetVisible(Control::kBootAddressEdit, false);
    SetVisible(Control::kCrcEdit0, false);
    std::fill(std::begin(m_channelPort), std::end(m_channelPort), 0);
    m_busy = 0;
    // The settings, the image set and the port map all live in the start
    // directory; a file dialog changing the current directory moves none.
    if (!SetStartDirectoryFromProcess()) g_szCurrentDir[0] = '\0';
    platform::PortMap_SetDirectory(g_szCurrentDir[0] != '\0' ? g_szCurrentDir : ".");
    LoadSettingsToControls(nullptr);
    // With "A u t o" unchecked the stored ports are the operator's own choice
    // and stay; a search now would release them and the close would store
    // the loss. Port Search remains at hand.
    if (m_settings.AUTODETECT != 0) OnPortSearch();
}

void DownloaderCore::FillPortCombos() {
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_view.SetPortEntries(ch, kPortEntries);
        m_channelPort[ch] = 0;
        SelectPortEntry(ch, 0);
    }
}

bool DownloaderCore::OnClose() {
    if (m_station.Running()) return CloseDuringStation();
    if (m_sessionRunning) {
        // Never end under the running session: stop it, and finish the close
        // once the session runner has returned (RunDownloadSession).
        m_closePending = true;
        StopAllChannels();
        return false;
    }
    TearDown();
    return true;
}

void DownloaderCore::EndView(platform::OperatorPrompt* installedPrompt) {
    TearDown();
    if (platform::GetOperatorPrompt() == installedPrompt) platform::SetOperatorPrompt(nullptr);
}

void DownloaderCore::TearDown() {
    if (m_tornDown) return;
    m_tornDown = true;
    m_station.End(false);
    // The settings are stored; the image set only when the operator changed it.
    CopyControlsToSettings();
    WriteFiles(&m_shownImageSet);
    VARKO_StopSession();
    // No channel holds a port any more: this starts no worker and returns.
    VARKO_RunSession(0);
}

}  // namespace ui
