// The Download command: the chosen rows checked and put into the image
// table, a session run on every channel that holds a port, and the engine's
// notifications shown on the progress bars, the status line and the log.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <climits>
#include <cstring>

#include "config/image_set.h"
#include "config/settings.h"
#include "controls/text_progress_ctrl.h"
#include "engine/session.h"
#include "link/notify.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "ui/address_edits.h"
#include "ui/downloader_dialog.h"
#include "ui/field_text.h"
#include "ui/window_pump.h"

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

// Halves range and position alike until the range fits the bar's int range.
void SetBarRange(TextProgressCtrl* bar, uint32_t size, uint32_t sent) {
    while (size > static_cast<uint32_t>(INT_MAX)) {
        size >>= 1;
        sent >>= 1;
    }
    bar->SetRange(0, static_cast<int>(size));
    bar->SetPos(static_cast<int>(std::min(sent, static_cast<uint32_t>(INT_MAX))));
}

}  // namespace

void DownloaderDialog::OnDownload() {
    if (m_sessionRunning) return;  // the session already running goes on alone
    if (!FillImageTable()) return;
    RunDownloadSession();
}

bool DownloaderDialog::FillImageTable() {
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
    if (m_bootCheck->isChecked() && !AddBootImages(&count)) return false;
    for (const auto& r : kRows) {
        if (!Controls(r.row).check->isChecked()) continue;
        if (!AddRowImage(r.row, r.imageSetRow, r.slot, r.message, &count)) return false;
    }
    if (count == 0) {
        platform::ShowMessage("Select Image !");
        return false;
    }
    return true;
}

bool DownloaderDialog::AddBootImages(int* count) {
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

bool DownloaderDialog::AddUsbImage(int bootImages, int* count) {
    constexpr const char* kMessage = "Invalid Usb Image/Address !";
    ImageSet& set = g_imageSet;
    const QString address = m_usbAddressEdit->text();
    if (set.USBFILE[0] == '\0' || address.isEmpty() || !CopyToField(address, set.USBADDRESS)) {
        platform::ShowMessage(kMessage);
        return false;
    }
    if (!SetSlot(kUsbSlot, set.USBFILE, set.USBADDRESS, kMessage)) return false;
    *count = bootImages + 1;
    return true;
}

bool DownloaderDialog::AddRowImage(Row row, int imageSetRow, int slot, const char* message,
                                   int* count) {
    ImageSetSlot& stored = g_imageSet.rows[imageSetRow];
    const QString address = Controls(row).address->text();
    if (stored.file[0] == '\0' || address.isEmpty() || !CopyToField(address, stored.address)) {
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
bool DownloaderDialog::SetSlot(int slot, const char* path, const char* address,
                               const char* message) {
    if (path[0] == '\0' || VARKO_SetImage(slot, path, address) < 0) {
        platform::ShowMessage(message);
        return false;
    }
    return true;
}

void DownloaderDialog::RunDownloadSession() {
    g_nWriteDelay = g_settings.DELAY;
    if (VARKO_StartSession(this, NotifyMessage, m_channelPort, g_settings.BAUDRATE) == 0) return;
    m_downloadButton->setEnabled(false);
    m_busy = 1;
    {
        FlagScope running(m_sessionRunning);
        ScopedWindowPump pump;
        VARKO_RunSession(m_emergencyCheck->isChecked() ? 1 : 0);
    }
    // Also after a port removal cleared m_busy: no channel stays marked
    // active and the receiver is forgotten.
    VARKO_StopSession();
    m_busy = 0;
    update();
    if (m_closePending) {
        m_closePending = false;
        done(QDialog::Rejected);
    }
}

void DownloaderDialog::StopAllChannels() {
    for (int ch = 0; ch < kChannelCount; ++ch)
        VARKO_StopChannel(ch);
}

intptr_t DownloaderDialog::Send(unsigned message, uintptr_t code, const void* payload) {
    if (message != NotifyMessage) return 0;
    if (QThread::currentThread() == thread()) return OnNotify(code, payload);
    // The worker waits here until the window has handled the notification,
    // so its payload stays valid throughout.
    intptr_t result = 0;
    QMetaObject::invokeMethod(
        this, [&] { result = OnNotify(code, payload); }, Qt::BlockingQueuedConnection);
    return result;
}

intptr_t DownloaderDialog::OnNotify(uintptr_t code, const void* payload) {
    switch (code) {
        case NOTIFY_PROGRESS:
            ShowProgress(payload);
            break;
        case NOTIFY_STATUS:
            if (payload != nullptr) {
                m_statusText->setText(QString::fromUtf8(static_cast<const char*>(payload)));
            }
            break;
        case NOTIFY_CHANNEL_TEXT:
            ShowChannelText(payload);
            break;
        default:
            break;
    }
    return 0;
}

void DownloaderDialog::ShowProgress(const void* payload) {
    const auto* entry = static_cast<const ImageEntry*>(payload);
    if (entry == nullptr || !IsChannel(entry->channel)) return;
    TextProgressCtrl* bar = m_progress[entry->channel];
    const uint32_t sent = entry->bytesSent;
    const uint32_t size = entry->size;
    // An empty image is done at once; its percentage would divide by zero.
    if (size == 0 || (sent >= size && g_doneShown == 0)) {
        bar->SetWindowText(QStringLiteral("Done"));
        bar->SetRange(0, 100);
        bar->SetPos(100);
        g_doneShown = 1;
        return;
    }
    g_doneShown = 0;
    const uint64_t percent = static_cast<uint64_t>(sent) * 100 / size;
    bar->SetWindowText(QString::asprintf("%s: %llu%% [%u/%u]", SlotName(entry->kind),
                                         static_cast<unsigned long long>(percent), sent, size));
    SetBarRange(bar, size, sent);
}

void DownloaderDialog::ShowChannelText(const void* payload) {
    const auto* record = static_cast<const ImageEntry*>(payload);
    if (record == nullptr || !IsChannel(record->channel)) return;
    const std::string_view text(record->path, strnlen(record->path, sizeof record->path));
    if (text.empty()) return;
    TextProgressCtrl* bar = m_progress[record->channel];
    bar->SetWindowText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    bar->SetRange(0, 100);
    bar->SetPos(0);
    if (text.size() >= kChannelPrefixLength &&
        text.substr(kChannelPrefixLength) == kDownloadStart) {
        m_statusLog = "\r\n";
    }
    if (text != kEraseFlash) {
        m_statusLog.append(text).append("\r\n");
        PushStatusLog();
    }
}

void DownloaderDialog::PushStatusLog() {
    QString shown =
        QString::fromUtf8(m_statusLog.data(), static_cast<qsizetype>(m_statusLog.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_statusLogEdit->setPlainText(shown);
    QScrollBar* scroll = m_statusLogEdit->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}
