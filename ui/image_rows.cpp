// The image rows' check boxes and buttons: a row's file chosen and checked
// against its trailer, its address and kind taken from the trailer, and the
// CRC-32 of the file shown when "[*]Calculate CRC-32 " is checked.
#include "platform/files.h"
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

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;
constexpr size_t kCrcBlockSize = 64 * 1024;  // images of hundreds of MiB pass in blocks

}  // namespace

void DownloaderCore::OnBootCheck() {
    ImageSet& set = g_imageSet;
    set.BOOTCHECK =
        Checked(Control::kBootCheck) && platform::AskYesNo("Change Boot Code ??") ? 1 : 0;
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
    CheckRow(kUsbRow, Checked(Control::kUsbCheck) && platform::AskYesNo("Change Usb Code ??"));
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
    const RowValues v = ValuesOf(row);
    v.check = ticked ? 1 : 0;
    SetChecked(c.check, ticked);
    SetEnabled(c.address, ticked);
    SetEnabled(c.crc, ticked);
    SetText(c.crc, Checked(Control::kCrcCheck) ? CrcText(v.file) : std::string());
    const int type = g_imageSet.MTY;
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
    const RowValues v = ValuesOf(row);
    if (!chosen || !KeepPath(*chosen, v.file)) return;
    if (row == kUsbRow && !platform::AskYesNo("Change USB Code ??")) {
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
    const RowValues v = ValuesOf(row);
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

uint32_t DownloaderCore::ReflectBits(uint32_t value, int count) {
    if (count <= 0) return 0;
    if (count > 32) count = 32;
    uint32_t reflected = 0;
    for (int bit = 0; bit < count; ++bit) {
        if (value & (1u << bit)) reflected |= 1u << (count - 1 - bit);
    }
    return reflected;
}

void DownloaderCore::BuildCrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = ReflectBits(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ kCrcPolynomial : r << 1;
        m_crcTable[i] = ReflectBits(r, 32);
    }
}

uint32_t DownloaderCore::Crc32(const uint8_t* bytes, size_t length, uint32_t crc) const {
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        c = (c >> 8) ^ m_crcTable[(c ^ bytes[i]) & 0xFF];
    return c ^ 0xFFFFFFFFu;
}

bool DownloaderCore::FileCrc32(const char* path, uint32_t* crc) {
    BuildCrcTable();
    uint32_t sum = 0;
    const bool read = platform::ReadFileInBlocks(
        path, kCrcBlockSize, [&](const uint8_t* bytes, size_t n) { sum = Crc32(bytes, n, sum); });
    if (read) *crc = sum;
    return read;
}

}  // namespace ui
