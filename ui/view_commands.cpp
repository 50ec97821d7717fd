// What both views would otherwise each do for themselves: which handler a
// click goes to, the full-path display following the focus, Enter, the port
// combos' labels and the hand-off of a worker's notification to the window
// thread.
#include "link/notify.h"
#include "ui/downloader_core.h"

namespace ui {

namespace {

constexpr const char* kNoPortEntry = "-----------";

}  // namespace

std::string DownloaderCore::PortEntryLabel(int entry) {
    return entry <= 0 ? kNoPortEntry : "COM" + std::to_string(entry);
}

bool DownloaderCore::OnClicked(Control control) {
    using Handler = void (DownloaderCore::*)();
    static constexpr struct {
        Control control;
        Handler handler;
    } kRoutes[] = {
        {Control::kLoadButton, &DownloaderCore::OnLoad},
        {Control::kSaveAsButton, &DownloaderCore::OnSaveAs},
        {Control::kDownloadButton, &DownloaderCore::OnDownload},
        {Control::kPortSearchButton, &DownloaderCore::OnPortSearch},
        {Control::kAutoCheck, &DownloaderCore::OnAutoClicked},
        {Control::kStationCheck, &DownloaderCore::OnStationCheck},
        {Control::kBootButton, &DownloaderCore::OnBootButton},
        {Control::kFullBinaryCheck, &DownloaderCore::OnFullBinary},
        {Control::kModemType1Radio, &DownloaderCore::OnModemType1},
        {Control::kModemType2Radio, &DownloaderCore::OnModemType2},
        {Control::kBootChangeCheck, &DownloaderCore::OnBootChange},
        {Control::kBootCheck, &DownloaderCore::OnBootCheck},
        {Control::kUsbCheck, &DownloaderCore::OnUsbCheck},
        {Control::kModemCheck, &DownloaderCore::OnModemCheck},
        {Control::kRsrc1Check, &DownloaderCore::OnRsrc1Check},
        {Control::kRsrc2Check, &DownloaderCore::OnRsrc2Check},
        {Control::kFactoryFsCheck, &DownloaderCore::OnFactoryFsCheck},
        {Control::kFotaCheck, &DownloaderCore::OnFotaCheck},
        // The Boot row's button is the boot-folder button above.
        {Control::kUsbButton, &DownloaderCore::OnUsbBrowse},
        {Control::kModemButton, &DownloaderCore::OnModemBrowse},
        {Control::kRsrc1Button, &DownloaderCore::OnRsrc1Browse},
        {Control::kRsrc2Button, &DownloaderCore::OnRsrc2Browse},
        {Control::kFactoryFsButton, &DownloaderCore::OnFactoryFsBrowse},
        {Control::kFotaButton, &DownloaderCore::OnFotaBrowse},
    };
    for (const auto& route : kRoutes) {
        if (route.control != control) continue;
        (this->*route.handler)();
        return true;
    }
    return false;
}

void DownloaderCore::OnEnter() {
    // Enter presses no button and ends nothing: the window ends only through
    // its close.
}

// A row's path edit and full-path edit both show the full path when they
// take the focus; leaving the full path hides it again.
void DownloaderCore::OnFocusChanged(Control control, bool gained) {
    for (int r = 0; r < kRowCount; ++r) {
        const RowControls row = ControlsOf(Row(r));
        if (gained && (control == row.path || control == row.fullPath)) ShowFullPath(Row(r));
        if (!gained && control == row.fullPath) HideFullPath(Row(r));
    }
}

intptr_t DownloaderCore::HandOff(unsigned message, uintptr_t code, const void* payload,
                                 WindowThread& window) {
    if (message != NotifyMessage) return 0;
    if (window.IsCurrent()) return OnNotify(code, payload);
    // The worker waits here until the window has handled the notification,
    // so its payload stays valid throughout.
    intptr_t result = 0;
    window.RunBlocking([&] { result = OnNotify(code, payload); });
    return result;
}

}  // namespace ui
