// The boot code: a folder holding either one boot loader (first modem
// platform) or a chain of six files (second modem platform), each with a USB
// boot image beside it; the modem-type radios, "Boot Change", "[Full
// Binary]" and the full-path display of the rows.
#include <cstring>
#include <initializer_list>

#include "platform/files.h"
#include "platform/path.h"
#include "ui/row_values.h"

namespace ui {

namespace {

constexpr const char* kBootFolderTitle = "Select Boot Folder";
constexpr const char* kBinaryFolderTitle = "Select Binary Folder";
constexpr const char* kBootLoaderName = KELVANE_PATH_SEPARATOR "BOOT_LOADER.mbn";
constexpr const char* kUsbBootName =
    KELVANE_PATH_SEPARATOR "usbboot.usb";  // beside the boot loader
constexpr const char* kSecureUsbBootName =
    KELVANE_PATH_SEPARATOR "secdload.usb";  // beside the boot chain
constexpr const char* kNoTargetInformation = "Not finded Target Information\n";

// The chain files in the order their presence is tested, each with what is
// shown when it is missing. Their trailers are read in slot order.
constexpr struct {
    int entry;
    const char* message;
} kPresenceOrder[] = {
    {kChainOemsbl, "Please insert the correct binary to selected folder(oemsbl.mbn) "},
    {kChainQcsbl, "Please insert the correct binary to selected folder(qcsbl.mbn) "},
    {kChainMibib2, "Please insert the correct binary to selected folder(mibib2.mbn) "},
    {kChainPbl, "Please insert the correct binary to selected folder(pbl.mbn) "},
    {kChainQcsblHd, "Please insert the correct binary to selected folder(qcsblhd_cfgdata.mbn) "},
    {kChainMibib1, "Please insert the correct binary to selected folder(mibib1.mbn) "},
};

// The folder followed by name; a join that would not fit leaves out empty
// (a boot folder is checked with BootFolderFits before anything is joined).
void Join(const char* folder, const char* name, char (&out)[kImagePathSize]) {
    if (!CopyToField(std::string(folder) + name, out)) out[0] = '\0';
}

// True when every file the modem type takes from folder has a path that
// fits; otherwise the operator is told and nothing is taken.
bool BootFolderFits(const std::string& folder, int modemType) {
    const char* longest = "";
    const auto consider = [&longest](const char* name) {
        if (std::strlen(name) > std::strlen(longest)) longest = name;
    };
    if (modemType == kModemTypeBootLoader) {
        for (const char* name : {kBootLoaderName, kUsbBootName})
            consider(name);
    } else {
        for (int i = 0; i < kBootChainCount; ++i)
            consider(BootChainFileName(i));
        consider(kSecureUsbBootName);
    }
    return folder.empty() || PathFits(folder + longest);
}

}  // namespace

void DownloaderCore::HideBootAddressAndCrc() {
    SetVisible(Control::kBootAddressEdit, false);
    SetVisible(Control::kCrcEdit0, false);
}

void DownloaderCore::OnBootButton() {
    HideBootAddressAndCrc();
    ImageSet& set = m_imageSet;
    const std::optional<std::string> chosen =
        m_view.ChooseFolder(kBootFolderTitle, FieldBytes(set.BOOTFILE));
    if (!BootFolderFits(chosen ? *chosen : FieldBytes(set.BOOTFILE), set.MTY)) return;
    if (chosen) CopyToField(*chosen, set.BOOTFILE);
    if (set.BOOTFILE[0] == '\0' || !AskYes("Change Boot files ??")) {
        CancelBootChoice();
        return;
    }
    if (set.MTY == kModemTypeBootLoader) {
        TakeBootLoader();
    } else if (!TakeBootChain()) {
        return;
    }
    TakeUsbBoot();
}

void DownloaderCore::CancelBootChoice() {
    ImageSet& set = m_imageSet;
    set.BOOTCHECK = 0;
    set.USBCHECK = 0;
    for (Control check : {Control::kBootCheck, Control::kUsbCheck}) {
        SetChecked(check, false);
        SetEnabled(check, false);
    }
    PushStatusLog();
}

void DownloaderCore::TakeBootLoader() {
    ImageSet& set = m_imageSet;
    Join(set.BOOTFILE, kBootLoaderName, set.BOOTLOADERFILE);
    SetText(Control::kBootPathEdit, AbbreviatedText(set.BOOTFILE));
    uint32_t address = 0;
    const int read = VARKO_ReadTrailer(set.BOOTLOADERFILE, &address);
    set.BOOTCHECK = 1;
    if (read == 1 && TrailerTypeIs("MBN", "mbn")) {
        TakeTrailerKind(set.BOOTKIND);
        StoreHex(address, set.BOOTADDRESS);
        SetText(Control::kBootAddressEdit, FieldBytes(set.BOOTADDRESS));
        ShowCrc(Control::kCrcEdit0, set.BOOTLOADERFILE, true);
    } else {
        platform::ShowMessage(kNoTargetInformation);
        set.BOOTKIND[0] = '\0';
        set.BOOTCHECK = 0;
    }
    SetText(Control::kBootKindEdit, FieldBytes(set.BOOTKIND));
    ShowRowState(ControlsOf(kBootRow), set.BOOTCHECK);
    Join(set.BOOTFILE, kUsbBootName, set.USBFILE);
}

// False when a chain file is missing: the folder is then forgotten and the
// Usb row left as it was.
bool DownloaderCore::TakeBootChain() {
    ImageSet& set = m_imageSet;
    set.BOOTKIND[0] = '\0';
    SetText(Control::kBootKindEdit, {});
    SetText(Control::kBootPathEdit, AbbreviatedText(set.BOOTFILE));
    for (int i = 0; i < kBootChainCount; ++i)
        Join(set.BOOTFILE, BootChainFileName(i), set.bootChain[i].path);
    if (!ChainFilesPresent()) return false;
    if (ReadChainTrailers()) {
        set.BOOTCHECK = 1;
        TakeTrailerKind(set.BOOTKIND);  // the last one read: oemsbl's
        SetText(Control::kBootKindEdit, FieldBytes(set.BOOTKIND));
    } else {
        for (BootChainEntry& entry : set.bootChain)
            entry.address[0] = '\0';
        set.BOOTCHECK = 0;
        platform::ShowMessage(kNoTargetInformation);
    }
    SetChecked(Control::kBootCheck, set.BOOTCHECK == 1);
    SetEnabled(Control::kBootCheck, set.BOOTCHECK == 1);
    Join(set.BOOTFILE, kSecureUsbBootName, set.USBFILE);
    return true;
}

bool DownloaderCore::ChainFilesPresent() {
    ImageSet& set = m_imageSet;
    for (const auto& file : kPresenceOrder) {
        if (platform::IsReadableFile(set.bootChain[file.entry].path)) continue;
        platform::ShowMessage(file.message);
        SetEnabled(Control::kBootCheck, false);
        SetChecked(Control::kBootCheck, false);
        set.BOOTCHECK = 0;  // as the row shows
        ForgetBootFolder();
        SetText(Control::kBootPathEdit, {});
        return false;
    }
    return true;
}

// Each file's address is stored as it is read; the first file without a
// trailer ends the reading.
bool DownloaderCore::ReadChainTrailers() {
    for (BootChainEntry& entry : m_imageSet.bootChain) {
        uint32_t address = 0;
        const int read = VARKO_ReadTrailer(entry.path, &address);
        StoreHex(address, entry.address);
        if (read != 1) return false;
    }
    return true;
}

void DownloaderCore::TakeUsbBoot() {
    ImageSet& set = m_imageSet;
    SetText(Control::kUsbPathEdit, AbbreviatedText(set.USBFILE));
    uint32_t address = 0;
    if (VARKO_ReadTrailer(set.USBFILE, &address) == 1 && TrailerTypeIs("USB", "usb")) {
        TakeTrailerKind(set.USBKIND);
        set.USBCHECK = 1;
        StoreHex(address, set.USBADDRESS);
        SetText(Control::kUsbAddressEdit, FieldBytes(set.USBADDRESS));
        ShowCrc(Control::kCrcEdit1, set.USBFILE, true);
    } else {
        set.USBCHECK = 0;  // the kind stays
    }
    SetText(Control::kUsbKindEdit, FieldBytes(set.USBKIND));
    ShowRowState(ControlsOf(kUsbRow), set.USBCHECK);
    SetText(Control::kUsbPathEdit, FieldBytes(set.USBFILE));
}

// The boot folder and every file named after it go together: a download
// never sends the files of a folder the window no longer shows.
void DownloaderCore::ForgetBootFolder() {
    ImageSet& set = m_imageSet;
    set.BOOTFILE[0] = '\0';
    set.BOOTLOADERFILE[0] = '\0';
    for (BootChainEntry& entry : set.bootChain)
        entry.path[0] = '\0';
}

void DownloaderCore::OnModemType1() {
    SetModemType(kModemTypeBootLoader);
}

void DownloaderCore::OnModemType2() {
    SetModemType(kModemTypeBootChain);
}

// A boot folder chosen for one platform is never downloaded for the other.
void DownloaderCore::SetModemType(int modemType) {
    HideBootAddressAndCrc();
    m_imageSet.MTY = modemType;
    CheckModemTypeRadios(modemType);
    SetChecked(Control::kBootCheck, false);
    SetEnabled(Control::kBootCheck, false);
    ForgetBootFolder();
    SetText(Control::kBootPathEdit, {});
    ClearImageRows();
}

void DownloaderCore::ClearImageRows() {
    for (int r = 0; r < kRowCount; ++r) {
        ValuesOf(m_imageSet, Row(r)).check = 0;
        const RowControls c = ControlsOf(Row(r));
        SetChecked(c.check, false);
        SetEnabled(c.check, false);
    }
}

void DownloaderCore::OnBootChange() {
    ImageSet& set = m_imageSet;
    if (Checked(Control::kBootChangeCheck)) {
        set.BOOTCHECK = AskYes("Change Boot Code ??") ? 1 : 0;
        SetBootRowEnabled(1);
    } else {
        set.BOOTCHECK = 0;
        SetBootRowEnabled(0);
    }
}

// The Boot row shows what the image set holds: after a No to "Change Boot
// Code ??" it is usable but unticked.
void DownloaderCore::SetBootRowEnabled(int on) {
    const bool enable = on != 0;
    for (Control c : {Control::kBootPathEdit, Control::kBootCheck, Control::kBootButton})
        SetEnabled(c, enable);
    SetChecked(Control::kBootChangeCheck, enable);
    SetChecked(Control::kBootCheck, enable && m_imageSet.BOOTCHECK == 1);
    if (!enable) return;
    ForgetBootFolder();
    SetText(Control::kBootPathEdit, {});
}

void DownloaderCore::OnFullBinary() {
    ImageSet& set = m_imageSet;
    if (Checked(Control::kFullBinaryCheck)) {
        const std::optional<std::string> chosen =
            m_view.ChooseFolder(kBinaryFolderTitle, FieldBytes(set.BINARYFULLPATH));
        if (!chosen || !KeepPath(*chosen, set.BINARYFULLPATH)) {
            SetChecked(Control::kFullBinaryCheck, false);
            return;
        }
        SetText(Control::kBinaryFolderEdit, AbbreviatedText(set.BINARYFULLPATH));
        return;
    }
    SetText(Control::kBinaryFolderEdit, {});
    for (Row row : {kModemRow, kRsrc1Row, kRsrc2Row, kFactoryFsRow, kFotaRow}) {
        ValuesOf(m_imageSet, row).check = 0;  // unticked in the window and in the saved set alike
        const RowControls c = ControlsOf(row);
        SetChecked(c.check, false);
        SetEnabled(c.check, false);
        SetText(c.path, {});
    }
}

// Shown over the address and CRC columns while it has the focus. The full
// edit takes the focus before the path edit hides, so the focus never
// passes through the controls of another row.
void DownloaderCore::ShowFullPath(Row row) {
    const RowControls c = ControlsOf(row);
    if (!ShownPath(row).empty() || row == kUsbRow)
        SetText(c.fullPath, FieldBytes(ValuesOf(m_imageSet, row).file));
    SetVisible(c.fullPath, true);
    m_view.SetFocus(c.fullPath);
    SetVisible(c.path, false);
    SetVisible(c.address, false);
    SetVisible(c.crc, false);
}

void DownloaderCore::HideFullPath(Row row) {
    const RowControls c = ControlsOf(row);
    SetVisible(c.fullPath, false);
    // The Boot row's address and CRC are kept but never shown.
    SetVisible(c.address, row != kBootRow);
    SetVisible(c.crc, row != kBootRow);
    SetVisible(c.path, true);
}

}  // namespace ui
