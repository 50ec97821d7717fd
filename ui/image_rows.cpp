// The image rows' check boxes and buttons: a row's file chosen and checked
// against its trailer, its address and kind taken from the trailer, and the
// CRC-32 of the file shown when "[*]Calculate CRC-32 " is checked.
#include "engine/crc32.h"
#include "ui/row_values.h"

namespace ui {

namespace {

// What a row's button offers and which trailer image types it accepts.
struct RowFileType {
    const char* filter;
    const char* suffix;
    const char* upper;
    const char* lower;
};

// By row; the Boot row's folder is chosen with the Boot button.
constexpr RowFileType kFileTypes[kRowCount] = {
    {nullptr, nullptr, "MBN", "mbn"},
    {"Usbboot Files(*.usb)|*.usb||", "usb", "USB", "usb"},
    {"Modem Files(*.bin)|*.bin||", "bin", "BIN", "bin"},
    {"Rsrc Files(*.rc1)|*.rc1||", "rc1", "RC1", "rc1"},
    {"Rsrc Files(*.rc2)|*.rc2||", "rc2", "RC2", "rc2"},
    {"FactoryFS Files(*.ffs)|*.ffs||", "ffs", "FFS", "ffs"},
    {"FOTA Files(*.fota)|*.fota||", "fota", "FOTA", "fota"},
};

}  // namespace

void DownloaderCore::OnBootCheck() {
    ImageSet& set = m_imageSet;
    set.BOOTCHECK = Checked(Control::kBootCheck) && AskYes("Change Boot Code ??") ? 1 : 0;
    const bool ticked = set.BOOTCHECK == 1;
    SetChecked(Control::kBootCheck, ticked);
    SetEnabled(Control::kBootAddressEdit, ticked);
    SetEnabled(Control::kCrcEdit0, ticked);
    // The boot chain has no one file to sum up.
    if (set.MTY != kModemTypeBootLoader) return;
    SetText(Control::kCrcEdit0,
            Checked(Control::kCrcCheck) ? CrcText(set.BOOTLOADERFILE) : std::string());
}

void DownloaderCore::OnUsbCheck() {
    CheckRow(kUsbRow, Checked(Control::kUsbCheck) && AskYes("Change Usb Code ??"));
}

void DownloaderCore::OnModemCheck() {
    CheckRow(kModemRow, Checked(Control::kModemCheck));
}

void DownloaderCore::OnRsrc1Check() {
    CheckRow(kRsrc1Row, Checked(Control::kRsrc1Check));
}

void DownloaderCore::OnRsrc2Check() {
    CheckRow(kRsrc2Row, Checked(Control::kRsrc2Check));
}

void DownloaderCore::OnFactoryFsCheck() {
    CheckRow(kFactoryFsRow, Checked(Control::kFactoryFsCheck));
}

void DownloaderCore::OnFotaCheck() {
    CheckRow(kFotaRow, Checked(Control::kFotaCheck));
    SetEnabled(Control::kFotaPathEdit, Checked(Control::kFotaCheck));
}

// A ticked row takes its address from its file's trailer (only for the two
// known modem types); an unticked one shows "0". The CRC is shown either way.
void DownloaderCore::CheckRow(Row row, bool ticked) {
    const RowControls c = ControlsOf(row);
    const RowValues v = ValuesOf(m_imageSet, row);
    v.check = ticked ? 1 : 0;
    SetChecked(c.check, ticked);
    SetEnabled(c.address, ticked);
    SetEnabled(c.crc, ticked);
    SetText(c.crc, Checked(Control::kCrcCheck) ? CrcText(v.file) : std::string());
    const int type = m_imageSet.MTY;
    uint32_t address = 0;
    if (ticked && (type == kModemTypeBootLoader || type == kModemTypeBootChain)) {
        VARKO_ReadTrailer(v.file, &address);
    }
    StoreHex(address, v.address);
    SetText(c.address, FieldBytes(v.address));
}

void DownloaderCore::OnUsbBrowse() {
    BrowseRow(kUsbRow);
}

void DownloaderCore::OnModemBrowse() {
    BrowseRow(kModemRow);
}

void DownloaderCore::OnRsrc1Browse() {
    BrowseRow(kRsrc1Row);
}

void DownloaderCore::OnRsrc2Browse() {
    BrowseRow(kRsrc2Row);
}

// Only an image with a trailer is taken: a FactoryFS image without one would
// have no flash address to go to.
void DownloaderCore::OnFactoryFsBrowse() {
    BrowseRow(kFactoryFsRow);
}

void DownloaderCore::OnFotaBrowse() {
    BrowseRow(kFotaRow);
}

void DownloaderCore::BrowseRow(Row row) {
    const RowFileType& type = kFileTypes[row];
    const std::optional<std::string> chosen = m_view.ChooseImageFile(type.filter, type.suffix);
    const RowValues v = ValuesOf(m_imageSet, row);
    if (!chosen || !KeepPath(*chosen, v.file)) return;
    if (row == kUsbRow && !AskYes("Change USB Code ??")) {
        // The file is kept; the row stays unticked until it is chosen again.
        v.check = 0;
        SetChecked(Control::kUsbCheck, false);
        SetEnabled(Control::kUsbCheck, false);
        PushStatusLog();
        return;
    }
    SetText(ControlsOf(row).path, AbbreviatedText(v.file));
    TakeChosenImage(row);
}

// The row is ticked only when the file ends in a trailer of the row's type.
void DownloaderCore::TakeChosenImage(Row row) {
    const RowFileType& type = kFileTypes[row];
    const RowControls c = ControlsOf(row);
    const RowValues v = ValuesOf(m_imageSet, row);
    uint32_t address = 0;
    const bool accepted =
        VARKO_ReadTrailer(v.file, &address) == 1 && TrailerTypeIs(type.upper, type.lower);
    if (accepted) {
        TakeTrailerKind(v.kind);
        v.check = 1;
        StoreHex(address, v.address);
        SetText(c.address, FieldBytes(v.address));
        ShowCrc(c.crc, v.file, true);
    } else {
        if (row != kUsbRow) v.kind[0] = '\0';  // the Usb row keeps its kind
        v.check = 0;
    }
    SetText(c.kind, FieldBytes(v.kind));
    ShowRowState(c, v.check);
}

void DownloaderCore::ShowRowState(const RowControls& c, int check) {
    const bool ticked = check == 1;
    SetChecked(c.check, ticked);
    SetEnabled(c.check, ticked);
    SetEnabled(c.path, true);
    SetEnabled(c.address, ticked);
    SetEnabled(c.crc, ticked);
}

// The file's CRC when "[*]Calculate CRC-32 " is checked; otherwise "0" when
// zeroWithoutCrc, else nothing.
void DownloaderCore::ShowCrc(Control crcEdit, const char* path, bool zeroWithoutCrc) {
    if (Checked(Control::kCrcCheck)) {
        SetText(crcEdit, CrcText(path));
    } else {
        SetText(crcEdit, zeroWithoutCrc ? HexText(0) : std::string());
    }
}

// The CRC as shown in a CRC edit; empty for a file that cannot be read.
std::string DownloaderCore::CrcText(const char* path) {
    uint32_t crc = 0;
    return FileCrc32(path, &crc) ? HexText(crc) : std::string();
}

// The engine's CRC-32, the one the download reports use as well.
bool DownloaderCore::FileCrc32(const char* path, uint32_t* crc) {
    return VARKO_FileCrc32(path, crc);
}

}  // namespace ui
