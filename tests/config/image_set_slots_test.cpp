// The one row-to-slot table the window's Download command and the command
// line's download --set fill the image table from.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/image_set_slots.h"

namespace {

struct Placed {
    int slot;
    std::string address;
    bool operator==(const Placed&) const = default;
};

// A boot chain, a Usb image and all five rows, every row ticked in the file.
ImageSet FullSet() {
    ImageSet set{};
    set.MTY = kModemTypeBootChain;
    for (int i = 0; i < kBootChainCount; ++i) {
        std::snprintf(set.bootChain[i].path, kImagePathSize, "/b/%d.mbn", i);
        std::snprintf(set.bootChain[i].address, kImageAddressSize, "%x", 0x1000 * i);
    }
    std::snprintf(set.USBFILE, kImagePathSize, "/u.bin");
    std::snprintf(set.USBADDRESS, kImageAddressSize, "7000");
    for (int r = 0; r < kImageSetRowCount; ++r) {
        set.rows[r].check = 1;
        std::snprintf(set.rows[r].file, kImagePathSize, "/r%d.bin", r);
        std::snprintf(set.rows[r].address, kImageAddressSize, "%d00000", r + 1);
    }
    return set;
}

// Places every image into a list; refuseSlot stands for the engine refusing one.
std::vector<Placed> Place(ImageSet& set, const config::SlotChoice& choice, const char** message,
                          int refuseSlot = -1) {
    std::vector<Placed> placed;
    *message = config::PlaceImageSetSlots(set, choice, [&](const config::SlotImage& image) {
        if (image.slot == refuseSlot) return false;
        placed.push_back({image.slot, image.address});
        return true;
    });
    return placed;
}

TEST(ImageSetSlotsTest, BootTakesTheChainOrLoaderThenUsbThenTheTickedRows) {
    ImageSet set = FullSet();
    config::SlotChoice choice;
    choice.boot = true;
    choice.usbAddress = "7100";
    choice.rows[kRowCode] = choice.rows[kRowData] = choice.rows[kRowEtc2] = true;
    choice.rowAddress[kRowCode] = "a00000";  // the edit's text wins and is stored
    const char* message = "unset";
    EXPECT_EQ(Place(set, choice, &message), (std::vector<Placed>{{0, "0"},
                                                                 {1, "1000"},
                                                                 {2, "2000"},
                                                                 {3, "3000"},
                                                                 {4, "4000"},
                                                                 {5, "5000"},
                                                                 {7, "7100"},
                                                                 {8, "a00000"},
                                                                 {10, "300000"}}));
    EXPECT_EQ(message, nullptr);
    EXPECT_STREQ(set.rows[kRowCode].address, "a00000");
    EXPECT_STREQ(set.USBADDRESS, "7100");

    set.MTY = kModemTypeBootLoader;
    std::snprintf(set.BOOTLOADERFILE, kImagePathSize, "/b/BOOT_LOADER.mbn");
    std::snprintf(set.BOOTADDRESS, kImageAddressSize, "0");
    choice.rows[kRowCode] = choice.rows[kRowData] = false;
    EXPECT_EQ(Place(set, choice, &message), (std::vector<Placed>{{6, "0"}, {7, "7100"}}));
}

TEST(ImageSetSlotsTest, TheFirstUnusableImageEndsThePlacementWithItsMessage) {
    ImageSet set = FullSet();
    config::SlotChoice choice;
    choice.boot = true;
    choice.rows[kRowCode] = true;
    choice.rowAddress[kRowCode] = "";  // would fail too, but is checked later
    const char* message = nullptr;
    EXPECT_EQ(Place(set, choice, &message, 2).size(), 2u);
    EXPECT_STREQ(message, "Invalid Mibib1 Image !");

    choice.boot = false;
    choice.rows[kRowFont] = true;
    choice.rowAddress[kRowCode] = std::string(kImageAddressSize, '1');  // longer than its field
    EXPECT_TRUE(Place(set, choice, &message).empty());
    EXPECT_STREQ(message, "Invalid Modem Image/Address !");
    EXPECT_STREQ(set.rows[kRowCode].address, "100000");

    choice.boot = true;
    set.USBFILE[0] = '\0';
    EXPECT_EQ(Place(set, choice, &message).size(), 6u);
    EXPECT_STREQ(message, "Invalid Usb Image/Address !");

    config::SlotChoice onlyFota;
    onlyFota.rows[kRowEtc2] = true;
    EXPECT_TRUE(Place(set, onlyFota, &message).empty());
    EXPECT_STREQ(message, "Select Image !");
}

TEST(ImageSetSlotsTest, TheSetsOwnAddressesGiveWhatTheSameEditTextsGive) {
    // The command line uses the set's addresses, the window its edits: with
    // the same texts both get the same slots, and the same refusal.
    ImageSet set = FullSet();
    set.rows[kRowFont].check = 0;
    set.rows[kRowEtc1].address[0] = '\0';
    config::SlotChoice fromFile;
    config::SlotChoice fromEdits;
    for (int r = 0; r < kImageSetRowCount; ++r) {
        fromFile.rows[r] = fromEdits.rows[r] = set.rows[r].check != 0;
        fromEdits.rowAddress[r] = std::string(set.rows[r].address);
    }
    ImageSet fileCopy = set;
    ImageSet editCopy = set;
    const char* fileMessage = nullptr;
    const char* editMessage = nullptr;
    const auto byFile = Place(fileCopy, fromFile, &fileMessage);
    EXPECT_EQ(byFile, (std::vector<Placed>{{8, "100000"}, {10, "300000"}}));
    EXPECT_EQ(Place(editCopy, fromEdits, &editMessage), byFile);
    EXPECT_STREQ(fileMessage, "Invalid FileSys Image/Address !");
    EXPECT_STREQ(editMessage, fileMessage);
}

}  // namespace
