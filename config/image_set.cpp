#include "config/image_set.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/profile.h"
#include "engine/image.h"
#include "platform/path.h"

ImageSet g_imageSet;

namespace {

struct ChainName {
    const char* file;
    const char* addressKey;
};

constexpr ChainName kChainNames[kBootChainCount] = {
    {KELVANE_PATH_SEPARATOR "pbl.mbn", "PBLADDRESS"},
    {KELVANE_PATH_SEPARATOR "qcsblhd_cfgdata.mbn", "QCSBLHDADDRESS"},
    {KELVANE_PATH_SEPARATOR "mibib1.mbn", "MIBIB1ADDRESS"},
    {KELVANE_PATH_SEPARATOR "mibib2.mbn", "MIBIB2ADDRESS"},
    {KELVANE_PATH_SEPARATOR "qcsbl.mbn", "QCSBLADDRESS"},
    {KELVANE_PATH_SEPARATOR "oemsbl.mbn", "OEMSBLADDRESS"}};

constexpr const char* kRowPrefixes[kImageSetRowCount] = {"CODE", "FONT", "DATA", "ETC1", "ETC2"};
constexpr const char* kRowNames[kImageSetRowCount] = {"Modem", "Rsrc1", "Rsrc2", "FactoryFS",
                                                      "FOTA"};

struct RowKeys {
    char check[16], kind[16], file[16], address[16];
};

RowKeys KeysOfRow(int row) {
    RowKeys keys;
    std::snprintf(keys.check, sizeof keys.check, "%sCHECK", kRowPrefixes[row]);
    std::snprintf(keys.kind, sizeof keys.kind, "%sKIND", kRowPrefixes[row]);
    std::snprintf(keys.file, sizeof keys.file, "%sFILE", kRowPrefixes[row]);
    std::snprintf(keys.address, sizeof keys.address, "%sADDRESS", kRowPrefixes[row]);
    return keys;
}

// An empty address of an existing image becomes the address in its trailer.
void FillFromTrailer(const char* path, char (&address)[kImageAddressSize]) {
    if (address[0] != '\0' || !config::FileFound(path)) return;
    uint32_t value = 0;
    if (VARKO_ReadTrailer(path, &value) == 1) std::snprintf(address, sizeof address, "%x", value);
}

// Chain paths that would not fit stay empty rather than name a cut-off file;
// without a boot folder there is no chain at all.
void FormChainPaths(ImageSet* set) {
    for (int i = 0; i < kBootChainCount; ++i) {
        char* path = set->bootChain[i].path;
        path[0] = '\0';
        if (set->BOOTFILE[0] == '\0') continue;
        int n = std::snprintf(path, kImagePathSize, "%s%s", set->BOOTFILE, kChainNames[i].file);
        if (n < 0 || static_cast<size_t>(n) >= kImagePathSize) path[0] = '\0';
    }
}

// An address refused for its length is not replaced by the trailer's either.
void ReadBoot(config::ProfileReader* file, ImageSet* set) {
    set->BOOTCHECK = 0;
    file->Text("BOOTKIND", set->BOOTKIND);
    file->Text("BOOTFILE", set->BOOTFILE);
    file->Text("BOOTLOADERFILE", set->BOOTLOADERFILE);
    FormChainPaths(set);
    if (set->MTY != kModemTypeBootChain) {
        file->Text("BOOTADDRESS", set->BOOTADDRESS);
        return;
    }
    bool usable[kBootChainCount];
    for (int i = 0; i < kBootChainCount; ++i) {
        usable[i] = file->Text(kChainNames[i].addressKey, set->bootChain[i].address);
    }
    for (int i = 0; i < kBootChainCount; ++i) {
        if (usable[i]) FillFromTrailer(set->bootChain[i].path, set->bootChain[i].address);
    }
}

void ReadUsb(config::ProfileReader* file, ImageSet* set) {
    set->USBCHECK = 0;
    file->Text("USBKIND", set->USBKIND);
    file->Text("USBFILE", set->USBFILE);
    const bool usable = file->Text("USBADDRESS", set->USBADDRESS);
    if (usable && (set->MTY == kModemTypeBootLoader || set->MTY == kModemTypeBootChain)) {
        FillFromTrailer(set->USBFILE, set->USBADDRESS);
    }
}

void ReadRow(config::ProfileReader* file, int row, ImageSetSlot* slot) {
    const RowKeys keys = KeysOfRow(row);
    slot->check = file->Int(keys.check, 0);
    file->Text(keys.kind, slot->kind);
    file->Text(keys.file, slot->file);
    if (file->Text(keys.address, slot->address)) FillFromTrailer(slot->file, slot->address);
}

void WriteBoot(config::ProfileWriter* out, const ImageSet& set) {
    if (set.MTY == kModemTypeBootLoader) {
        out->Int("BOOTCHECK", set.BOOTCHECK);
    } else {
        for (int i = 0; i < kBootChainCount; ++i) {
            out->Text(kChainNames[i].addressKey, set.bootChain[i].address);
        }
    }
    out->Text("BOOTKIND", set.BOOTKIND);
    out->Text("BOOTFILE", set.BOOTFILE);
    out->Text("BOOTLOADERFILE", set.BOOTLOADERFILE);
    out->Text("BOOTADDRESS", set.BOOTADDRESS);
}

void WriteRow(config::ProfileWriter* out, int row, const ImageSetSlot& slot) {
    const RowKeys keys = KeysOfRow(row);
    out->Int(keys.check, slot.check);
    out->Text(keys.kind, slot.kind);
    out->Text(keys.file, slot.file);
    out->Text(keys.address, slot.address);
}

}  // namespace

