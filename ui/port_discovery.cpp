// Which COM port each channel holds: found by Port Search in the system's
// serial-port list, followed on arrival and removal while "A u t o" is
// checked, or chosen by the operator in the channel's combo box.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "config/settings.h"
#include "controls/text_progress_ctrl.h"
#include "engine/session.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"
#include "ui/downloader_dialog.h"

bool DownloaderDialog::DownloadInProgress() const {
    return m_busy != 0 || m_sessionRunning;
}

void DownloaderDialog::OnPortSearch() {
    if (DownloadInProgress()) return;
    const std::vector<platform::SerialPortInfo> ports = m_services.ports->List();
    for (int ch = 0; ch < kChannelCount; ++ch)
        ReleaseChannel(ch);
    m_knownPorts.clear();
    for (const platform::SerialPortInfo& port : ports) {
        if (port.comNumber <= 0) continue;
        RememberPort(port);
        if (platform::IsHandsetPortName(port.name)) AssignPort(port.comNumber);
    }
    // The search released every channel: Download stays offered only when
    // it found a port.
    EnableDownload(AnyChannelHasPort());
}

void DownloaderDialog::AssignPort(int comNumber) {
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
    m_statusText->setText(QStringLiteral("Detect COM%1 Port").arg(comNumber));
    SelectPortEntry(chosen, comNumber);
    m_portCombo[chosen]->setEnabled(false);
    m_progress[chosen]->SetWindowText(QStringLiteral("Ready..."));
    EnableDownload(true);
}

void DownloaderDialog::ReleaseChannel(int channel) {
    m_channelPort[channel] = 0;
    SelectPortEntry(channel, 0);
    m_portCombo[channel]->setEnabled(true);
    m_progress[channel]->SetWindowText(QString());
}

void DownloaderDialog::SelectPortEntry(int channel, int comNumber) {
    // Entry n is COM n; a port above 30 has no entry, so none is shown.
    const bool listed = comNumber >= 0 && comNumber <= kPortEntries;
    m_portCombo[channel]->setCurrentIndex(listed ? comNumber : -1);
    m_portCombo[channel]->setToolTip(PortToolTip(comNumber));
}

void DownloaderDialog::RememberPort(const platform::SerialPortInfo& port) {
    m_knownPorts[port.comNumber] = port;
}

QString DownloaderDialog::PortToolTip(int comNumber) const {
    if (comNumber <= 0) return QStringLiteral("No port");
    const auto known = m_knownPorts.find(comNumber);
    if (known == m_knownPorts.end()) {
        return QStringLiteral("COM%1: %2")
            .arg(comNumber)
            .arg(QString::fromStdString(platform::PortMap_DevicePath(comNumber)));
    }
    return QStringLiteral("COM%1: %2 (%3)")
        .arg(comNumber)
        .arg(QString::fromStdString(known->second.devicePath),
             QString::fromStdString(known->second.name));
}

bool DownloaderDialog::AnyChannelHolds(int comNumber) const {
    return std::find(std::begin(m_channelPort), std::end(m_channelPort), comNumber) !=
           std::end(m_channelPort);
}

bool DownloaderDialog::AnyChannelHasPort() const {
    return std::any_of(std::begin(m_channelPort), std::end(m_channelPort),
                       [](int port) { return port != 0; });
}

void DownloaderDialog::OnDeviceChange(const platform::PortEvent& event) {
    if (event.port.comNumber <= 0) return;  // no port number: nothing to follow
    if (event.kind == platform::PortEvent::Kind::kArrival) {
        OnPortArrived(event.port);
    } else {
        OnPortRemoved(event.port.comNumber);
    }
}

void DownloaderDialog::OnPortArrived(const platform::SerialPortInfo& port) {
    m_statusText->setText(QStringLiteral("Detect COM%1 Port").arg(port.comNumber));
    RememberPort(port);
    if (!DownloadInProgress() && m_autoCheck->isChecked()) AssignPort(port.comNumber);
}

void DownloaderDialog::OnPortRemoved(int comNumber) {
    m_statusText->setText(QStringLiteral("Disconnect COM%1 Port").arg(comNumber));
    const int* holder = std::find(std::begin(m_channelPort), std::end(m_channelPort), comNumber);
    if (holder != std::end(m_channelPort)) {
        const int channel = static_cast<int>(holder - m_channelPort);
        // Every removal during the session stops its channel, also after an
        // earlier removal has cleared m_busy.
        if (m_sessionRunning) VARKO_StopChannel(channel);
        ReleaseChannel(channel);
    }
    m_busy = 0;
    m_downloadButton->setEnabled(false);
}

void DownloaderDialog::OnPortEventsReady() {
    for (const platform::PortEvent& event : m_services.portEvents->ReadEvents())
        OnDeviceChange(event);
}

void DownloaderDialog::OnPortSelected(int channel) {
    if (DownloadInProgress()) {
        // A running channel keeps the port it was started on.
        SelectPortEntry(channel, m_channelPort[channel]);
        return;
    }
    const int selected = std::max(0, m_portCombo[channel]->currentIndex());
    if (AnyChannelHolds(selected)) {
        SelectPortEntry(channel, 0);
        m_progress[channel]->SetWindowText(QString());
        m_channelPort[channel] = 0;
    } else {
        m_channelPort[channel] = selected;
        m_portCombo[channel]->setToolTip(PortToolTip(selected));
    }
    EnableDownload(AnyChannelHasPort());
}

void DownloaderDialog::OnAutoClicked() {
    if (DownloadInProgress()) {
        // The click changes nothing while a download runs, the box included.
        m_autoCheck->setChecked(!m_autoCheck->isChecked());
        return;
    }
    const bool automatic = m_autoCheck->isChecked();
    g_settings.AUTODETECT = automatic ? 1 : 0;
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
        m_progress[ch]->SetWindowText(QString());
    }
    m_downloadButton->setEnabled(false);
}

void DownloaderDialog::EnableDownload(bool enable) {
    // A second session never starts inside a running one.
    m_downloadButton->setEnabled(enable && !m_sessionRunning);
}
