// Load and Save As: an image set read into the rows, or the rows' choices
// written into an image-set file.
#include "config/image_set.h"
#include "config/settings.h"
#include "platform/files.h"
#include "platform/notify.h"
#include "ui/downloader_core.h"
#include "ui/field_text.h"

namespace ui {

void DownloaderCore::OnLoad() {
    const std::optional<std::string> chosen =
        m_view.ChooseImageSetToLoad(Text(Control::kImageSetPathEdit));
    if (!chosen) return;
    CopyToField(*chosen, m_settings.VARKOFILE);
    SetText(Control::kImageSetPathEdit, *chosen);
    if (platform::PathExists(*chosen)) {
        LoadSettingsToControls(chosen->c_str());
    } else {
        platform::ShowMessage("ERROR : File is not finded");
    }
}

void DownloaderCore::OnSaveAs() {
    if (!SaveAsRowsValid()) return;
    const std::optional<std::string> chosen =
        m_view.ChooseImageSetToSave(Text(Control::kImageSetPathEdit));
    if (!chosen) return;
    CopyToField(*chosen, m_settings.VARKOFILE);
    SetText(Control::kImageSetPathEdit, *chosen);
    CopyControlsToSettings();
    if (WriteFiles(nullptr)) {
        m_shownImageSet.Remember(m_settings.VARKOFILE, m_imageSet);
    } else {
        platform::ShowMessage("ERROR : File is not written (read-only?)");
    }
}

// A ticked row needs its file and an address; message names what is wrong.
bool DownloaderCore::RowValid(Row row, const char* file, const char* message) const {
    const RowControls c = ControlsOf(row);
    if (!Checked(c.check) || (file[0] != '\0' && !Text(c.address).empty())) return true;
    platform::ShowMessage(message);
    return false;
}

// The rows are checked in this order and the first failure is the only
// message; the Boot row and the boot chain are not checked here.
bool DownloaderCore::SaveAsRowsValid() {
    const ImageSet& set = m_imageSet;
    const ImageSetSlot* rows = set.rows;
    if (!RowValid(kUsbRow, set.USBFILE, "Invalid USBBoot Image/Address !") ||
        !RowValid(kModemRow, rows[kRowCode].file, "Invalid Modem Image/Address !")) {
        return false;
    }
    if (Checked(Control::kRsrc1Check) && rows[kRowFont].file[0] == '\0') {
        platform::ShowMessage("Invalid Rsrc1 Image!");
        return false;
    }
    if (Checked(Control::kRsrc1Check) && Text(Control::kRsrc1AddressEdit).empty()) {
        platform::ShowMessage("Invalid Rsrc1 Address !");
        return false;
    }
    return RowValid(kRsrc2Row, rows[kRowData].file, "Invalid Rsrc2 Image/Address !") &&
           RowValid(kFactoryFsRow, rows[kRowEtc1].file, "Invalid FileSys Image/Address !") &&
           RowValid(kFotaRow, rows[kRowEtc2].file, "Invalid ETC Image/Address !");
}

}  // namespace ui
