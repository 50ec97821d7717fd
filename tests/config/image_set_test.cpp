#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "config/image_set.h"
#include "platform/ini.h"
#include "tests/config/config_test_util.h"

namespace {

using config_test::ConfigTest;
using config_test::FilledImageSet;
using config_test::MakeImage;
using config_test::MakeImageWithoutTrailer;
using config_test::ReadFile;
using config_test::SectionKeys;
using config_test::Set;
using config_test::StoredValue;
using config_test::WriteFile;

class ImageSetTest : public ConfigTest {
protected:
    std::string Vrk() const { return dir_.File("set.vrk"); }
    std::string BootFolder() const { return dir_.File("boot"); }
    std::string ChainFile(int index) const { return BootFolder() + BootChainFileName(index); }
};

// Everything a read takes from the file, and only that, must come back.
void ExpectReadFieldsEqual(const ImageSet& written, const ImageSet& read) {
    EXPECT_EQ(read.MTY, written.MTY);
    EXPECT_STREQ(read.BOOTKIND, written.BOOTKIND);
    EXPECT_STREQ(read.BOOTFILE, written.BOOTFILE);
    EXPECT_STREQ(read.BOOTLOADERFILE, written.BOOTLOADERFILE);
    EXPECT_STREQ(read.USBKIND, written.USBKIND);
    EXPECT_STREQ(read.USBFILE, written.USBFILE);
    EXPECT_STREQ(read.USBADDRESS, written.USBADDRESS);
    EXPECT_STREQ(read.BINARYFULLPATH, written.BINARYFULLPATH);
    for (int row = 0; row < kImageSetRowCount; ++row) {
        SCOPED_TRACE(ImageSetRowPrefix(row));
        EXPECT_EQ(read.rows[row].check, written.rows[row].check);
        EXPECT_STREQ(read.rows[row].kind, written.rows[row].kind);
        EXPECT_STREQ(read.rows[row].file, written.rows[row].file);
        EXPECT_STREQ(read.rows[row].address, written.rows[row].address);
    }
    EXPECT_EQ(read.BOOTCHECK, 0);
    EXPECT_EQ(read.USBCHECK, 0);
    for (int i = 0; i < kBootChainCount; ++i) {
        EXPECT_EQ(std::string(read.bootChain[i].path),
                  std::string(written.BOOTFILE) + BootChainFileName(i));
    }
}

bool HasKey(const std::string& file, const char* key) {
    return StoredValue(file, key) != "<missing>";
}

TEST_F(ImageSetTest, ModemType0RoundTripStoresBootCheckAndNoChainAddresses) {
    const ImageSet written = FilledImageSet(kModemTypeBootLoader, dir_.path());
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), written));
    EXPECT_EQ(StoredValue(Vrk(), "BOOTCHECK"), "1");
    for (int i = 0; i < kBootChainCount; ++i)
        EXPECT_FALSE(HasKey(Vrk(), BootChainAddressKey(i)));

    ImageSet read;
    ReadImageSet(Vrk().c_str(), &read);
    ExpectReadFieldsEqual(written, read);
    EXPECT_STREQ(read.BOOTADDRESS, "1F00000");
    for (const BootChainEntry& entry : read.bootChain)
        EXPECT_STREQ(entry.address, "");
    EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(ImageSetTest, ModemType1RoundTripStoresChainAddressesButReadsOnlyBootAddress) {
    const ImageSet written = FilledImageSet(1, dir_.path());
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), written));
    EXPECT_FALSE(HasKey(Vrk(), "BOOTCHECK"));
    EXPECT_EQ(StoredValue(Vrk(), "QCSBLHDADDRESS"), "10a000");
    EXPECT_EQ(StoredValue(Vrk(), "OEMSBLADDRESS"), "50e000");

    ImageSet read;
    ReadImageSet(Vrk().c_str(), &read);
    ExpectReadFieldsEqual(written, read);
    EXPECT_STREQ(read.BOOTADDRESS, "1F00000");
    for (const BootChainEntry& entry : read.bootChain)
        EXPECT_STREQ(entry.address, "");
}

