#include "config/image_set_slots.h"

#include <cstring>
#include <iterator>

namespace config {
namespace {

// The boot chain's slots 0..5 in order, with what is shown when one is
// missing.
constexpr const char* kChainMessages[kBootChainCount] = {
    "Invalid Pbl Image !",    "Invalid QcSblhd Image !", "Invalid Mibib1 Image !",
    "Invalid Mibib2 Image !", "Invalid QcSbl Image !",   "Invalid OemSbl Image !"};

constexpr const char* kUsbMessage = "Invalid Usb Image/Address !";

// Stores text into field; false, the field unchanged, when it does not fit
// (an address cut short would name another place).
template <size_t N>
bool StoreAddress(const std::optional<std::string>& text, char (&field)[N]) {
    if (!text) return field[0] != '\0';
    if (text->empty() || text->size() >= N || text->find('\0') != std::string::npos) return false;
    std::memcpy(field, text->data(), text->size() + 1);
    return true;
}

// The image in file and address, or its message when it has neither.
template <size_t N>
const char* PlaceRow(int slot, const char* file, const std::optional<std::string>& address,
                     char (&field)[N], const char* message, const PlaceImage& place) {
    if (file[0] == '\0' || !StoreAddress(address, field)) return message;
    return place(SlotImage{slot, file, field, message}) ? nullptr : message;
}

const char* PlaceBootImages(ImageSet& set, const PlaceImage& place, int* count) {
    if (set.MTY == kModemTypeBootChain) {
        for (int slot = 0; slot < kBootChainCount; ++slot) {
            const BootChainEntry& entry = set.bootChain[slot];
            const SlotImage image{slot, entry.path, entry.address, kChainMessages[slot]};
            if (entry.path[0] == '\0' || !place(image)) return image.message;
        }
        *count += kBootChainCount;
    } else if (set.MTY == kModemTypeBootLoader) {
        const SlotImage image{kBootLoaderSlot, set.BOOTLOADERFILE, set.BOOTADDRESS,
                              "Invalid BootLoader Image !"};
        if (set.BOOTLOADERFILE[0] == '\0' || !place(image)) return image.message;
        ++*count;
    }
    return nullptr;
}

}  // namespace

const char* PlaceImageSetSlots(ImageSet& set, const SlotChoice& choice, const PlaceImage& place) {
    int count = 0;
    if (choice.boot) {
        if (const char* message = PlaceBootImages(set, place, &count)) return message;
        if (const char* message = PlaceRow(kUsbSlot, set.USBFILE, choice.usbAddress, set.USBADDRESS,
                                           kUsbMessage, place)) {
            return message;
        }
        ++count;
    }
    for (const RowSlot& r : kRowSlots) {
        if (!choice.rows[r.row]) continue;
        ImageSetSlot& row = set.rows[r.row];
        if (const char* message = PlaceRow(r.slot, row.file, choice.rowAddress[r.row], row.address,
                                           r.message, place)) {
            return message;
        }
        ++count;
    }
    return count == 0 ? "Select Image !" : nullptr;
}

}  // namespace config
