// Command-line options and the choices made before anything is sent.
#include "cli/options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "cli/image_set_choice.h"
#include "cli/ports.h"
#include "config/image_set_slots.h"
#include "tests/support/pty_peer.h"

namespace {

using Args = std::vector<std::string>;

std::string ParseError(const Args& args) {
    cli::DownloadOptions options;
    std::string error;
    return cli::ParseDownload(args, &options, &error) ? "" : error;
}

TEST(CliOptionsTest, DownloadArgumentsAreCheckedBeforeAnythingIsSent) {
    cli::DownloadOptions options;
    std::string error;
    ASSERT_TRUE(cli::ParseDownload(
        {"--port", "3,4", "--port", "12", "--image", "modem=/img/a@b.bin@1A0000", "--image",
         "9=/img/r1", "--baud", "115200", "--delay", "0", "--restart"},
        &options, &error))
        << error;
    EXPECT_EQ(options.ports, (std::vector<int>{3, 4, 12}));
    ASSERT_EQ(options.images.size(), 2u);
    EXPECT_EQ(options.images[0].slot, 8);
    EXPECT_EQ(options.images[0].path, "/img/a@b.bin");
    EXPECT_EQ(options.images[0].address, "1A0000");
    EXPECT_EQ(options.images[1].slot, 9);
    EXPECT_EQ(options.images[1].address, "");
    EXPECT_EQ(options.baud, 115200);
    EXPECT_TRUE(options.delayGiven);
    EXPECT_TRUE(options.restart);

    EXPECT_NE(ParseError({"--port", "0", "--image", "8=/x"}), "");
    EXPECT_NE(ParseError({"--port", "3,3", "--image", "8=/x"}), "");
    EXPECT_NE(ParseError({"--port", "1,2,3,4,5,6,7,8,9", "--image", "8=/x"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "Modem=/x", "--image", "8=/y"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "Modem2=/x"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "12=/x"}), "");
    EXPECT_NE(ParseError({"--port", "1"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--auto", "--image", "8=/x"}), "");
    EXPECT_NE(ParseError({"--set", "a.vrk", "--image", "8=/x"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "8=/x", "--baud", "fast"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "8=/x", "--delay"}), "");
    EXPECT_NE(ParseError({"--port", "1", "--image", "8=/x", "--bogus", "1"}), "");
    EXPECT_EQ(cli::SlotFromText("rsrc2"), 10);
    EXPECT_EQ(cli::SlotFromText("FileSys"), 11);
    EXPECT_EQ(cli::SlotFromText("ETC"), -1);
}

TEST(CliOptionsTest, ImageSetRowNamesNameTheirSlots) {
    // Every row set show lists by name can be given to --image by that name.
    for (const config::RowSlot& row : config::kRowSlots) {
        const std::string name = ImageSetRowName(row.row);
        EXPECT_EQ(cli::SlotFromText(name), row.slot) << name;
        cli::DownloadOptions options;
        std::string error;
        ASSERT_TRUE(cli::ParseDownload({"--port", "1", "--image", name + "=/x"}, &options, &error))
            << name << ": " << error;
        EXPECT_EQ(options.images[0].slot, row.slot);
    }
    EXPECT_EQ(cli::SlotFromText("factoryfs"), 11);
    EXPECT_EQ(cli::SlotFromText("FOTA"), -1);  // kept in the set, never downloaded
    EXPECT_NE(ParseError({"--port", "1", "--image", "FileSys=/x", "--image", "FactoryFS=/y"}), "");
}

TEST(CliOptionsTest, ImagesWithoutAnAddressNeedATrailer) {
    testing_support::TempDir dir;
    const std::string plain = dir.File("plain.bin");
    FILE* f = std::fopen(plain.c_str(), "wb");
    std::fputs("no trailer here", f);
    std::fclose(f);
    cli::DownloadOptions options;
    std::string error;
    ASSERT_TRUE(cli::ParseDownload({"--port", "1", "--image", "8=" + plain}, &options, &error));
    EXPECT_FALSE(cli::ResolveImages(&options, &error));
    EXPECT_NE(error.find("has no trailer"), std::string::npos);

    options.images[0].path = dir.File("missing.bin");
    options.images[0].address = "0";
    EXPECT_FALSE(cli::ResolveImages(&options, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(CliOptionsTest, FifosDevicesAndRangesPast4GiBAreRefused) {
    testing_support::TempDir dir;
    const std::string big = dir.File("big.bin");
    FILE* f = std::fopen(big.c_str(), "wb");
    std::fwrite(std::string(100 * 1024, 'x').data(), 1, 100 * 1024, f);
    std::fclose(f);
    for (const std::string& path : testing_support::NonRegularFiles(dir)) {
        cli::DownloadOptions options;
        std::string error;
        ASSERT_TRUE(cli::ParseDownload({"--port", "1", "--image", "8=" + path}, &options, &error));
        EXPECT_FALSE(cli::ResolveImages(&options, &error));
        EXPECT_EQ(error, path + " is not a regular file: only files are images");
    }
    cli::DownloadOptions options;
    std::string error;
    ASSERT_TRUE(
        cli::ParseDownload({"--port", "1", "--image", "8=" + big + "@FFFF0000"}, &options, &error));
    EXPECT_FALSE(cli::ResolveImages(&options, &error));
    EXPECT_NE(error.find("does not fit below 4 GiB"), std::string::npos) << error;
}

TEST(CliOptionsTest, MistakesNameWhatIsWrong) {
    testing_support::TempDir dir;
    EXPECT_EQ(ParseError({"--port", "1", "--image", "8=/x", "--foo"}), "unknown option '--foo'");
    EXPECT_EQ(ParseError({"--port", "1", "--image", "8=/x", "--dir", dir.File("none")}),
              "--dir: no folder '" + dir.File("none") + "'");
    cli::DownloadOptions options;
    std::string error;
    ASSERT_TRUE(cli::ParseDownload({"--port", "1", "--image", "8=m.bin@ZZZ", "--dir", dir.path()},
                                   &options, &error));
    EXPECT_FALSE(cli::ResolveImages(&options, &error));
    EXPECT_EQ(error.rfind("bad address 'ZZZ' in m.bin@ZZZ", 0), 0u) << error;
}

TEST(CliOptionsTest, AnImageSetGivesTheRowsTheWindowWouldSend) {
    testing_support::TempDir dir;
    const std::string file = dir.File("m.bin");
    FILE* f = std::fopen(file.c_str(), "wb");
    std::fputs("image", f);
    std::fclose(f);
    ImageSet set{};
    std::vector<cli::ImageChoice> images;
    std::string error;
    EXPECT_FALSE(cli::ChooseFromImageSet(set, &images, &error));
    EXPECT_EQ(error, "Select Image !");

    set.rows[kRowCode].check = 1;
    std::strcpy(set.rows[kRowCode].file, file.c_str());
    EXPECT_FALSE(cli::ChooseFromImageSet(set, &images, &error));
    EXPECT_EQ(error, "Invalid Modem Image/Address !");

    std::strcpy(set.rows[kRowCode].address, "1a0000");
    set.rows[kRowEtc2].check = 1;  // FOTA is never sent
    std::strcpy(set.rows[kRowEtc2].file, file.c_str());
    std::strcpy(set.rows[kRowEtc2].address, "900000");
    set.BOOTCHECK = 1;  // a loaded set never ticks Boot
    ASSERT_TRUE(cli::ChooseFromImageSet(set, &images, &error)) << error;
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].slot, 8);
    EXPECT_EQ(images[0].address, "1a0000");

    // A ticked row whose file is gone refuses the whole set: never less than
    // it asks for.
    set.rows[kRowFont].check = 1;
    std::strcpy(set.rows[kRowFont].file, dir.File("gone.rc1").c_str());
    std::strcpy(set.rows[kRowFont].address, "800000");
    images.clear();
    EXPECT_FALSE(cli::ChooseFromImageSet(set, &images, &error));
    EXPECT_EQ(error, "Rsrc1 is ticked but its file " + dir.File("gone.rc1") + " is missing");
    EXPECT_TRUE(images.empty());
}

class FakePorts : public platform::SerialPortSource {
public:
    std::vector<platform::SerialPortInfo> ports;
    std::vector<platform::SerialPortInfo> List() override { return ports; }
};

TEST(CliOptionsTest, PortSearchTakesHandsetPortsOncePerChannel) {
    FakePorts source;
    for (int n = 1; n <= 9; ++n)
        source.ports.push_back({"kvmodem-sim" + std::to_string(n), n + 20, ""});
    source.ports.insert(source.ports.begin() + 2, {"kvmodem", 40, ""});
    source.ports.insert(source.ports.begin() + 1, {"other kvmodem-x", 21, ""});  // same port again
    source.ports.push_back({"usb serial", 50, ""});
    EXPECT_EQ(cli::SearchHandsetPorts(source), (std::vector<int>{21, 22, 23, 24, 25, 26, 27, 28}));
}

}  // namespace
