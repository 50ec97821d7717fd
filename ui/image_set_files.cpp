// Load and Save As: an image set read into the rows, or the rows' choices
// written into an image-set file.
#include <QCheckBox>
#include <QLineEdit>
#include <filesystem>
#include <system_error>

#include "config/image_set.h"
#include "config/settings.h"
#include "platform/notify.h"
#include "ui/address_edits.h"
#include "ui/downloader_dialog.h"
#include "ui/field_text.h"

namespace {

bool Found(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// A ticked row needs its file and an address; message names what is wrong.
bool RowValid(const QCheckBox* check, const char* file, const QLineEdit* address,
              const char* message) {
    if (!check->isChecked() || (file[0] != '\0' && !address->text().isEmpty())) return true;
    platform::ShowMessage(message);
    return false;
}

}  // namespace

void DownloaderDialog::OnLoad() {
    const std::optional<std::string> chosen =
        m_services.fileDialogs->ChooseToLoad(this, TextBytes(m_imageSetPathEdit->text()));
    if (!chosen) return;
    CopyToField(*chosen, g_settings.VARKOFILE);
    m_imageSetPathEdit->setText(QString::fromStdString(*chosen));
    if (Found(*chosen)) {
        LoadSettingsToControls(chosen->c_str());
    } else {
        platform::ShowMessage("ERROR : File is not finded");
    }
}

void DownloaderDialog::OnSaveAs() {
    if (!SaveAsRowsValid()) return;
    const std::optional<std::string> chosen =
        m_services.fileDialogs->ChooseToSave(this, TextBytes(m_imageSetPathEdit->text()));
    if (!chosen) return;
    CopyToField(*chosen, g_settings.VARKOFILE);
    m_imageSetPathEdit->setText(QString::fromStdString(*chosen));
    CopyControlsToSettings();
    bool written = false;
    WriteSettings(&written);
    if (written) {
        m_shownImageSet.Remember(g_settings.VARKOFILE, g_imageSet);
    } else {
        platform::ShowMessage("ERROR : File is not written (read-only?)");
    }
}

// The rows are checked in this order and the first failure is the only
// message; the Boot row and the boot chain are not checked here.
bool DownloaderDialog::SaveAsRowsValid() {
    const ImageSet& set = g_imageSet;
    const ImageSetSlot* rows = set.rows;
    if (!RowValid(m_usbCheck, set.USBFILE, m_usbAddressEdit, "Invalid USBBoot Image/Address !") ||
        !RowValid(m_modemCheck, rows[kRowCode].file, m_modemAddressEdit,
                  "Invalid Modem Image/Address !")) {
        return false;
    }
    if (m_rsrc1Check->isChecked() && rows[kRowFont].file[0] == '\0') {
        platform::ShowMessage("Invalid Rsrc1 Image!");
        return false;
    }
    if (m_rsrc1Check->isChecked() && m_rsrc1AddressEdit->text().isEmpty()) {
        platform::ShowMessage("Invalid Rsrc1 Address !");
        return false;
    }
    return RowValid(m_rsrc2Check, rows[kRowData].file, m_rsrc2AddressEdit,
                    "Invalid Rsrc2 Image/Address !") &&
           RowValid(m_factoryFsCheck, rows[kRowEtc1].file, m_factoryFsAddressEdit,
                    "Invalid FileSys Image/Address !") &&
           RowValid(m_fotaCheck, rows[kRowEtc2].file, m_fotaAddressEdit,
                    "Invalid ETC Image/Address !");
}
