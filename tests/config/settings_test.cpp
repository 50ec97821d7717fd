#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/image_set.h"
#include "config/settings.h"
#include "platform/ini.h"
#include "platform/path.h"
#include "tests/config/config_test_util.h"

namespace {

using config_test::ConfigTest;
using config_test::FilledImageSet;
using config_test::ReadFile;
using config_test::SectionKeys;
using config_test::Set;
using config_test::StoredValue;
using config_test::WriteFile;

class SettingsTest : public ConfigTest {
protected:
    std::string Ini() const { return dir_.File("Kelvane_3.ini"); }
    std::string DefaultVrk() const { return dir_.File("default_3.vrk"); }

    static void Scramble() {
        g_settings.AUTODETECT = 7;
        for (int& port : g_settings.CH_PORT)
            port = 99;
        g_settings.DELAY = 55;
        g_settings.BAUDRATE = 9600;
        Set(g_settings.VARKOFILE, "/stale.vrk");
    }
};

TEST_F(SettingsTest, NoSettingsFileGivesDefaultsAndTheDefaultImageSet) {
    Scramble();
    g_imageSet = FilledImageSet(kModemTypeBootChain, dir_.path());
    EXPECT_EQ(ReadSettings(nullptr), 1);
    EXPECT_EQ(g_settings.AUTODETECT, 1);
    for (int port : g_settings.CH_PORT)
        EXPECT_EQ(port, 0);
    EXPECT_EQ(g_settings.DELAY, 2);
    EXPECT_EQ(g_settings.BAUDRATE, 1382400);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), DefaultVrk());
    EXPECT_EQ(g_imageSet.MTY, 0);  // the default image set was read (it is missing too)
    EXPECT_STREQ(g_imageSet.rows[kRowCode].file, "");
    EXPECT_FALSE(std::filesystem::exists(Ini()));
}

TEST_F(SettingsTest, RoundTripForEveryModemType) {
    for (int modemType : {0, 1, 2}) {
        SCOPED_TRACE(modemType);
        const std::string vrk = dir_.File("set" + std::to_string(modemType) + ".vrk");
        g_settings.AUTODETECT = 0;
        for (int channel = 0; channel < kChannelCount; ++channel) {
            g_settings.CH_PORT[channel] = channel % 3 == 0 ? 0 : 10 + channel + modemType;
        }
        g_settings.DELAY = 5 + modemType;
        g_settings.BAUDRATE = 115200 * (modemType + 1);
        Set(g_settings.VARKOFILE, vrk);
        const ImageSet written = FilledImageSet(modemType, dir_.path());
        g_imageSet = written;
        const Settings before = g_settings;

        bool ok = false;
        EXPECT_EQ(WriteSettings(&ok), 1);
        EXPECT_TRUE(ok);
        Scramble();
        g_imageSet = ImageSet{};
        ReadSettings(nullptr);

        EXPECT_EQ(g_settings.AUTODETECT, before.AUTODETECT);
        for (int channel = 0; channel < kChannelCount; ++channel) {
            EXPECT_EQ(g_settings.CH_PORT[channel], before.CH_PORT[channel]);
        }
        EXPECT_EQ(g_settings.DELAY, before.DELAY);
        EXPECT_EQ(g_settings.BAUDRATE, before.BAUDRATE);
        EXPECT_EQ(std::string(g_settings.VARKOFILE), vrk);
        EXPECT_EQ(g_imageSet.MTY, modemType);
        EXPECT_STREQ(g_imageSet.USBFILE, written.USBFILE);
        EXPECT_STREQ(g_imageSet.rows[kRowEtc2].address, written.rows[kRowEtc2].address);
        EXPECT_STREQ(g_imageSet.BOOTADDRESS, modemType == 2 ? "" : written.BOOTADDRESS);
        EXPECT_STREQ(g_imageSet.bootChain[kChainMibib1].address,
                     modemType == 2 ? written.bootChain[kChainMibib1].address : "");
    }
}

TEST_F(SettingsTest, BaudRateZeroMeansTheDefault) {
    WriteFile(Ini(), "[VARKO]\nBAUDRATE=0\n");
    ReadSettings(nullptr);
    EXPECT_EQ(g_settings.BAUDRATE, 1382400);
    WriteFile(Ini(), "[VARKO]\nBAUDRATE=115200\n");
    ReadSettings(nullptr);
    EXPECT_EQ(g_settings.BAUDRATE, 115200);
}

