// The Download command: the chosen rows checked and put into the image
// table, a session run on every channel that holds a port, and the engine's
// notifications shown on the progress bars, the status line and the log.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/image_set.h"
#include "config/settings.h"
#include "engine/session.h"
#include "link/notify.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "ui/downloader_core.h"
#include "ui/field_text.h"

namespace ui {

int g_doneShown = 0;

namespace {

constexpr int kUsbSlot = 7;
constexpr int kBootLoaderSlot = 6;

// The boot chain's slots 0..5 in order, with what is shown when one is
// missing.
constexpr const char* kChainMessages[kBootChainCount] = {
    "Invalid Pbl Image !",    "Invalid QcSblhd Image !", "Invalid Mibib1 Image !",
    "Invalid Mibib2 Image !", "Invalid QcSbl Image !",   "Invalid OemSbl Image !"};

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

const char* SlotName(int kind) {
    constexpr int kNames = static_cast<int>(std::size(g_imageNames));
    return kind >= 0 && kind < kNames ? g_imageNames[kind] : "";
}

}  // namespace

void DownloaderCore::OnDownload() {
    if (m_sessionRunning) return;  // the session already running goes on alone
    if (!FillImageTable()) return;
    RunDownloadSession();
}

bool DownloaderCore::FillImageTable() {
    // The rows after the boot chain, in the order they are checked.
    static constexpr struct {
        Row row;
        int imageSetRow;
        int slot;
        const char* message;
    } kRows[] = {
        {kModemRow, kRowCode, 8, "Invalid Modem Image/Address !"},
        {kRsrc1Row, kRowFont, 9, "Invalid Rsrc1 Image/Address !"},
        {kRsrc2Row, kRowData, 10, "Invalid Rsrc2 Image/Address !"},
        {kFactoryFsRow, kRowEtc1, 11, "Invalid FileSys Image/Address !"},
    };
    VARKO_ClearImages();
    int count = 0;
    if (Checked(Control::kBootCheck) && !AddBootImages(&count)) return false;
    for (const auto& r : kRows) {
        if (!Checked(ControlsOf(r.row).check)) continue;
        if (!AddRowImage(r.row, r.imageSetRow, r.slot, r.message, &count)) return false;
    }
    if (count == 0) {
        platform::ShowMessage("Select Image !");
        return false;
    }
    return true;
}

bool DownloaderCore::AddBootImages(int* count) {
    ImageSet& set = g_imageSet;
    int bootImages = 0;
    if (set.MTY == kModemTypeBootChain) {
        for (int slot = 0; slot < kBootChainCount; ++slot) {
            const BootChainEntry& entry = set.bootChain[slot];
            if (!SetSlot(slot, entry.path, entry.address, kChainMessages[slot])) return false;
        }
        bootImages = kBootChainCount;
    } else if (set.MTY == kModemTypeBootLoader) {
        if (!SetSlot(kBootLoaderSlot, set.BOOTLOADERFILE, set.BOOTADDRESS,
                     "Invalid BootLoader Image !")) {
            return false;
        }
        bootImages = 1;
    }
    return AddUsbImage(bootImages, count);
}

bool DownloaderCore::AddUsbImage(int bootImages, int* count) {
    constexpr const char* kMessage = "Invalid Usb Image/Address !";
    ImageSet& set = g_imageSet;
    const std::string address = Text(Control::kUsbAddressEdit);
    if (set.USBFILE[0] == '\0' || address.empty() || !CopyToField(address, set.USBADDRESS)) {
        platform::ShowMessage(kMessage);
        return false;
    }
    if (!SetSlot(kUsbSlot, set.USBFILE, set.USBADDRESS, kMessage)) return false;
    *count = bootImages + 1;
    return true;
}

bool DownloaderCore::AddRowImage(Row row, int imageSetRow, int slot, const char* message,
                                 int* count) {
    ImageSetSlot& stored = g_imageSet.rows[imageSetRow];
    const std::string address = Text(ControlsOf(row).address);
    if (stored.file[0] == '\0' || address.empty() || !CopyToField(address, stored.address)) {
        platform::ShowMessage(message);
        return false;
    }
    if (!SetSlot(slot, stored.file, stored.address, message)) return false;
    ++*count;
    return true;
}

// A slot the engine refuses (an address that is no hexadecimal number, a
// path too long for the table) is reported like a missing image: left
// empty, it would be skipped and the download still reported complete.
bool DownloaderCore::SetSlot(int slot, const char* path, const char* address, const char* message) {
    if (path[0] == '\0' || VARKO_SetImage(slot, path, address) < 0) {
        platform::ShowMessage(message);
        return false;
    }
    return true;
}

void DownloaderCore::RunDownloadSession() {
    g_nWriteDelay = g_settings.DELAY;
    if (VARKO_StartSession(&m_receiver, NotifyMessage, m_channelPort, g_settings.BAUDRATE) == 0) {
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
    if (size == 0 || (sent >= size && g_doneShown == 0)) {
        m_view.SetBarText(ch, "Done");
        m_view.SetBarRange(ch, 0, 100);
        m_view.SetBarPos(ch, 100);
        g_doneShown = 1;
        return;
    }
    g_doneShown = 0;
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
    if (text.size() >= kChannelPrefixLength &&
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
