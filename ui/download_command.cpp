// The Download command: the chosen rows checked and put into the image
// table, a session run on every channel that holds a port, and the engine's
// notifications shown on the progress bars, the status line and the log.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/image_set.h"
#include "config/image_set_slots.h"
#include "config/settings.h"
#include "engine/session.h"
#include "link/notify.h"
#include "platform/notify.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

constexpr std::string_view kDownloadStart = "Download Start";
constexpr std::string_view kEraseFlash = "Erase Flash";
constexpr size_t kChannelPrefixLength = 4;  // "CH3 "

// Sets a flag for the lifetime of the scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

// The window's row of an image-set row (Modem is the third row).
Row RowOf(ImageSetRow row) {
    return static_cast<Row>(static_cast<int>(kModemRow) + static_cast<int>(row));
}

const char* SlotName(int kind) {
    constexpr int kNames = static_cast<int>(std::size(g_imageNames));
    return kind >= 0 && kind < kNames ? g_imageNames[kind] : "";
}

}  // namespace

void DownloaderCore::OnDownload() {
    // The session or station already running goes on alone.
    if (m_sessionRunning || m_station.Running()) return;
    if (!FillImageTable()) return;
    RunDownloadSession();
}

bool DownloaderCore::FillImageTable() {
    config::SlotChoice choice;
    choice.boot = Checked(Control::kBootCheck);
    choice.usbAddress = Text(Control::kUsbAddressEdit);
    for (const config::RowSlot& r : config::kRowSlots) {
        const RowControls c = ControlsOf(RowOf(r.row));
        choice.rows[r.row] = Checked(c.check);
        choice.rowAddress[r.row] = Text(c.address);
    }
    VARKO_ClearImages();
    // A slot the engine refuses (an address that is no hexadecimal number, a
    // path too long for the table) is reported like a missing image: left
    // empty, it would be skipped and the download still reported complete.
    const char* message =
        config::PlaceImageSetSlots(m_imageSet, choice, [](const config::SlotImage& image) {
            return VARKO_SetImage(image.slot, image.path, image.address) >= 0;
        });
    if (message == nullptr) return true;
    platform::ShowMessage(message);
    return false;
}

void DownloaderCore::RunDownloadSession() {
    // The station records name the image set in use from the settings.
    PublishModel();
    if (VARKO_StartSession(&m_receiver, NotifyMessage, m_channelPort, m_settings.BAUDRATE,
                           m_settings.DELAY) == 0) {
        return;
    }
    SetEnabled(Control::kDownloadButton, false);
    m_busy = 1;
    {
        FlagScope running(m_sessionRunning);
        const int restart = Checked(Control::kEmergencyCheck) ? 1 : 0;
        m_view.RunWithWindowPump([restart] { VARKO_RunSession(restart); });
    }
    // Also after a port removal cleared m_busy: no channel stays marked
    // active and the receiver is forgotten.
    VARKO_StopSession();
    m_busy = 0;
    if (m_closePending) {
        m_closePending = false;
        m_view.EndDialog();
    }
}

void DownloaderCore::StopAllChannels() {
    for (int ch = 0; ch < kChannelCount; ++ch)
        VARKO_StopChannel(ch);
}

intptr_t DownloaderCore::OnNotify(uintptr_t code, const void* payload) {
    switch (code) {
        case NOTIFY_PROGRESS:
            ShowProgress(payload);
            break;
        case NOTIFY_STATUS:
            if (payload != nullptr)
                SetText(Control::kStatusText, static_cast<const char*>(payload));
            break;
        case NOTIFY_CHANNEL_TEXT:
            ShowChannelText(payload);
            break;
        case kNotifyStationSlot:
            ShowStationSlot(payload);
            break;
        default:
            break;
    }
    return 0;
}

void DownloaderCore::ShowProgress(const void* payload) {
    const auto* entry = static_cast<const ImageEntry*>(payload);
    if (entry == nullptr || !IsChannel(entry->channel)) return;
    const int ch = entry->channel;
    uint32_t sent = entry->bytesSent;
    uint32_t size = entry->size;
    // An empty image is done at once; its percentage would divide by zero.
    if (size == 0 || (sent >= size && !m_doneShown[ch])) {
        m_view.SetBarText(ch, "Done");
        m_view.SetBarRange(ch, 0, 100);
        m_view.SetBarPos(ch, 100);
        m_doneShown[ch] = true;
        return;
    }
    m_doneShown[ch] = false;
    const unsigned long long percent = static_cast<uint64_t>(sent) * 100 / size;
    char text[128];
    std::snprintf(text, sizeof text, "%s: %llu%% [%u/%u]", SlotName(entry->kind), percent, sent,
                  size);
    m_view.SetBarText(ch, text);
    // Range and position halved alike until the range fits the bar's int range.
    while (size > static_cast<uint32_t>(INT_MAX)) {
        size >>= 1;
        sent >>= 1;
    }
    m_view.SetBarRange(ch, 0, static_cast<int>(size));
    m_view.SetBarPos(ch, static_cast<int>(std::min(sent, static_cast<uint32_t>(INT_MAX))));
}

void DownloaderCore::ShowChannelText(const void* payload) {
    const auto* record = static_cast<const ImageEntry*>(payload);
    if (record == nullptr || !IsChannel(record->channel)) return;
    const std::string_view text(record->path, strnlen(record->path, sizeof record->path));
    if (text.empty()) return;
    m_view.SetBarText(record->channel, std::string(text));
    m_view.SetBarRange(record->channel, 0, 100);
    m_view.SetBarPos(record->channel, 0);
    // A station's slots start one by one: its log runs on.
    if (text.size() >= kChannelPrefixLength && !m_station.Running() &&
        text.substr(kChannelPrefixLength) == kDownloadStart) {
        m_statusLog = "\r\n";
    }
    if (text != kEraseFlash) {
        m_statusLog.append(text).append("\r\n");
        PushStatusLog();
    }
}

void DownloaderCore::PushStatusLog() {
    SetText(Control::kStatusLogEdit, m_statusLog);
}

}  // namespace ui
