// kelvane-cli as a station engineer runs it: exit status, printed lines, and
// Ctrl-C in the middle of a download.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ini.h"
#include "platform/port_map.h"
#include "platform/serial_port.h"
#include "sim/simulator.h"
#include "tests/cli/cli_run.h"
#include "tests/support/pty_peer.h"

namespace {

using clitest::CliRun;

using testing_support::TempDir;

class CliProgramTest : public ::testing::Test {
protected:
    void StartHandsets(int count, uint32_t baud, std::vector<std::string> faults = {}) {
        sim::SimOptions options;
        options.channels = count;
        options.dir = dir_.path();
        options.baud = baud;
        for (const std::string& text : faults) {
            sim::FaultRule rule;
            std::string error;
            ASSERT_TRUE(sim::ParseFault(text, &rule, &error)) << error;
            options.faults.push_back(rule);
        }
        simulator_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator_->Start(&error)) << error;
    }
    std::string MakeImage(const std::string& name, const std::string& size) {
        const std::string path = dir_.File(name);
        CliRun make({"make-image", path, "--size", size, "--address", "20000"});
        EXPECT_EQ(make.Wait(), 0) << make.output();
        return path;
    }
    TempDir dir_;
    std::unique_ptr<sim::Simulator> simulator_;
};

TEST_F(CliProgramTest, ExitStatusTellsWhetherEveryChannelCompleted) {
    StartHandsets(2, 0, {"ch1:nak-err=7@2"});
    const std::string image = MakeImage("m.bin", "100K");
    CliRun ok({"download", "--port", "1", "--image", "Modem=" + image, "--dir", dir_.path(),
               "--delay", "0", "--baud", "115200"});
    EXPECT_EQ(ok.Wait(), 0) << ok.output();
    EXPECT_NE(ok.output().find("[CH0] CH0 Download Start"), std::string::npos);
    EXPECT_NE(ok.output().find("message: Download Completed!!"), std::string::npos);
    EXPECT_NE(ok.output().find("CH0 COM1 OK"), std::string::npos);

    CliRun failing({"download", "--port", "1,2", "--image", "8=" + image + "@20000", "--dir",
                    dir_.path(), "--delay", "0", "--baud", "115200"});
    EXPECT_EQ(failing.Wait(), 1) << failing.output();
    EXPECT_NE(failing.output().find("[CH1] CH1 ERR: [0,1]"), std::string::npos);
    EXPECT_NE(failing.output().find("CH1 COM2 FAILED"), std::string::npos);

    CliRun bad({"download", "--port", "1", "--image", "Modem=" + dir_.File("none.bin")});
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_EQ(bad.output(), "kelvane-cli download: cannot read " + dir_.File("none.bin") + "\n");
    CliRun unknown({"frobnicate"});
    EXPECT_EQ(unknown.Wait(), 2);
}

TEST_F(CliProgramTest, EveryCommandAnswersHelpWithItsOwnUsage) {
    const std::vector<std::vector<std::string>> asked = {
        {"download", "--help"},  {"download", "--port", "1", "-h"},
        {"trailer", "--help"},   {"records", "--help"},
        {"ports", "--help"},     {"set", "show", "--help"},
        {"udev-rule", "--help"}, {"make-image", "--help"}};
    for (const std::vector<std::string>& args : asked) {
        CliRun help(args);
        EXPECT_EQ(help.Wait(), 0) << args[0] << ": " << help.output();
        EXPECT_EQ(help.output().rfind("Usage: kelvane-cli " + args[0] + " ", 0), 0u)
            << help.output();
        EXPECT_NE(help.output().find("\n  " + args[0]), std::string::npos) << help.output();
        EXPECT_EQ(help.output().find("commands:"), std::string::npos) << help.output();
    }
}

TEST_F(CliProgramTest, APortThatDoesNotOpenIsToldWithItsDeviceAndTheReason) {
    StartHandsets(1, 0);  // COM1, held below as another program would hold it
    const std::string image = MakeImage("m.bin", "10K");
    const std::string map = dir_.File("Kelvane_ports.ini");
    platform::IniWriteString("PORTS", "COM2", dir_.File("no-such-port").c_str(), map.c_str());
    platform::IniWriteString("PORTS", "COM3", image.c_str(), map.c_str());  // no serial line
    platform::PortMap_SetDirectory(dir_.path());
    platform::SerialPort held;
    int error = 0;
    ASSERT_EQ(held.OpenCom(1, 115200, &error), platform::SerialPort::OpenResult::kOk) << error;

    CliRun run({"download", "--port", "1,2,3", "--image", "Modem=" + image, "--dir", dir_.path(),
                "--delay", "0", "--baud", "115200"});
    EXPECT_EQ(run.Wait(), 1) << run.output();
    for (const std::string& line :
         {std::string("status: SERIAL_DEVICE_Open(COM2) Failed!\n"),
          "[CH0] COM1: " + platform::PortMap_DevicePath(1) + ": in use by another program\n",
          "[CH1] COM2: " + dir_.File("no-such-port") + ": No such file or directory\n",
          "[CH2] COM3: " + image +
              ": the line cannot be set up (Inappropriate ioctl for device)\n"})
        EXPECT_NE(run.output().find(line), std::string::npos) << line << run.output();
}