const char* BootChainFileName(int index) {
    return index >= 0 && index < kBootChainCount ? kChainNames[index].file : "";
}

const char* BootChainAddressKey(int index) {
    return index >= 0 && index < kBootChainCount ? kChainNames[index].addressKey : "";
}

const char* ImageSetRowPrefix(int row) {
    return row >= 0 && row < kImageSetRowCount ? kRowPrefixes[row] : "";
}

const char* ImageSetRowName(int row) {
    return row >= 0 && row < kImageSetRowCount ? kRowNames[row] : "";
}

void ReadImageSet(const char* path, ImageSet* set, config::ReadProblems* problems) {
    // The path may lie in the record being replaced.
    const std::string copy = path != nullptr ? path : "";
    config::ProfileReader file(copy.c_str(), problems);
    *set = ImageSet{};
    set->MTY = file.Int("MTY", kModemTypeBootLoader);
    ReadBoot(&file, set);
    ReadUsb(&file, set);
    file.Text("BINARYFULLPATH", set->BINARYFULLPATH);
    for (int row = 0; row < kImageSetRowCount; ++row)
        ReadRow(&file, row, &set->rows[row]);
}

void ReadImageSet(const char* path, config::ReadProblems* problems) {
    ReadImageSet(path, &g_imageSet, problems);
}

std::vector<std::string> MissingTickedFiles(const ImageSet& set) {
    std::vector<std::string> lines;
    for (int row = kRowCode; row <= kRowEtc1; ++row) {
        const ImageSetSlot& slot = set.rows[row];
        if (slot.check == 0 || slot.file[0] == '\0' || config::FileFound(slot.file)) continue;
        lines.push_back(std::string(kRowNames[row]) + " is ticked but its file " +
                        std::string(slot.file, strnlen(slot.file, sizeof slot.file)) +
                        " is missing");
    }
    return lines;
}

namespace {

void FillWriter(config::ProfileWriter* out, const ImageSet& set) {
    out->Int("MTY", set.MTY);
    WriteBoot(out, set);
    out->Int("USBCHECK", set.USBCHECK);
    out->Text("USBKIND", set.USBKIND);
    out->Text("USBFILE", set.USBFILE);
    out->Text("USBADDRESS", set.USBADDRESS);
    out->Text("BINARYFULLPATH", set.BINARYFULLPATH);
    for (int row = 0; row < kImageSetRowCount; ++row)
        WriteRow(out, row, set.rows[row]);
}

}  // namespace

bool WriteImageSet(const char* path, const ImageSet& set) {
    if (path == nullptr || path[0] == '\0') return true;
    config::ProfileWriter out(path);
    FillWriter(&out, set);
    return out.Save();
}

void config::ImageSetBaseline::Remember(const char* path, const ImageSet& set) {
    config::ProfileWriter out(nullptr);
    FillWriter(&out, set);
    path_ = path != nullptr ? path : "";
    entries_ = out.entries();
}

bool config::ImageSetBaseline::Changed(const char* path, const ImageSet& set) const {
    config::ProfileWriter out(nullptr);
    FillWriter(&out, set);
    return path_ != (path != nullptr ? path : "") || entries_ != out.entries();
}

bool WriteImageSet(const char* path) {
    return WriteImageSet(path, g_imageSet);
}
