#include "config/image_set.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/profile.h"
#include "engine/image.h"

ImageSet g_imageSet;

namespace {

struct ChainName {
    const char* file;
    const char* addressKey;
};

constexpr ChainName kChainNames[kBootChainCount] = {
    {"/pbl.mbn", "PBLADDRESS"},       {"/qcsblhd_cfgdata.mbn", "QCSBLHDADDRESS"},
    {"/mibib1.mbn", "MIBIB1ADDRESS"}, {"/mibib2.mbn", "MIBIB2ADDRESS"},
    {"/qcsbl.mbn", "QCSBLADDRESS"},   {"/oemsbl.mbn", "OEMSBLADDRESS"}};

constexpr const char* kRowPrefixes[kImageSetRowCount] = {"CODE", "FONT", "DATA", "ETC1", "ETC2"};

template <size_t N>
void ReadText(const char* key, char (&out)[N], const char* file) {
    config::ReadText(key, out, N, file);
}

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

void ReadBoot(const char* file, ImageSet* set) {
    set->BOOTCHECK = 0;
    ReadText("BOOTKIND", set->BOOTKIND, file);
    ReadText("BOOTFILE", set->BOOTFILE, file);
    ReadText("BOOTLOADERFILE", set->BOOTLOADERFILE, file);
    FormChainPaths(set);
    if (set->MTY != kModemTypeBootChain) {
        ReadText("BOOTADDRESS", set->BOOTADDRESS, file);
        return;
    }
    for (int i = 0; i < kBootChainCount; ++i) {
        ReadText(kChainNames[i].addressKey, set->bootChain[i].address, file);
    }
    for (BootChainEntry& entry : set->bootChain)
        FillFromTrailer(entry.path, entry.address);
}

void ReadUsb(const char* file, ImageSet* set) {
    set->USBCHECK = 0;
    ReadText("USBKIND", set->USBKIND, file);
    ReadText("USBFILE", set->USBFILE, file);
    ReadText("USBADDRESS", set->USBADDRESS, file);
    if (set->MTY == kModemTypeBootLoader || set->MTY == kModemTypeBootChain) {
        FillFromTrailer(set->USBFILE, set->USBADDRESS);
    }
}

void ReadRow(const char* file, int row, ImageSetSlot* slot) {
    const RowKeys keys = KeysOfRow(row);
    slot->check = config::ReadInt(keys.check, 0, file);
    ReadText(keys.kind, slot->kind, file);
    ReadText(keys.file, slot->file, file);
    ReadText(keys.address, slot->address, file);
    FillFromTrailer(slot->file, slot->address);
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

void ReadImageSet(const char* path, ImageSet* set) {
    // The path may lie in the record being replaced.
    const std::string copy = path != nullptr ? path : "";
    const char* file = copy.c_str();
    *set = ImageSet{};
    set->MTY = config::ReadInt("MTY", kModemTypeBootLoader, file);
    ReadBoot(file, set);
    ReadUsb(file, set);
    ReadText("BINARYFULLPATH", set->BINARYFULLPATH, file);
    for (int row = 0; row < kImageSetRowCount; ++row)
        ReadRow(file, row, &set->rows[row]);
}

void ReadImageSet(const char* path) {
    ReadImageSet(path, &g_imageSet);
}

bool WriteImageSet(const char* path, const ImageSet& set) {
    if (path == nullptr || path[0] == '\0') return true;
    config::ProfileWriter out(path);
    out.Int("MTY", set.MTY);
    WriteBoot(&out, set);
    out.Int("USBCHECK", set.USBCHECK);
    out.Text("USBKIND", set.USBKIND);
    out.Text("USBFILE", set.USBFILE);
    out.Text("USBADDRESS", set.USBADDRESS);
    out.Text("BINARYFULLPATH", set.BINARYFULLPATH);
    for (int row = 0; row < kImageSetRowCount; ++row)
        WriteRow(&out, row, set.rows[row]);
    return out.ok();
}

bool WriteImageSet(const char* path) {
    return WriteImageSet(path, g_imageSet);
}
