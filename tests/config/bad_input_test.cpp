// Files the operator or a crash may leave behind: whatever they hold, reading
// never fails, never runs past a field, and unusable values read as defaults.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "config/image_set.h"
#include "config/settings.h"
#include "tests/config/config_test_util.h"

namespace {

using config_test::ConfigTest;
using config_test::FilledImageSet;
using config_test::ReadFile;
using config_test::Set;
using config_test::StoredValue;
using config_test::WriteFile;

class BadInputTest : public ConfigTest {
protected:
    std::string Ini() const { return dir_.File("Kelvane_3.ini"); }
    std::string Vrk() const { return dir_.File("set.vrk"); }
};

template <size_t N>
void ExpectTerminated(const char (&field)[N]) {
    EXPECT_NE(std::memchr(field, '\0', N), nullptr);
}

void ExpectEveryTextTerminated(const ImageSet& set) {
    ExpectTerminated(set.BOOTKIND);
    ExpectTerminated(set.BOOTFILE);
    ExpectTerminated(set.BOOTLOADERFILE);
    ExpectTerminated(set.BOOTADDRESS);
    for (const BootChainEntry& entry : set.bootChain) {
        ExpectTerminated(entry.path);
        ExpectTerminated(entry.address);
    }
    ExpectTerminated(set.USBKIND);
    ExpectTerminated(set.USBFILE);
    ExpectTerminated(set.USBADDRESS);
    ExpectTerminated(set.BINARYFULLPATH);
    for (const ImageSetSlot& slot : set.rows) {
        ExpectTerminated(slot.kind);
        ExpectTerminated(slot.file);
        ExpectTerminated(slot.address);
    }
}

bool Mentions(const config::ReadProblems& problems, const std::string& text) {
    for (const config::ReadProblem& problem : problems)
        if (problem.text.find(text) != std::string::npos) return true;
    return false;
}

TEST_F(BadInputTest, ValuesLongerThanTheirFieldsAreRefusedNamingTheKey) {
    const std::string huge(5000, 'x');
    // Cut to 31 characters this address would be 0; cut to 260 this path
    // would name an existing image.
    const std::string image = dir_.File("m.bin");
    config_test::MakeImage(image, 0x1a0000);
    std::string text = "[VARKO]\nMTY=2\nBOOTKIND=" + huge + "\nBOOTFILE=" + huge +
                       "\nPBLADDRESS=" + huge + "\nUSBADDRESS=" + huge +
                       "\nBINARYFULLPATH=" + huge + "\nCODEFILE=" + image +
                       "\nCODEADDRESS=" + std::string(3000, '0') + "2a0000\nFONTFILE=" + image +
                       std::string(300, '/') + "\nETC2FILE=" + huge + "\n";
    WriteFile(Vrk(), text);
    config::ReadProblems problems;
    ReadImageSet(Vrk().c_str(), &problems);
    ExpectEveryTextTerminated(g_imageSet);
    EXPECT_STREQ(g_imageSet.BOOTKIND, "");
    EXPECT_STREQ(g_imageSet.bootChain[kChainPbl].path, "");
    EXPECT_STREQ(g_imageSet.rows[kRowCode].address, "");  // not the trailer's either
    EXPECT_STREQ(g_imageSet.rows[kRowFont].file, "");
    EXPECT_STREQ(g_imageSet.rows[kRowEtc2].file, "");
    for (const char* key : {"BOOTKIND", "BOOTFILE", "PBLADDRESS", "USBADDRESS", "BINARYFULLPATH",
                            "CODEADDRESS", "FONTFILE", "ETC2FILE"}) {
        EXPECT_TRUE(Mentions(problems, std::string(key) + " in " + Vrk())) << key;
    }
    EXPECT_EQ(problems.size(), 8u);
    EXPECT_TRUE(prompt_.texts.empty());

    WriteFile(Ini(), "[VARKO]\nVARKOFILE=" + huge + "\nBAUDRATE=" + std::string(3000, '9') + "\n");
    problems.clear();
    ReadSettings(nullptr, &problems);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), dir_.File("default_3.vrk"));
    EXPECT_EQ(g_settings.BAUDRATE, INT_MAX);
    EXPECT_TRUE(Mentions(problems, "VARKOFILE in " + Ini() + " is longer than 260 characters"));
}

TEST_F(BadInputTest, FilesOverOneMebibyteAreRefusedAndNeverRewritten) {
    std::string big = "[VARKO]\nMTY=2\nCODEFILE=/x\nDELAY=9\n";
    big.resize(2 * 1024 * 1024, '\n');
    WriteFile(Vrk(), big);
    WriteFile(Ini(), big);
    config::ReadProblems problems;
    ReadSettings(Vrk().c_str(), &problems);
    EXPECT_EQ(g_settings.DELAY, 2);
    EXPECT_EQ(g_imageSet.MTY, 0);
    EXPECT_TRUE(Mentions(problems, Ini() + " is larger than 1 MiB"));
    EXPECT_TRUE(Mentions(problems, Vrk() + " is larger than 1 MiB"));
    bool written = true;
    WriteSettings(&written);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(Vrk()), big);
    EXPECT_EQ(ReadFile(Ini()), big);
}

