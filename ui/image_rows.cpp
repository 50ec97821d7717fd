// The image rows' check boxes and buttons: a row's file chosen and checked
// against its trailer, its address and kind taken from the trailer, and the
// CRC-32 of the file shown when "[*]Calculate CRC-32 " is checked.
#include <fcntl.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <cerrno>
#include <vector>

#include "platform/image_file.h"
#include "ui/address_edits.h"
#include "ui/row_values.h"

namespace {

// What a row's button offers and which trailer image types it accepts.
struct RowFileType {
    const char* filter;
    const char* suffix;
    const char* upper;
    const char* lower;
};

// By row; the Boot row's folder is chosen with the Boot button.
constexpr RowFileType kFileTypes[DownloaderDialog::kRowCount] = {
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

// Reads fd to its end in blocks, handing each to take; false on a read error.
template <typename Take>
bool ReadBlocks(int fd, Take take) {
    std::vector<uint8_t> block(kCrcBlockSize);
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        take(block.data(), static_cast<size_t>(n));
    }
}

}  // namespace

void DownloaderDialog::OnBootCheck() {
    ImageSet& set = g_imageSet;
    set.BOOTCHECK = m_bootCheck->isChecked() && platform::AskYesNo("Change Boot Code ??") ? 1 : 0;
    const bool ticked = set.BOOTCHECK == 1;
    m_bootCheck->setChecked(ticked);
    m_bootAddressEdit->setEnabled(ticked);
    m_crcEdit[kBootRow]->setEnabled(ticked);
    // The boot chain has no one file to sum up.
    if (set.MTY != kModemTypeBootLoader) return;
    m_crcEdit[kBootRow]->setText(m_crcCheck->isChecked() ? CrcText(set.BOOTLOADERFILE) : QString());
}

void DownloaderDialog::OnUsbCheck() {
    CheckRow(kUsbRow, m_usbCheck->isChecked() && platform::AskYesNo("Change Usb Code ??"));
}

void DownloaderDialog::OnModemCheck() {
    CheckRow(kModemRow, m_modemCheck->isChecked());
}

void DownloaderDialog::OnRsrc1Check() {
    CheckRow(kRsrc1Row, m_rsrc1Check->isChecked());
}

void DownloaderDialog::OnRsrc2Check() {
    CheckRow(kRsrc2Row, m_rsrc2Check->isChecked());
}

void DownloaderDialog::OnFactoryFsCheck() {
    CheckRow(kFactoryFsRow, m_factoryFsCheck->isChecked());
}

void DownloaderDialog::OnFotaCheck() {
    CheckRow(kFotaRow, m_fotaCheck->isChecked());
    m_fotaPathEdit->setEnabled(m_fotaCheck->isChecked());
}

// A ticked row takes its address from its file's trailer (only for the two
// known modem types); an unticked one shows "0". The CRC is shown either way.
void DownloaderDialog::CheckRow(Row row, bool ticked) {
    const RowControls c = Controls(row);
    const RowValues v = ValuesOf(row);
    v.check = ticked ? 1 : 0;
    c.check->setChecked(ticked);
    c.address->setEnabled(ticked);
    c.crc->setEnabled(ticked);
    c.crc->setText(m_crcCheck->isChecked() ? CrcText(v.file) : QString());
    const int type = g_imageSet.MTY;
    uint32_t address = 0;
    if (ticked && (type == kModemTypeBootLoader || type == kModemTypeBootChain)) {
        VARKO_ReadTrailer(v.file, &address);
    }
    StoreHex(address, v.address);
    c.address->setText(FieldText(v.address));
}

void DownloaderDialog::OnUsbBrowse() {
    BrowseRow(kUsbRow);
}

void DownloaderDialog::OnModemBrowse() {
    BrowseRow(kModemRow);
}

void DownloaderDialog::OnRsrc1Browse() {
    BrowseRow(kRsrc1Row);
}

void DownloaderDialog::OnRsrc2Browse() {
    BrowseRow(kRsrc2Row);
}

