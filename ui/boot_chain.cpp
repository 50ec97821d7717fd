// The boot code: a folder holding either one boot loader (first modem
// platform) or a chain of six files (second modem platform), each with a USB
// boot image beside it; the modem-type radios, "Boot Change", "[Full
// Binary]" and the full-path display of the rows.
#include <sys/stat.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>
#include <initializer_list>

#include "controls/folder_browser.h"
#include "ui/address_edits.h"
#include "ui/row_values.h"

namespace {

constexpr const char* kBootFolderTitle = "Select Boot Folder";
constexpr const char* kBinaryFolderTitle = "Select Binary Folder";
constexpr uint32_t kFolderFlags = FolderBrowser::kStatusText | FolderBrowser::kEditBox;
constexpr const char* kBootLoaderName = "/BOOT_LOADER.mbn";
constexpr const char* kUsbBootName = "/usbboot.usb";         // beside the boot loader
constexpr const char* kSecureUsbBootName = "/secdload.usb";  // beside the boot chain
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

bool CanOpenFile(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace

void DownloaderDialog::OnBootButton() {
    m_bootAddressEdit->hide();
    m_crcEdit[kBootRow]->hide();
    ImageSet& set = g_imageSet;
    const std::optional<std::string> chosen = ChooseFolder(kBootFolderTitle, set.BOOTFILE);
    if (!BootFolderFits(chosen ? *chosen : FieldBytes(set.BOOTFILE), set.MTY)) return;
    if (chosen) CopyToField(*chosen, set.BOOTFILE);
    if (set.BOOTFILE[0] == '\0' || !platform::AskYesNo("Change Boot files ??")) {
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

std::optional<std::string> DownloaderDialog::ChooseFolder(const char* title,
                                                          const char* initialFolder) {
    FolderBrowser browser(nullptr, 0, title, "", kFolderFlags);
    FolderBrowser::SetInitialFolder(initialFolder);
    if (browser.DoModal() != FolderBrowser::kChosen) return std::nullopt;
    return browser.GetSelectedPath();
}

void DownloaderDialog::CancelBootChoice() {
    ImageSet& set = g_imageSet;
    set.BOOTCHECK = 0;
    set.USBCHECK = 0;
    for (QCheckBox* check : {m_bootCheck, m_usbCheck}) {
        check->setChecked(false);
        check->setEnabled(false);
    }
    PushStatusLog();
}

void DownloaderDialog::TakeBootLoader() {
    ImageSet& set = g_imageSet;
    Join(set.BOOTFILE, kBootLoaderName, set.BOOTLOADERFILE);
    m_bootPathEdit->setText(AbbreviatedText(set.BOOTFILE));
    uint32_t address = 0;
    const int read = VARKO_ReadTrailer(set.BOOTLOADERFILE, &address);
    set.BOOTCHECK = 1;
    if (read == 1 && TrailerTypeIs("MBN", "mbn")) {
        TakeTrailerKind(set.BOOTKIND);
        StoreHex(address, set.BOOTADDRESS);
        m_bootAddressEdit->setText(FieldText(set.BOOTADDRESS));
        m_crcEdit[kBootRow]->setText(m_crcCheck->isChecked() ? CrcText(set.BOOTLOADERFILE)
                                                             : HexText(0));
    } else {
        platform::ShowMessage(kNoTargetInformation);
        set.BOOTKIND[0] = '\0';
        set.BOOTCHECK = 0;
    }
    m_bootKindEdit->setText(FieldText(set.BOOTKIND));
    ShowRowState(Controls(kBootRow), set.BOOTCHECK);
    Join(set.BOOTFILE, kUsbBootName, set.USBFILE);
}

// False when a chain file is missing: the folder is then forgotten and the
// Usb row left as it was.
bool DownloaderDialog::TakeBootChain() {
    ImageSet& set = g_imageSet;
    set.BOOTKIND[0] = '\0';
    m_bootKindEdit->clear();
    m_bootPathEdit->setText(AbbreviatedText(set.BOOTFILE));
    for (int i = 0; i < kBootChainCount; ++i)
        Join(set.BOOTFILE, BootChainFileName(i), set.bootChain[i].path);
    if (!ChainFilesPresent()) return false;
    if (ReadChainTrailers()) {
        set.BOOTCHECK = 1;
        TakeTrailerKind(set.BOOTKIND);  // the last one read: oemsbl's
        m_bootKindEdit->setText(FieldText(set.BOOTKIND));
    } else {
        for (BootChainEntry& entry : set.bootChain)
            entry.address[0] = '\0';
        set.BOOTCHECK = 0;
        platform::ShowMessage(kNoTargetInformation);
    }
    m_bootCheck->setChecked(set.BOOTCHECK == 1);
    m_bootCheck->setEnabled(set.BOOTCHECK == 1);
    Join(set.BOOTFILE, kSecureUsbBootName, set.USBFILE);
    return true;
}

bool DownloaderDialog::ChainFilesPresent() {
    ImageSet& set = g_imageSet;
    for (const auto& file : kPresenceOrder) {
        if (CanOpenFile(set.bootChain[file.entry].path)) continue;
        platform::ShowMessage(file.message);
        m_bootCheck->setEnabled(false);
        m_bootCheck->setChecked(false);
        set.BOOTCHECK = 0;  // as the row shows
        ForgetBootFolder();
        m_bootPathEdit->clear();
        return false;
    }
    return true;
}

// Each file's address is stored as it is read; the first file without a
// trailer ends the reading.
bool DownloaderDialog::ReadChainTrailers() {
    for (BootChainEntry& entry : g_imageSet.bootChain) {
        uint32_t address = 0;
        const int read = VARKO_ReadTrailer(entry.path, &address);
        StoreHex(address, entry.address);
        if (read != 1) return false;
    }
    return true;
}

void DownloaderDialog::TakeUsbBoot() {
    ImageSet& set = g_imageSet;
    m_usbPathEdit->setText(AbbreviatedText(set.USBFILE));
    uint32_t address = 0;
    if (VARKO_ReadTrailer(set.USBFILE, &address) == 1 && TrailerTypeIs("USB", "usb")) {
        TakeTrailerKind(set.USBKIND);
        set.USBCHECK = 1;
        StoreHex(address, set.USBADDRESS);
        m_usbAddressEdit->setText(FieldText(set.USBADDRESS));
        m_crcEdit[kUsbRow]->setText(m_crcCheck->isChecked() ? CrcText(set.USBFILE) : HexText(0));
    } else {
        set.USBCHECK = 0;  // the kind stays
    }
    m_usbKindEdit->setText(FieldText(set.USBKIND));
    ShowRowState(Controls(kUsbRow), set.USBCHECK);
    m_usbPathEdit->setText(FieldText(set.USBFILE));
}

// The boot folder and every file named after it go together: a download
// never sends the files of a folder the window no longer shows.
void DownloaderDialog::ForgetBootFolder() {
    ImageSet& set = g_imageSet;
    set.BOOTFILE[0] = '\0';
    set.BOOTLOADERFILE[0] = '\0';
    for (BootChainEntry& entry : set.bootChain)
        entry.path[0] = '\0';
}

void DownloaderDialog::OnModemType1() {
    SetModemType(kModemTypeBootLoader);
}

void DownloaderDialog::OnModemType2() {
    SetModemType(kModemTypeBootChain);
}

// A boot folder chosen for one platform is never downloaded for the other.
void DownloaderDialog::SetModemType(int modemType) {
    m_bootAddressEdit->hide();
    m_crcEdit[kBootRow]->hide();
    g_imageSet.MTY = modemType;
    CheckModemTypeRadios(modemType);
    m_bootCheck->setChecked(false);
    m_bootCheck->setEnabled(false);
    ForgetBootFolder();
    m_bootPathEdit->clear();
    ClearImageRows();
}

void DownloaderDialog::ClearImageRows() {
    for (int r = 0; r < kRowCount; ++r) {
        ValuesOf(Row(r)).check = 0;
        const RowControls c = Controls(Row(r));
        c.check->setChecked(false);
        c.check->setEnabled(false);
    }
}

void DownloaderDialog::OnBootChange() {
    ImageSet& set = g_imageSet;
    if (m_bootChangeCheck->isChecked()) {
        set.BOOTCHECK = platform::AskYesNo("Change Boot Code ??") ? 1 : 0;
        SetBootRowEnabled(1);
    } else {
        set.BOOTCHECK = 0;
        SetBootRowEnabled(0);
    }
}

// The Boot row shows what the image set holds: after a No to "Change Boot
// Code ??" it is usable but unticked.
void DownloaderDialog::SetBootRowEnabled(int on) {
    const bool enable = on != 0;
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_bootPathEdit, m_bootCheck, m_bootButton}) {
        control->setEnabled(enable);
    }
    m_bootChangeCheck->setChecked(enable);
    m_bootCheck->setChecked(enable && g_imageSet.BOOTCHECK == 1);
    if (!enable) return;
    ForgetBootFolder();
    m_bootPathEdit->clear();
}

void DownloaderDialog::OnFullBinary() {
    ImageSet& set = g_imageSet;
    if (m_fullBinaryCheck->isChecked()) {
        const std::optional<std::string> chosen =
            ChooseFolder(kBinaryFolderTitle, set.BINARYFULLPATH);
        if (!chosen || !KeepPath(*chosen, set.BINARYFULLPATH)) {
            m_fullBinaryCheck->setChecked(false);
            return;
        }
        m_binaryFolderEdit->setText(AbbreviatedText(set.BINARYFULLPATH));
        return;
    }
    m_binaryFolderEdit->clear();
    for (Row row : {kModemRow, kRsrc1Row, kRsrc2Row, kFactoryFsRow, kFotaRow}) {
        ValuesOf(row).check = 0;  // unticked in the window and in the saved set alike
        const RowControls c = Controls(row);
        c.check->setChecked(false);
        c.check->setEnabled(false);
        c.path->clear();
    }
}

// Shown over the address and CRC columns while it has the focus. The full
// edit takes the focus before the path edit hides, so the focus never
// passes through the controls of another row.
void DownloaderDialog::ShowFullPath(Row row) {
    const RowControls c = Controls(row);
    if (!c.path->text().isEmpty() || row == kUsbRow) {
        c.fullPath->setText(FieldText(ValuesOf(row).file));
    }
    c.fullPath->show();
    c.fullPath->setFocus();
    c.path->hide();
    c.address->hide();
    c.crc->hide();
}

void DownloaderDialog::HideFullPath(Row row) {
    const RowControls c = Controls(row);
    c.fullPath->hide();
    // The Boot row's address and CRC are kept but never shown.
    c.address->setVisible(row != kBootRow);
    c.crc->setVisible(row != kBootRow);
    c.path->show();
}