// Which files are no images is the image table's to tell; here, that the
// command stops before anything is sent.
TEST_F(CliProgramTest, AnEmptyImageIsRefusedBeforeAnythingIsSent) {
    StartHandsets(1, 0);
    const std::string path = dir_.File("empty.bin");
    std::ofstream{path};
    CliRun run({"download", "--port", "1", "--image", "Modem=" + path + "@20000", "--dir",
                dir_.path(), "--delay", "0", "--baud", "115200"});
    EXPECT_EQ(run.Wait(), 2) << run.output();
    EXPECT_EQ(run.output().rfind("kelvane-cli download: ", 0), 0u) << run.output();
    EXPECT_NE(run.output().find(path + " at 20000\n"), std::string::npos) << run.output();
    EXPECT_EQ(simulator_->Stats(0).bytesReceived, 0u);
}

TEST_F(CliProgramTest, MakeImageReplacesOnlyARegularFileAndOnlyWithForce) {
    const std::string fifo = dir_.File("fifo.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody reads it
    const std::string image = MakeImage("m.bin", "1K");
    struct Case {
        std::string path;
        bool force;
        int status;
        std::string output;
        uintmax_t sizeAfter;  // of image
    };
    const std::string kUsage = "kelvane-cli make-image: ";
    const Case cases[] = {
        {fifo, false, 2, kUsage + fifo + " is not a regular file: only files are written\n", 2048},
        {fifo, true, 2, kUsage + fifo + " is not a regular file: only files are written\n", 2048},
        {image, false, 2, kUsage + image + " exists: give --force to overwrite it\n", 2048},
        {image, true, 0, "", 3072},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"make-image", c.path, "--size", "2K", "--address", "0"};
        if (c.force) args.push_back("--force");
        CliRun run(args);
        EXPECT_EQ(run.Wait(10000), c.status) << c.path;
        EXPECT_EQ(run.output(), c.output);
        EXPECT_EQ(std::filesystem::file_size(image), c.sizeAfter) << c.path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(CliProgramTest, AClosedOutputDoesNotStopTheFlash) {
    StartHandsets(1, 0);
    const std::string image = MakeImage("m.bin", "100K");
    CliRun run({"download", "--port", "1", "--image", "Modem=" + image, "--dir", dir_.path(),
                "--delay", "0", "--baud", "115200"},
               true);
    EXPECT_EQ(run.Wait(), 0);  // not killed by SIGPIPE (exit 141 in a shell)
    EXPECT_TRUE(simulator_->Handset(0).WaitUntil(
        [](const sim::HandsetStats& s) { return s.gos == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(simulator_->Stats(0).writes, 7u);
}

TEST_F(CliProgramTest, AutoTakesTheHandsetPortsItFinds) {
    StartHandsets(2, 0);  // pinned as COM1 and COM2, named kvmodem-sim<k>
    const std::string image = MakeImage("m.bin", "40K");
    const std::vector<std::string> args = {"download", "--auto",    "--image", "Modem=" + image,
                                           "--dir",    dir_.path(), "--delay", "0",
                                           "--baud",   "115200"};
    CliRun found(args);
    EXPECT_EQ(found.Wait(), 0) << found.output();
    EXPECT_NE(found.output().find("CH0 COM1 OK"), std::string::npos) << found.output();
    EXPECT_NE(found.output().find("CH1 COM2 OK"), std::string::npos) << found.output();

    simulator_.reset();  // the handsets leave the port map
    CliRun none(args);
    EXPECT_EQ(none.Wait(), 2);
    EXPECT_EQ(none.output(), "kelvane-cli download: --auto found no handset port\n");
}

TEST_F(CliProgramTest, CtrlCStopsEveryChannelAndClosesThePorts) {
    StartHandsets(2, 115200);  // slow enough to be interrupted
    const std::string image = MakeImage("big.bin", "2M");
    CliRun run({"download", "--port", "1,2", "--image", "8=" + image, "--dir", dir_.path()});
    ASSERT_TRUE(run.WaitForOutput("Erase Flash")) << run.output();
    run.Interrupt();
    EXPECT_EQ(run.Wait(), 1) << run.output();
    EXPECT_NE(run.output().find("interrupted: every channel stopped"), std::string::npos);
    EXPECT_NE(run.output().find("CH0 COM1 FAILED"), std::string::npos);
    // The ports are free again: another run opens them (the handset may still
    // be busy with the interrupted image, so its unlock is not asked for).
    CliRun again({"download", "--port", "1,2", "--image", "8=" + MakeImage("s.bin", "1K"), "--dir",
                  dir_.path(), "--baud", "115200"});
    again.Wait();
    EXPECT_NE(again.output().find("[CH1] CH1 Download Start"), std::string::npos);
    EXPECT_EQ(again.output().find("ERR: Open"), std::string::npos) << again.output();
}

}  // namespace
