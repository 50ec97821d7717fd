// The display form of image paths: root, ellipsis, last folder and name;
// the last 46 characters once the name (or the last folder with it) reaches
// 40; whole when nothing would hide behind the ellipsis; empty for a path
// where nothing is found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/pty_peer.h"
#include "ui/downloader_core.h"

namespace {

namespace fs = std::filesystem;

std::string Touch(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    if (!folder.empty()) fs::create_directories(folder);
    std::ofstream(path) << "x";
    return path;
}

std::string Abbreviate(const std::string& path) {
    return ui::DownloaderCore::AbbreviatePath(path);
}

class UiAbbreviatePathTest : public ::testing::Test {
protected:
    testing_support::TempDir dir_;
};

TEST_F(UiAbbreviatePathTest, DeepPathsKeepRootLastFolderAndName) {
    const std::string modem = Touch(dir_.File("home/op/images/v2/modem.bin"));
    EXPECT_EQ(Abbreviate(modem), "/.../v2/modem.bin");

    // A folder is found as well: the Boot row shows its boot folder.
    EXPECT_EQ(Abbreviate(dir_.File("home/op/images/v2")), "/.../images/v2");
    EXPECT_EQ(Abbreviate(dir_.File("home/op/images/v2") + "/"), "/.../v2/");
}

TEST_F(UiAbbreviatePathTest, LongNamesShowTheLastFortySixCharacters) {
    // Last folder "v2", separator and name: 39 characters stay short...
    const std::string shortName = std::string(36, 'n');
    const std::string atLimit = Touch(dir_.File("a/b/v2/" + shortName));
    EXPECT_EQ(Abbreviate(atLimit), "/.../v2/" + shortName);

    // ...40 make the tail the last 46 characters.
    const std::string longerName = std::string(37, 'n');
    const std::string pastLimit = Touch(dir_.File("a/b/v2/" + longerName));
    EXPECT_EQ(Abbreviate(pastLimit), "/..." + pastLimit.substr(pastLimit.size() - 46));

    // A name of 40 characters on its own.
    const std::string longName = std::string(44, 'm') + ".bin";
    const std::string named = Touch(dir_.File("a/" + longName));
    EXPECT_EQ(Abbreviate(named), "/..." + named.substr(named.size() - 46));
    EXPECT_EQ(Abbreviate(named).size(), 4u + 46u);

    // A long last folder with a short name.
    const std::string folder = std::string(38, 'f');
    const std::string inLongFolder = Touch(dir_.File("a/" + folder + "/x.bin"));
    EXPECT_EQ(Abbreviate(inLongFolder), "/..." + inLongFolder.substr(inLongFolder.size() - 46));

    // A name in two-byte UTF-8 letters whose last 46 bytes begin inside one:
    // the tail begins at the next whole letter.
    std::string letters;
    for (int i = 0; i < 30; ++i)
        letters += "\xD0\x96";
    const std::string cyrillic = Touch(dir_.File("a/" + letters + ".bn"));
    EXPECT_EQ(Abbreviate(cyrillic), "/..." + cyrillic.substr(cyrillic.size() - 45));
}

TEST_F(UiAbbreviatePathTest, RootLevelPathsAreShownWhole) {
    EXPECT_EQ(Abbreviate("/tmp"), "/tmp");
    EXPECT_EQ(Abbreviate("/"), "/");
    // A folder right below a root-level one: nothing to hide.
    const std::string top = "/" + fs::path(dir_.path()).parent_path().filename().string();
    ASSERT_TRUE(fs::exists(top));
    EXPECT_EQ(Abbreviate(top), top);
}

TEST_F(UiAbbreviatePathTest, RelativeAndSeparatorFreePathsStayWithinTheString) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    Touch("modem.bin");
    Touch("images/v2/modem.bin");
    Touch("a/b/c/d.bin");
    const std::string longName = std::string(60, 'z') + ".bin";
    Touch(longName);
    const std::string shortFolderLongName = "d/" + std::string(41, 'y');
    Touch(shortFolderLongName);
    const std::string longRelative = "f/g/" + std::string(50, 'w') + ".bin";
    Touch(longRelative);

    EXPECT_EQ(Abbreviate("modem.bin"), "modem.bin");
    EXPECT_EQ(Abbreviate(longName), longName);
    EXPECT_EQ(Abbreviate("images/v2/modem.bin"), "images/v2/modem.bin");
    EXPECT_EQ(Abbreviate("a/b/c/d.bin"), "a/.../c/d.bin");
    // Long, but shorter than the 46-character tail: shown whole.
    EXPECT_EQ(Abbreviate(shortFolderLongName), shortFolderLongName);
    EXPECT_EQ(Abbreviate(longRelative), "f/..." + longRelative.substr(longRelative.size() - 46));
    fs::current_path(previous);
}

TEST_F(UiAbbreviatePathTest, NothingFoundGivesAnEmptyText) {
    EXPECT_EQ(Abbreviate(dir_.File("home/op/missing.bin")), "");
    EXPECT_EQ(Abbreviate("missing.bin"), "");
    EXPECT_EQ(Abbreviate(""), "");
}

}  // namespace