TEST_F(ImageSetTest, ModemType2RoundTripReadsChainAddressesButNotBootAddress) {
    const ImageSet written = FilledImageSet(kModemTypeBootChain, dir_.path());
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), written));
    EXPECT_FALSE(HasKey(Vrk(), "BOOTCHECK"));
    EXPECT_EQ(StoredValue(Vrk(), "BOOTADDRESS"), "1F00000");

    ImageSet read;
    ReadImageSet(Vrk().c_str(), &read);
    ExpectReadFieldsEqual(written, read);
    EXPECT_STREQ(read.BOOTADDRESS, "");
    for (int i = 0; i < kBootChainCount; ++i) {
        EXPECT_STREQ(read.bootChain[i].address, written.bootChain[i].address);
    }
}

TEST_F(ImageSetTest, KeysAreWrittenInFileOrder) {
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), FilledImageSet(kModemTypeBootLoader, dir_.path())));
    std::vector<std::string> names;
    for (const auto& [key, value] : SectionKeys(ReadFile(Vrk()), "VARKO"))
        names.push_back(key);
    std::vector<std::string> expected = {
        "MTY",      "BOOTCHECK", "BOOTKIND", "BOOTFILE",   "BOOTLOADERFILE", "BOOTADDRESS",
        "USBCHECK", "USBKIND",   "USBFILE",  "USBADDRESS", "BINARYFULLPATH"};
    for (const char* prefix : {"CODE", "FONT", "DATA", "ETC1", "ETC2"}) {
        for (const char* part : {"CHECK", "KIND", "FILE", "ADDRESS"}) {
            expected.push_back(std::string(prefix) + part);
        }
    }
    EXPECT_EQ(names, expected);
}