TEST_F(SettingsTest, DeletedImageSetFallsBackToTheDefaultWhichIsThenStored) {
    const std::string other = dir_.File("other.vrk");
    Set(g_settings.VARKOFILE, other);
    g_imageSet = FilledImageSet(1, dir_.path());
    WriteSettings();
    ASSERT_TRUE(std::filesystem::exists(other));
    ASSERT_EQ(StoredValue(Ini(), "VARKOFILE"), other);

    std::filesystem::remove(other);
    ReadSettings(nullptr);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), DefaultVrk());
    EXPECT_EQ(g_imageSet.MTY, 0);

    bool ok = false;
    WriteSettings(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(StoredValue(Ini(), "VARKOFILE"), DefaultVrk());
    EXPECT_EQ(StoredValue(DefaultVrk(), "MTY"), "0");
    EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(SettingsTest, WriteLeavesExactlyTheTwelveKeysInOrder) {
    Set(g_settings.VARKOFILE, DefaultVrk());
    g_settings.CH_PORT[3] = 4;
    WriteSettings();
    std::vector<std::string> names;
    for (const auto& [key, value] : SectionKeys(ReadFile(Ini()), "VARKO"))
        names.push_back(key);
    const std::vector<std::string> expected = {"AUTODETECT", "CH0_PORT", "CH1_PORT", "CH2_PORT",
                                               "CH3_PORT",   "CH4_PORT", "CH5_PORT", "CH6_PORT",
                                               "CH7_PORT",   "DELAY",    "BAUDRATE", "VARKOFILE"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(StoredValue(Ini(), "CH3_PORT"), "4");
    EXPECT_TRUE(std::filesystem::exists(DefaultVrk()));
}

TEST_F(SettingsTest, HandMadeFileKeepsEveryOtherByte) {
    const std::string original =
        "; Kelvane settings\r\n"
        "[PORTS]\r\n"
        "COM1=/dev/ttyUSB0\r\n"
        "\r\n"
        "[VARKO]\r\n"
        "; channel ports\r\n"
        "AUTODETECT = 0\r\n"
        "CH0_PORT=3\r\n"
        "OPERATOR=alice ; not ours\r\n"
        "BAUDRATE=115200\r\n"
        "\r\n"
        "[OTHER]\r\n"
        "DELAY=99\r\n";
    WriteFile(Ini(), original);
    ReadSettings(nullptr);
    EXPECT_EQ(g_settings.AUTODETECT, 0);
    EXPECT_EQ(g_settings.CH_PORT[0], 3);
    EXPECT_EQ(g_settings.DELAY, 2);  // DELAY of another section is not ours
    EXPECT_EQ(g_settings.BAUDRATE, 115200);

    g_settings.CH_PORT[1] = 5;
    g_settings.DELAY = 4;
    WriteSettings();
    const std::string expected =
        "; Kelvane settings\r\n"
        "[PORTS]\r\n"
        "COM1=/dev/ttyUSB0\r\n"
        "\r\n"
        "[VARKO]\r\n"
        "; channel ports\r\n"
        "AUTODETECT=0\r\n"
        "CH0_PORT=3\r\n"
        "OPERATOR=alice ; not ours\r\n"
        "BAUDRATE=115200\r\n"
        "CH1_PORT=5\r\nCH2_PORT=0\r\nCH3_PORT=0\r\nCH4_PORT=0\r\nCH5_PORT=0\r\n"
        "CH6_PORT=0\r\nCH7_PORT=0\r\nDELAY=4\r\nVARKOFILE=" +
        DefaultVrk() +
        "\r\n"
        "\r\n"
        "[OTHER]\r\n"
        "DELAY=99\r\n";
    EXPECT_EQ(ReadFile(Ini()), expected);
}

bool FailingCommit(const char*, const char*) {
    return false;
}

bool FailImageSetCommits(const char*, const char* finalPath) {
    return !std::string(finalPath).ends_with(".vrk");
}

TEST_F(SettingsTest, InterruptedWriteLeavesTheOldFiles) {
    Set(g_settings.VARKOFILE, DefaultVrk());
    g_settings.BAUDRATE = 921600;
    g_imageSet = FilledImageSet(0, dir_.path());
    WriteSettings();
    const std::string oldIni = ReadFile(Ini());
    const std::string oldVrk = ReadFile(DefaultVrk());
    const auto entries = config_test::FolderEntries(dir_.path());

    g_settings.BAUDRATE = 460800;
    g_imageSet.MTY = 2;
    platform::SetFileCommitHook(FailingCommit);
    bool ok = true;
    EXPECT_EQ(WriteSettings(&ok), 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFile(Ini()), oldIni);
    EXPECT_EQ(ReadFile(DefaultVrk()), oldVrk);
    EXPECT_EQ(config_test::FolderEntries(dir_.path()), entries);

    platform::SetFileCommitHook(FailImageSetCommits);
    ok = true;
    WriteSettings(&ok);
    EXPECT_FALSE(ok);  // the image set could not be stored
    EXPECT_EQ(StoredValue(Ini(), "BAUDRATE"), "460800");
    EXPECT_EQ(ReadFile(DefaultVrk()), oldVrk);
}

TEST_F(SettingsTest, WriteIntoMissingFolderFailsWithoutCreatingIt) {
    ASSERT_TRUE(SetStartDirectory(dir_.File("gone").c_str()));
    Set(g_settings.VARKOFILE, dir_.File("gone/default_3.vrk"));
    bool ok = true;
    EXPECT_EQ(WriteSettings(&ok), 1);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("gone")));
}

