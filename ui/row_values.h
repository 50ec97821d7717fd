// What the row handlers share: the image-set values behind each row, the
// texts they show, and the checks on chosen paths and trailers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/image_set.h"
#include "engine/image.h"
#include "platform/notify.h"
#include "ui/downloader_core.h"
#include "ui/field_text.h"

namespace ui {

// The image-set values of one row, named after the keys that store them.
struct RowValues {
    int& check;
    char (&kind)[kImageKindSize];
    char (&file)[kImagePathSize];  // the Boot row's is the boot folder
    char (&address)[kImageAddressSize];
};

inline RowValues ValuesOf(ImageSet& set, Row row) {
    switch (row) {
        case kBootRow:
            return {set.BOOTCHECK, set.BOOTKIND, set.BOOTFILE, set.BOOTADDRESS};
        case kUsbRow:
            return {set.USBCHECK, set.USBKIND, set.USBFILE, set.USBADDRESS};
        default:
            break;
    }
    ImageSetSlot& slot = set.rows[row - kModemRow];
    return {slot.check, slot.kind, slot.file, slot.address};
}

// Addresses and CRCs are shown and stored in lower-case hexadecimal without
// leading zeros; 0 is "0".
inline std::string HexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

inline void StoreHex(uint32_t value, char (&field)[kImageAddressSize]) {
    std::snprintf(field, sizeof field, "%x", value);
}

template <size_t N>
std::string AbbreviatedText(const char (&path)[N]) {
    return DownloaderCore::AbbreviatePath(FieldBytes(path));
}

// True when the trailer last read names upper or lower as its image type;
// the comparison is exact, so "Bin" is neither "BIN" nor "bin".
inline bool TrailerTypeIs(const char* upper, const char* lower) {
    return std::strcmp(g_imageTrailer.type, upper) == 0 ||
           std::strcmp(g_imageTrailer.type, lower) == 0;
}

inline void TakeTrailerKind(char (&kind)[kImageKindSize]) {
    CopyToField(std::string(g_imageTrailer.kind), kind);
}

// A path is kept whole or not at all: cut to fit its field it would name
// another file. False, after telling the operator, when it does not fit.
inline bool PathFits(const std::string& path) {
    if (path.size() < kImagePathSize) return true;
    const std::string text = "The path is longer than " + std::to_string(kImagePathSize - 1) +
                             " characters and cannot be used:\n" + path;
    platform::ShowMessage(text.c_str());
    return false;
}

inline bool KeepPath(const std::string& path, char (&field)[kImagePathSize]) {
    return PathFits(path) && CopyToField(path, field);
}

}  // namespace ui