TEST_F(ImageSetTest, MissingFileReadsAsDefaultsReplacingTheOldRecord) {
    g_imageSet = FilledImageSet(kModemTypeBootChain, dir_.path());
    ReadImageSet(dir_.File("absent.vrk").c_str());
    const ImageSet empty{};
    EXPECT_EQ(std::memcmp(&g_imageSet, &empty, sizeof empty), 0);

    g_imageSet = FilledImageSet(1, dir_.path());
    ReadImageSet(nullptr);
    EXPECT_EQ(std::memcmp(&g_imageSet, &empty, sizeof empty), 0);
    EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(ImageSetTest, StoredBootAndUsbTicksReadBackCleared) {
    WriteFile(Vrk(), "[VARKO]\nMTY=0\nBOOTCHECK=1\nUSBCHECK=1\nCODECHECK=1\nETC2CHECK=1\n");
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(g_imageSet.BOOTCHECK, 0);
    EXPECT_EQ(g_imageSet.USBCHECK, 0);
    EXPECT_EQ(g_imageSet.rows[kRowCode].check, 1);
    EXPECT_EQ(g_imageSet.rows[kRowFont].check, 0);
    EXPECT_EQ(g_imageSet.rows[kRowEtc2].check, 1);
}

TEST_F(ImageSetTest, ModemType2FillsEmptyChainAddressesFromTrailers) {
    std::filesystem::create_directory(BootFolder());
    MakeImage(ChainFile(kChainPbl), 0xABC000);
    MakeImage(ChainFile(kChainQcsblHd), 0x2000);
    MakeImage(ChainFile(kChainMibib2), 0xDEAD0000);
    MakeImage(ChainFile(kChainQcsbl), 0x40000);  // its address is stored as text
    MakeImage(ChainFile(kChainOemsbl), 0);
    MakeImage(BootFolder() + "/BOOT_LOADER.mbn", 0x5000);
    WriteFile(Vrk(), "[VARKO]\nMTY=2\nBOOTFILE=" + BootFolder() + "\nBOOTLOADERFILE=" +
                         BootFolder() + "/BOOT_LOADER.mbn\nBOOTADDRESS=7777\nQCSBLADDRESS=99\n");

    ReadImageSet(Vrk().c_str());
    EXPECT_STREQ(g_imageSet.bootChain[kChainPbl].address, "abc000");
    EXPECT_STREQ(g_imageSet.bootChain[kChainQcsblHd].address, "2000");
    EXPECT_STREQ(g_imageSet.bootChain[kChainMibib1].address, "");  // no such file
    EXPECT_STREQ(g_imageSet.bootChain[kChainMibib2].address, "dead0000");
    EXPECT_STREQ(g_imageSet.bootChain[kChainQcsbl].address, "99");
    EXPECT_STREQ(g_imageSet.bootChain[kChainOemsbl].address, "0");
    EXPECT_STREQ(g_imageSet.BOOTADDRESS, "");
    EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(ImageSetTest, ModemType0IgnoresChainAndSavesBootCheckWithoutChainAddresses) {
    std::filesystem::create_directory(BootFolder());
    for (int i = 0; i < kBootChainCount; ++i)
        MakeImage(ChainFile(i), 0x1000u * (i + 1));
    MakeImage(BootFolder() + "/BOOT_LOADER.mbn", 0x5000);
    WriteFile(Vrk(), "[VARKO]\nMTY=0\nBOOTFILE=" + BootFolder() + "\nBOOTLOADERFILE=" +
                         BootFolder() + "/BOOT_LOADER.mbn\nPBLADDRESS=1234\n");

    ReadImageSet(Vrk().c_str());
    for (const BootChainEntry& entry : g_imageSet.bootChain)
        EXPECT_STREQ(entry.address, "");
    EXPECT_STREQ(g_imageSet.BOOTADDRESS, "");  // the boot loader's trailer is not consulted

    g_imageSet.BOOTCHECK = 1;
    ASSERT_TRUE(WriteImageSet(Vrk().c_str()));
    EXPECT_EQ(StoredValue(Vrk(), "BOOTCHECK"), "1");
    EXPECT_EQ(StoredValue(Vrk(), "PBLADDRESS"), "1234");  // neither written nor removed
    for (int i = 1; i < kBootChainCount; ++i)
        EXPECT_FALSE(HasKey(Vrk(), BootChainAddressKey(i)));
}

TEST_F(ImageSetTest, UsbAddressComesFromItsTrailerOnlyForModemTypes0And2) {
    MakeImage(dir_.File("usb.bin"), 0x7000);
    for (int row = 0; row < kImageSetRowCount; ++row) {
        MakeImage(dir_.File(std::string(ImageSetRowPrefix(row)) + ".img"), 0xA0000u + row);
    }
    for (int modemType : {0, 1, 2, 3}) {
        SCOPED_TRACE(modemType);
        std::string text = "[VARKO]\nMTY=" + std::to_string(modemType) +
                           "\nUSBFILE=" + dir_.File("usb.bin") + "\n";
        for (int row = 0; row < kImageSetRowCount; ++row) {
            text += std::string(ImageSetRowPrefix(row)) +
                    "FILE=" + dir_.File(std::string(ImageSetRowPrefix(row)) + ".img") + "\n";
        }
        WriteFile(Vrk(), text);
        ReadImageSet(Vrk().c_str());
        const bool usbFilled = modemType == 0 || modemType == 2;
        EXPECT_STREQ(g_imageSet.USBADDRESS, usbFilled ? "7000" : "");
        for (int row = 0; row < kImageSetRowCount; ++row) {
            EXPECT_EQ(std::string(g_imageSet.rows[row].address), "a000" + std::to_string(row));
        }
    }
    EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(ImageSetTest, StoredAddressTextWinsOverTheTrailer) {
    MakeImage(dir_.File("modem.bin"), 0x200);
    MakeImage(dir_.File("usb.bin"), 0x300);
    WriteFile(Vrk(), "[VARKO]\nMTY=0\nCODEFILE=" + dir_.File("modem.bin") +
                         "\nCODEADDRESS=ABCDEF\nUSBFILE=" + dir_.File("usb.bin") +
                         "\nUSBADDRESS=not-hex\n");
    ReadImageSet(Vrk().c_str());
    EXPECT_STREQ(g_imageSet.rows[kRowCode].address, "ABCDEF");
    EXPECT_STREQ(g_imageSet.USBADDRESS, "not-hex");
}

TEST_F(ImageSetTest, ImageWithoutTrailerShowsTheBoxOncePerImage) {
    std::filesystem::create_directory(BootFolder());
    MakeImageWithoutTrailer(ChainFile(kChainPbl));
    MakeImageWithoutTrailer(ChainFile(kChainMibib1), 100);  // shorter than a trailer
    MakeImage(ChainFile(kChainQcsbl), 0x1000);
    MakeImageWithoutTrailer(dir_.File("usb.bin"));
    MakeImageWithoutTrailer(dir_.File("code.bin"));
    MakeImageWithoutTrailer(dir_.File("font.bin"));        // address given: not read
    std::filesystem::create_directory(dir_.File("data"));  // a folder, not an image
    WriteFile(Vrk(),
              "[VARKO]\nMTY=2\nBOOTFILE=" + BootFolder() + "\nUSBFILE=" + dir_.File("usb.bin") +
                  "\nCODEFILE=" + dir_.File("code.bin") + "\nFONTFILE=" + dir_.File("font.bin") +
                  "\nFONTADDRESS=100\nDATAFILE=" + dir_.File("data") +
                  "\nETC1FILE=" + dir_.File("absent.bin") + "\n");

    ReadImageSet(Vrk().c_str());
    const std::vector<std::string> expected(4, config_test::kNoTrailerMessage);
    EXPECT_EQ(prompt_.texts, expected);  // pbl, mibib1, usb, code
    EXPECT_STREQ(g_imageSet.bootChain[kChainPbl].address, "");
    EXPECT_STREQ(g_imageSet.bootChain[kChainQcsbl].address, "1000");
    EXPECT_STREQ(g_imageSet.USBADDRESS, "");
    EXPECT_STREQ(g_imageSet.rows[kRowCode].address, "");
    EXPECT_STREQ(g_imageSet.rows[kRowFont].address, "100");
}

TEST_F(ImageSetTest, ChainPathsThatDoNotFitStayEmpty) {
    ImageSet set{};
    // 250 characters: room for "/pbl.mbn" (258) but not "/qcsblhd_cfgdata.mbn" (270).
    Set(set.BOOTFILE, "/" + std::string(249, 'b'));
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), set));
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(std::string(g_imageSet.bootChain[kChainPbl].path),
              std::string(set.BOOTFILE) + BootChainFileName(kChainPbl));
    EXPECT_STREQ(g_imageSet.bootChain[kChainQcsblHd].path, "");
    EXPECT_EQ(std::strlen(g_imageSet.bootChain[kChainQcsbl].path), 260u);  // just fits
    EXPECT_STREQ(g_imageSet.bootChain[kChainOemsbl].path, "");             // one too many

    WriteFile(Vrk(), "[VARKO]\nMTY=2\nBOOTFILE=\n");
    ReadImageSet(Vrk().c_str());
    for (const BootChainEntry& entry : g_imageSet.bootChain)
        EXPECT_STREQ(entry.path, "");
}

bool FailingCommit(const char*, const char*) {
    return false;
}

TEST_F(ImageSetTest, FailedWriteKeepsTheOldFile) {
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), FilledImageSet(kModemTypeBootLoader, dir_.path())));
    const std::string before = ReadFile(Vrk());
    const auto entries = config_test::FolderEntries(dir_.path());

    platform::SetFileCommitHook(FailingCommit);
    EXPECT_FALSE(WriteImageSet(Vrk().c_str(), FilledImageSet(kModemTypeBootChain, dir_.path())));
    platform::SetFileCommitHook(nullptr);
    EXPECT_EQ(ReadFile(Vrk()), before);
    EXPECT_EQ(config_test::FolderEntries(dir_.path()), entries);  // no temporary left behind

    const std::string inMissingFolder = dir_.File("no/such/folder/set.vrk");
    EXPECT_FALSE(WriteImageSet(inMissingFolder.c_str(), FilledImageSet(0, dir_.path())));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("no")));
}

TEST_F(ImageSetTest, EmptyPathWritesNothing) {
    EXPECT_TRUE(WriteImageSet("", FilledImageSet(0, dir_.path())));
    EXPECT_TRUE(WriteImageSet(nullptr, FilledImageSet(0, dir_.path())));
}

}  // namespace