TEST_F(BadInputTest, UnusableNumbersReadAsDefaults) {
    WriteFile(Ini(),
              "[VARKO]\nAUTODETECT=yes\nCH0_PORT=COM3\nCH1_PORT=-4\nCH2_PORT=12abc\nCH3_PORT=\n"
              "DELAY=slow\nBAUDRATE=fast\n");
    ReadSettings(nullptr);
    EXPECT_EQ(g_settings.AUTODETECT, 1);
    EXPECT_EQ(g_settings.CH_PORT[0], 0);
    EXPECT_EQ(g_settings.CH_PORT[1], 0);
    EXPECT_EQ(g_settings.CH_PORT[2], 12);
    EXPECT_EQ(g_settings.CH_PORT[3], 0);
    EXPECT_EQ(g_settings.DELAY, 2);
    EXPECT_EQ(g_settings.BAUDRATE, 1382400);

    WriteFile(Ini(), "[VARKO]\nDELAY=5000\nBAUDRATE=-9600\n");
    ReadSettings(nullptr);
    EXPECT_EQ(g_settings.DELAY, 2);
    EXPECT_EQ(g_settings.BAUDRATE, 1382400);

    WriteFile(Vrk(), "[VARKO]\nMTY=two\nCODECHECK=on\nFONTCHECK=1x\n");
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(g_imageSet.MTY, 0);
    EXPECT_EQ(g_imageSet.rows[kRowCode].check, 0);
    EXPECT_EQ(g_imageSet.rows[kRowFont].check, 1);
}

TEST_F(BadInputTest, NegativeModemTypeSurvivesARoundTrip) {
    // Any type other than 0 and 2 means no boot image; it must not turn into 0.
    ImageSet set = FilledImageSet(-1, dir_.path());
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), set));
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(g_imageSet.MTY, -1);
    EXPECT_STREQ(g_imageSet.BOOTADDRESS, set.BOOTADDRESS);
}

TEST_F(BadInputTest, StrayLinesOtherSectionsAndDuplicatesAreHandled) {
    WriteFile(Vrk(),
              "MTY=2\n"  // outside any section
              "CODEFILE=/outside\n"
              "[OTHER]\nCODEKIND=other\n"
              "[VARKO]\n"
              "just some words\n"  // no '='
              "CODEKIND\n"
              "=orphan value\n"
              "CODEKIND=first\n"
              "CODEKIND=second\n"  // the first one wins
              "  codefile = \"/quoted path\"  \n"
              "CODEADDRESS='a1'\n");
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(g_imageSet.MTY, 0);
    EXPECT_STREQ(g_imageSet.rows[kRowCode].kind, "first");
    EXPECT_STREQ(g_imageSet.rows[kRowCode].file, "/quoted path");
    EXPECT_STREQ(g_imageSet.rows[kRowCode].address, "a1");
}

TEST_F(BadInputTest, TruncatedFileKeepsWhatWasComplete) {
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), FilledImageSet(0, dir_.path())));
    const std::string whole = ReadFile(Vrk());
    const size_t cut = whole.find("FONTFILE=") + std::strlen("FONTFILE=") + 4;
    WriteFile(Vrk(), whole.substr(0, cut));  // ends in the middle of a line
    ReadImageSet(Vrk().c_str());
    EXPECT_STREQ(g_imageSet.rows[kRowCode].kind, "KINDCODE");
    EXPECT_EQ(std::string(g_imageSet.rows[kRowFont].file), dir_.path().substr(0, 4));
    EXPECT_STREQ(g_imageSet.rows[kRowFont].address, "");
    EXPECT_STREQ(g_imageSet.rows[kRowEtc2].kind, "");

    WriteFile(Vrk(), "");
    ReadImageSet(Vrk().c_str());
    EXPECT_EQ(g_imageSet.MTY, 0);
}

TEST_F(BadInputTest, BinaryFilesReadWithoutHarmAndCanBeRewritten) {
    std::mt19937 random(1234);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::string bytes = "[VARKO]\nCODEKIND=";
        for (int i = 0; i < 6000; ++i)
            bytes += static_cast<char>(random() & 0xFF);
        if (round % 2 == 1) bytes = bytes.substr(8);  // without the section header too
        WriteFile(Vrk(), bytes);
        WriteFile(Ini(), bytes);
        ReadSettings(Vrk().c_str());
        ExpectEveryTextTerminated(g_imageSet);
        ExpectTerminated(g_settings.VARKOFILE);
        EXPECT_GT(g_settings.BAUDRATE, 0);
        EXPECT_GE(g_settings.DELAY, 0);
        EXPECT_LE(g_settings.DELAY, kMaxDelay);
    }
    bool ok = false;
    WriteSettings(&ok);
    EXPECT_TRUE(ok);
    ReadSettings(nullptr);
    EXPECT_EQ(std::string(g_settings.VARKOFILE), Vrk());
}

TEST_F(BadInputTest, UnterminatedFieldsAreWrittenOnlyUpToTheirSize) {
    ImageSet set{};
    std::memset(set.USBKIND, 'k', sizeof set.USBKIND);  // no NUL anywhere
    std::memset(set.USBFILE, 'f', sizeof set.USBFILE);
    ASSERT_TRUE(WriteImageSet(Vrk().c_str(), set));
    EXPECT_EQ(StoredValue(Vrk(), "USBKIND"), std::string(31, 'k'));
    EXPECT_EQ(StoredValue(Vrk(), "USBFILE"), std::string(260, 'f'));

    std::memset(g_settings.VARKOFILE, 'p', sizeof g_settings.VARKOFILE);
    WriteSettings();
    EXPECT_EQ(StoredValue(Ini(), "VARKOFILE"), std::string(260, 'p'));
}

}  // namespace
