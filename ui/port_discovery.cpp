// Which COM port each channel holds: found by Port Search in the system's
// serial-port list, followed on arrival and removal while "A u t o" is
// checked, or chosen by the operator in the channel's combo box.
#include <algorithm>
#include <cctype>

#include "config/settings.h"
#include "engine/session.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

std::string ComText(int comNumber) {
    return "COM" + std::to_string(comNumber);
}

// n of "COM<n>" (any case, n from 1 to 255); 0 for any other name.
int ComNumberOf(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    }
    if (name[3] == '0') return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number <= 255 ? number : 0;
}

}  // namespace

bool DownloaderCore::DownloadInProgress() const {
    return m_busy != 0 || m_sessionRunning || m_station.Running();
}

void DownloaderCore::OnPortSearch() {
    if (DownloadInProgress()) return;
    const std::vector<platform::SerialPortInfo> ports = m_ports->List();
    for (int ch = 0; ch < kChannelCount; ++ch)
        ReleaseChannel(ch);
    m_knownPorts.clear();
    for (const platform::SerialPortInfo& port : ports) {
        if (port.comNumber > 0) m_knownPorts[port.comNumber] = port;
    }
    for (const platform::SerialPortInfo& port : platform::HandsetPorts(ports))
        AssignPort(port.comNumber);
    // The search released every channel: Download stays offered only when
    // it found a port.
    EnableDownload(AnyChannelHasPort());
}

void DownloaderCore::AssignPort(int comNumber) {
    int chosen = -1;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (m_channelPort[ch] != comNumber) continue;
        if (chosen < 0) {
            chosen = ch;  // the first holder keeps the port
        } else {
            ReleaseChannel(ch);
        }
    }
    for (int ch = 0; chosen < 0 && ch < kChannelCount; ++ch) {
        if (m_channelPort[ch] == 0) chosen = ch;
    }
    if (chosen < 0) return;  // every channel holds a port
    m_channelPort[chosen] = comNumber;
    SetText(Control::kStatusText, "Detect " + ComText(comNumber) + " Port");
    SelectPortEntry(chosen, comNumber);
    m_view.SetPortEnabled(chosen, false);
    m_view.SetBarText(chosen, "Ready...");
    EnableDownload(true);
}

void DownloaderCore::ReleaseChannel(int channel) {
    m_channelPort[channel] = 0;
    SelectPortEntry(channel, 0);
    m_view.SetPortEnabled(channel, true);
    m_view.SetBarText(channel, {});
}

void DownloaderCore::SelectPortEntry(int channel, int comNumber) {
    // Entry n is COM n; a port above 30 has no entry, so none is shown.
    const bool listed = comNumber >= 0 && comNumber <= kPortEntries;
    m_view.SelectPort(channel, listed ? comNumber : -1);
    m_view.SetPortToolTip(channel, PortToolTip(comNumber));
}

std::string DownloaderCore::PortToolTip(int comNumber) const {
    if (comNumber <= 0) return "No port";
    const auto known = m_knownPorts.find(comNumber);
    if (known == m_knownPorts.end()) {
        return ComText(comNumber) + ": " + platform::PortMap_DevicePath(comNumber);
    }
    return ComText(comNumber) + ": " + known->second.devicePath + " (" + known->second.name + ")";
}

bool DownloaderCore::AnyChannelHolds(int comNumber) const {
    return std::find(std::begin(m_channelPort), std::end(m_channelPort), comNumber) !=
           std::end(m_channelPort);
}

bool DownloaderCore::AnyChannelHasPort() const {
    return std::any_of(std::begin(m_channelPort), std::end(m_channelPort),
                       [](int port) { return port != 0; });
}

void DownloaderCore::OnDeviceChange(const platform::PortEvent& event) {
    if (event.port.comNumber <= 0) return;  // no port number: nothing to follow
    if (event.kind == platform::PortEvent::Kind::kArrival) {
        OnPortArrived(event.port);
    } else {
        OnPortRemoved(event.port.comNumber);
    }
}

void DownloaderCore::OnDeviceChange(platform::PortEvent::Kind kind, const std::string& portName) {
    const int comNumber = ComNumberOf(portName);
    if (comNumber <= 0) return;
    platform::PortEvent event{kind, {portName, comNumber, {}}};
    if (kind == platform::PortEvent::Kind::kArrival) {
        for (const platform::SerialPortInfo& port : m_ports->List()) {
            if (port.comNumber == comNumber) event.port = port;
        }
    }
    OnDeviceChange(event);
}

void DownloaderCore::OnPortArrived(const platform::SerialPortInfo& port) {
    SetText(Control::kStatusText, "Detect " + ComText(port.comNumber) + " Port");
    m_knownPorts[port.comNumber] = port;
    if (!DownloadInProgress() && m_settings.AUTODETECT != 0) AssignPort(port.comNumber);
}

void DownloaderCore::OnPortRemoved(int comNumber) {
    SetText(Control::kStatusText, "Disconnect " + ComText(comNumber) + " Port");
    // A station's slot keeps its port: the next handset arrives on it.
    if (m_station.Running()) return;
    const int* holder = std::find(std::begin(m_channelPort), std::end(m_channelPort), comNumber);
    if (holder != std::end(m_channelPort)) {
        const int channel = static_cast<int>(holder - m_channelPort);
        // Every removal during the session stops its channel, also after an
        // earlier removal has cleared m_busy.
        if (m_sessionRunning) VARKO_StopChannel(channel);
        ReleaseChannel(channel);
    }
    m_busy = 0;
    SetEnabled(Control::kDownloadButton, false);
}

void DownloaderCore::OnPortSelected(int channel) {
    if (DownloadInProgress()) {
        // A running channel keeps the port it was started on.
        SelectPortEntry(channel, m_channelPort[channel]);
        return;
    }
    const int selected = std::max(0, m_view.PortSelection(channel));
    if (AnyChannelHolds(selected)) {
        SelectPortEntry(channel, 0);
        m_view.SetBarText(channel, {});
        m_channelPort[channel] = 0;
    } else {
        m_channelPort[channel] = selected;
        m_view.SetPortToolTip(channel, PortToolTip(selected));
    }
    EnableDownload(AnyChannelHasPort());
}

void DownloaderCore::OnAutoClicked() {
    if (DownloadInProgress()) {
        // The click changes nothing while a download runs, the box included.
        SetChecked(Control::kAutoCheck, !Checked(Control::kAutoCheck));
        return;
    }
    const bool automatic = Checked(Control::kAutoCheck);
    m_settings.AUTODETECT = automatic ? 1 : 0;
    if (!automatic) {
        // The stored ports are held again at once, as at the start: shown
        // but not held, they would be stored as none when the window closes.
        HoldStoredPorts();
        EnableDownload(AnyChannelHasPort());
        return;
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_channelPort[ch] = 0;
        SelectPortEntry(ch, 0);
        m_view.SetBarText(ch, {});
    }
    SetEnabled(Control::kDownloadButton, false);
}

void DownloaderCore::EnableDownload(bool enable) {
    // A second session never starts inside a running one.
    SetEnabled(Control::kDownloadButton, enable && !m_sessionRunning);
}

}  // namespace ui