// A path of exactly 260 characters inside the temporary folder.
std::string PathOfLength260(const std::string& folder) {
    const size_t name = 260 - folder.size() - 1;
    return folder + "/" + std::string(name, 'v');
}

TEST_F(SettingsTest, StoredImageSetLongerThan260IsRefusedNotCut) {
    const std::string exact = PathOfLength260(dir_.path());
    ASSERT_EQ(exact.size(), 260u);
    WriteFile(exact, "[VARKO]\nMTY=1\n");
    // Cut to 260 characters the stored name would name the file above.
    WriteFile(Ini(), "[VARKO]\nVARKOFILE=" + exact + ".vrk\n");
    ReadSettings(nullptr);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), DefaultVrk());
    EXPECT_EQ(g_imageSet.MTY, 0);

    WriteFile(Ini(), "[VARKO]\nVARKOFILE=" + exact + "\n");  // exactly 260 fits
    ReadSettings(nullptr);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), exact);
    EXPECT_EQ(g_imageSet.MTY, 1);
}

TEST_F(SettingsTest, GivenImageSetIsUsedOnlyWhenItExistsAndFits) {
    const std::string stored = dir_.File("stored.vrk");
    const std::string given = dir_.File("given.vrk");
    WriteFile(stored, "[VARKO]\nMTY=1\n");
    WriteFile(given, "[VARKO]\nMTY=2\n");
    WriteFile(Ini(), "[VARKO]\nVARKOFILE=" + stored + "\n");

    ReadSettings(given.c_str());
    EXPECT_EQ(std::string(g_settings.VARKOFILE), given);
    EXPECT_EQ(g_imageSet.MTY, 2);

    ReadSettings(dir_.File("missing.vrk").c_str());
    EXPECT_EQ(std::string(g_settings.VARKOFILE), stored);
    EXPECT_EQ(g_imageSet.MTY, 1);

    const std::string deep = dir_.File(std::string(200, 'd'));
    std::filesystem::create_directory(deep);
    const std::string tooLong = deep + "/" + std::string(100, 'g');
    WriteFile(tooLong, "[VARKO]\nMTY=2\n");
    ReadSettings(tooLong.c_str());
    EXPECT_EQ(std::string(g_settings.VARKOFILE), stored);

    std::filesystem::create_directory(dir_.File("folder.vrk"));
    ReadSettings(dir_.File("folder.vrk").c_str());
    EXPECT_EQ(std::string(g_settings.VARKOFILE), stored);
}

TEST_F(SettingsTest, StartDirectoryMustLeaveRoomForItsFiles) {
    const std::string longest = "/" + std::string(245, 's');  // 246 + "/default_3.vrk" = 260
    EXPECT_TRUE(SetStartDirectory(longest.c_str()));
    EXPECT_EQ(std::string(g_szCurrentDir), longest);
    EXPECT_EQ(StartDirectoryFile(kDefaultImageSetFileName).size(), 260u);

    EXPECT_FALSE(SetStartDirectory((longest + "s").c_str()));
    EXPECT_FALSE(SetStartDirectory(""));
    EXPECT_FALSE(SetStartDirectory(nullptr));
    EXPECT_EQ(std::string(g_szCurrentDir), longest);

    EXPECT_TRUE(SetStartDirectory("/tmp/start//"));
    EXPECT_EQ(StartDirectoryFile(kSettingsFileName),
              platform::JoinPath("/tmp/start", "Kelvane_3.ini"));
    EXPECT_TRUE(SetStartDirectory("/"));
    EXPECT_EQ(StartDirectoryFile(kSettingsFileName), "/Kelvane_3.ini");

    const std::string here = std::filesystem::current_path().string();
    EXPECT_EQ(SetStartDirectoryFromProcess(), here.size() <= 246);
    if (here.size() <= 246) {
        EXPECT_EQ(std::string(g_szCurrentDir), here);
    }
}

TEST_F(SettingsTest, UnrecordedStartDirectoryMeansTheWorkingFolder) {
    g_szCurrentDir[0] = '\0';
    EXPECT_EQ(StartDirectoryFile(kSettingsFileName), platform::JoinPath(".", "Kelvane_3.ini"));
}

}  // namespace
