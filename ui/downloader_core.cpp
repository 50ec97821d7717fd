// The window core's construction, the controls' first state and the close.
#include "ui/downloader_core.h"

#include <algorithm>

#include "config/settings.h"
#include "engine/session.h"
#include "platform/port_map.h"

namespace ui {

namespace {

constexpr const char* kControlNames[kControlCount] = {
    "m_bootChangeCheck",
    "m_modemType1Radio",
    "m_modemType2Radio",
    "m_crcCheck",
    "m_fullBinaryCheck",
    "m_binaryFolderEdit",
    "m_statusText",
    "m_statusLogEdit",
    "m_imageSetPathEdit",
    "m_autoCheck",
    "m_emergencyCheck",
    "m_downloadButton",
    "m_bootCheck",
    "m_bootButton",
    "m_bootKindEdit",
    "m_bootPathEdit",
    "m_bootFullPathEdit",
    "m_bootAddressEdit",
    "m_usbCheck",
    "m_usbButton",
    "m_usbKindEdit",
    "m_usbPathEdit",
    "m_usbFullPathEdit",
    "m_usbAddressEdit",
    "m_modemCheck",
    "m_modemButton",
    "m_modemKindEdit",
    "m_modemPathEdit",
    "m_modemFullPathEdit",
    "m_modemAddressEdit",
    "m_rsrc1Check",
    "m_rsrc1Button",
    "m_rsrc1KindEdit",
    "m_rsrc1PathEdit",
    "m_rsrc1FullPathEdit",
    "m_rsrc1AddressEdit",
    "m_rsrc2Check",
    "m_rsrc2Button",
    "m_rsrc2KindEdit",
    "m_rsrc2PathEdit",
    "m_rsrc2FullPathEdit",
    "m_rsrc2AddressEdit",
    "m_factoryFsCheck",
    "m_factoryFsButton",
    "m_factoryFsKindEdit",
    "m_factoryFsPathEdit",
    "m_factoryFsFullPathEdit",
    "m_factoryFsAddressEdit",
    "m_fotaCheck",
    "m_fotaButton",
    "m_fotaKindEdit",
    "m_fotaPathEdit",
    "m_fotaFullPathEdit",
    "m_fotaAddressEdit",
    "m_crcEdit0",
    "m_crcEdit1",
    "m_crcEdit2",
    "m_crcEdit3",
    "m_crcEdit4",
    "m_crcEdit5",
    "m_crcEdit6",
    "m_stationCheck",
    "m_stationCountsText",
    "m_loadButton",
    "m_saveAsButton",
    "m_portSearchButton",
};

constexpr Control kFirstRowControl = Control::kBootCheck;
constexpr int kControlsPerRow = 6;  // check, button, kind, path, full path, address

}  // namespace

const char* ControlName(Control control) {
    const int index = static_cast<int>(control);
    return index >= 0 && index < kControlCount ? kControlNames[index] : "";
}

RowControls ControlsOf(Row row) {
    const auto at = [row](int part) {
        return static_cast<Control>(static_cast<int>(kFirstRowControl) + row * kControlsPerRow +
                                    part);
    };
    const auto crc = static_cast<Control>(static_cast<int>(Control::kCrcEdit0) + row);
    return {at(0), at(1), at(2), at(3), at(4), at(5), crc};
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
    if (Checked(Control::kAutoCheck)) OnPortSearch();
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

void DownloaderCore::TearDown() {
    if (m_tornDown) return;
    m_tornDown = true;
    m_station.End(false);
    // The settings are stored; the image set only when the operator changed it.
    CopyControlsToSettings();
    WriteSettings(nullptr, &m_shownImageSet);
    VARKO_StopSession();
    // No channel holds a port any more: this starts no worker and returns.
    VARKO_RunSession(0);
}

}  // namespace ui
