// download --set and set show refuse an image set they cannot use in full,
// before anything is sent, naming what is wrong.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "tests/support/pty_peer.h"

namespace {

class CliSetFileTest : public ::testing::Test {
protected:
    using Command = int (*)(const std::vector<std::string>&);
    int Run(Command command, const std::vector<std::string>& args) {
        testing::internal::CaptureStderr();
        const int status = command(args);
        errors_ = testing::internal::GetCapturedStderr();
        return status;
    }
    void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& path) {
        std::ostringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }
    int Download(const std::string& set) {
        // Should a download start after all, its port is one that cannot open.
        Write(dir_.File("Kelvane_ports.ini"), "[PORTS]\nCOM1=" + dir_.File("no-such-port") + "\n");
        return Run(&cli::RunDownloadCommand, {"--set", set, "--port", "1", "--dir", dir_.path(),
                                              "--delay", "0", "--baud", "115200"});
    }
    testing_support::TempDir dir_;
    std::string errors_;
};

TEST_F(CliSetFileTest, DownloadRefusesMissingTickedFilesAndOverlongValues) {
    Write(dir_.File("m.bin"), std::string(4096, 'm'));
    const std::string modem = "[VARKO]\nCODECHECK=1\nCODEFILE=" + dir_.File("m.bin");
    Write(dir_.File("gone.vrk"), modem + "\nCODEADDRESS=1a0000\nFONTCHECK=1\nFONTFILE=" +
                                     dir_.File("gone.rc1") + "\nFONTADDRESS=800000\n");
    EXPECT_EQ(Download(dir_.File("gone.vrk")), 2);
    EXPECT_NE(errors_.find("Rsrc1 is ticked but its file " + dir_.File("gone.rc1") + " is missing"),
              std::string::npos)
        << errors_;

    // Cut to its field this address would read as 0.
    Write(dir_.File("zeros.vrk"), modem + "\nCODEADDRESS=" + std::string(3000, '0') + "1a0000\n");
    EXPECT_EQ(Download(dir_.File("zeros.vrk")), 2);
    EXPECT_NE(errors_.find("CODEADDRESS in " + dir_.File("zeros.vrk") + " is longer than 31"),
              std::string::npos)
        << errors_;
}

TEST_F(CliSetFileTest, SetShowMarksATickedRowWithAMissingFileAsTickedAndMissing) {
    Write(dir_.File("r.rc1"), std::string(4096, 'r'));
    Write(dir_.File("s.vrk"), "[VARKO]\nCODECHECK=1\nCODEFILE=" + dir_.File("gone.bin") +
                                  "\nCODEADDRESS=1a0000\nFONTCHECK=0\nFONTFILE=" +
                                  dir_.File("r.rc1") + "\nFONTADDRESS=800000\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run(&cli::RunSetCommand, {"show", dir_.File("s.vrk")}), 0);
    const std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("Modem     [x] kind -          address 1a0000   " + dir_.File("gone.bin") +
                         "  (missing)\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(
        shown.find("Rsrc1     [ ] kind -          address 800000   " + dir_.File("r.rc1") + "\n"),
        std::string::npos)
        << shown;
    EXPECT_EQ(Download(dir_.File("s.vrk")), 2);  // the row the listing marks is the one refused
}

TEST_F(CliSetFileTest, SetShowRefusesAFileOverOneMebibyteAndLeavesIt) {
    std::string big = "[VARKO]\nMTY=2\n";
    big.resize(1024 * 1024 + 1, '\n');
    Write(dir_.File("big.vrk"), big);
    EXPECT_EQ(Run(&cli::RunSetCommand, {"show", dir_.File("big.vrk")}), 2);
    EXPECT_NE(errors_.find(dir_.File("big.vrk") + " is larger than 1 MiB"), std::string::npos)
        << errors_;
    EXPECT_EQ(Read(dir_.File("big.vrk")), big);
}

}  // namespace