// Only an image with a trailer is taken: a FactoryFS image without one would
// have no flash address to go to.
void DownloaderDialog::OnFactoryFsBrowse() {
    BrowseRow(kFactoryFsRow);
}

void DownloaderDialog::OnFotaBrowse() {
    BrowseRow(kFotaRow);
}

void DownloaderDialog::BrowseRow(Row row) {
    const RowFileType& type = kFileTypes[row];
    const std::optional<std::string> chosen =
        m_services.fileDialogs->ChooseImageFile(this, type.filter, type.suffix);
    const RowValues v = ValuesOf(row);
    if (!chosen || !KeepPath(*chosen, v.file)) return;
    if (row == kUsbRow && !platform::AskYesNo("Change USB Code ??")) {
        // The file is kept; the row stays unticked until it is chosen again.
        v.check = 0;
        m_usbCheck->setChecked(false);
        m_usbCheck->setEnabled(false);
        PushStatusLog();
        return;
    }
    const RowControls c = Controls(row);
    c.path->setText(AbbreviatedText(v.file));
    TakeChosenImage(row, c);
}

// The row is ticked only when the file ends in a trailer of the row's type.
void DownloaderDialog::TakeChosenImage(Row row, const RowControls& c) {
    const RowFileType& type = kFileTypes[row];
    const RowValues v = ValuesOf(row);
    uint32_t address = 0;
    const bool accepted =
        VARKO_ReadTrailer(v.file, &address) == 1 && TrailerTypeIs(type.upper, type.lower);
    if (accepted) {
        TakeTrailerKind(v.kind);
        v.check = 1;
        StoreHex(address, v.address);
        c.address->setText(FieldText(v.address));
        c.crc->setText(m_crcCheck->isChecked() ? CrcText(v.file) : HexText(0));
    } else {
        if (row != kUsbRow) v.kind[0] = '\0';  // the Usb row keeps its kind
        v.check = 0;
    }
    c.kind->setText(FieldText(v.kind));
    ShowRowState(c, v.check);
}

void DownloaderDialog::ShowRowState(const RowControls& c, int check) {
    const bool ticked = check == 1;
    c.check->setChecked(ticked);
    c.check->setEnabled(ticked);
    c.path->setEnabled(true);
    c.address->setEnabled(ticked);
    c.crc->setEnabled(ticked);
}

// The CRC as shown in a CRC edit; empty for a file that cannot be read.
QString DownloaderDialog::CrcText(const char* path) {
    uint32_t crc = 0;
    return FileCrc32(path, &crc) ? HexText(crc) : QString();
}

uint32_t DownloaderDialog::ReflectBits(uint32_t value, int count) {
    if (count <= 0) return 0;
    if (count > 32) count = 32;
    uint32_t reflected = 0;
    for (int bit = 0; bit < count; ++bit) {
        if (value & (1u << bit)) reflected |= 1u << (count - 1 - bit);
    }
    return reflected;
}

void DownloaderDialog::BuildCrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = ReflectBits(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ kCrcPolynomial : r << 1;
        m_crcTable[i] = ReflectBits(r, 32);
    }
}

uint32_t DownloaderDialog::Crc32(const uint8_t* bytes, size_t length, uint32_t crc) const {
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        c = (c >> 8) ^ m_crcTable[(c ^ bytes[i]) & 0xFF];
    return c ^ 0xFFFFFFFFu;
}

bool DownloaderDialog::FileCrc32(const char* path, uint32_t* crc) {
    BuildCrcTable();
    FILE* file = platform::OpenRegularFile(path);  // a FIFO or /dev/zero would never end
    if (file == nullptr) return false;
    const int fd = ::fileno(file);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    uint32_t sum = 0;
    const bool read =
        ReadBlocks(fd, [&](const uint8_t* bytes, size_t n) { sum = Crc32(bytes, n, sum); });
    std::fclose(file);
    if (read) *crc = sum;
    return read;
}
