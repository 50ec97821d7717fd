// Which image-set row goes to which download slot with which address, and
// the message shown when a row cannot be used: the one table the window's
// Download command and the command line's download from a set both fill the
// engine's image table from.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/image_set.h"

namespace config {

inline constexpr int kBootLoaderSlot = 6;
inline constexpr int kUsbSlot = 7;

// A row downloaded after the boot images.
struct RowSlot {
    ImageSetRow row;
    int slot;
    const char* message;
};

// Modem, Rsrc1, Rsrc2 and FactoryFS in the order they are checked; FOTA has
// no download slot.
inline constexpr RowSlot kRowSlots[] = {
    {kRowCode, 8, "Invalid Modem Image/Address !"},
    {kRowFont, 9, "Invalid Rsrc1 Image/Address !"},
    {kRowData, 10, "Invalid Rsrc2 Image/Address !"},
    {kRowEtc1, 11, "Invalid FileSys Image/Address !"},
};

// One image for the download table; path and address point into the set.
struct SlotImage {
    int slot;
    const char* path;
    const char* address;  // hexadecimal text
    const char* message;  // shown when the image cannot be used
};

// What a download takes from a set.
struct SlotChoice {
    bool boot = false;                  // the boot images, then the Usb image
    bool rows[kImageSetRowCount] = {};  // ticked rows (FOTA is never taken)
    // Address texts stored into the set before use (the window's edits);
    // without one the set's own address is used.
    std::optional<std::string> usbAddress;
    std::optional<std::string> rowAddress[kImageSetRowCount];
};

// Accepts an image into the download table; false when it is refused.
using PlaceImage = std::function<bool(const SlotImage&)>;

// Hands every chosen image to place in the order the Download command checks
// them: with boot, the boot chain (slots 0..5, modem type 2) or the boot
// loader (slot 6, modem type 0) and then the Usb image (slot 7); then the
// ticked rows of kRowSlots. Stops at the first image without a file (or,
// outside the boot chain, an address, or with an address text too long for
// its field) or one that place refuses, and returns its message. Returns
// "Select Image !" when nothing was chosen, nullptr when every image was
// placed.
const char* PlaceImageSetSlots(ImageSet& set, const SlotChoice& choice, const PlaceImage& place);

}  // namespace config
