// kelvane-cli station on a line of handsets that come and go, played by the
// kelvane-sim program: result lines, JSON events, exit status and Ctrl-C.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/cli/cli_run.h"
#include "tests/support/pty_peer.h"

namespace {

using clitest::CliRun;
using testing_support::TempDir;

class StationProgramTest : public ::testing::Test {
protected:
    // kelvane-sim --swap on COM1.., serving until the test ends.
    void StartLine(int channels, int handsets, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--swap",
                                      "--channels",
                                      std::to_string(channels),
                                      "--handsets",
                                      std::to_string(handsets),
                                      "--swap-ms",
                                      "300",
                                      "--dir",
                                      dir_.path()};
        args.insert(args.end(), more.begin(), more.end());
        sim_ = std::make_unique<CliRun>(args, false, KELVANE_SIM_PATH);
        ASSERT_TRUE(sim_->WaitForOutput("COM" + std::to_string(channels) + " ")) << sim_->output();
    }
    void StopLine() {
        if (!sim_) return;
        sim_->Interrupt();
        EXPECT_EQ(sim_->Wait(), 0) << sim_->output();
        sim_.reset();
    }
    void TearDown() override { StopLine(); }
    std::string Image(const std::string& size) {
        const std::string path = dir_.File("m" + size + ".bin");
        CliRun make({"make-image", path, "--size", size, "--address", "100000"});
        EXPECT_EQ(make.Wait(), 0) << make.output();
        return path;
    }
    std::vector<std::string> Station(std::vector<std::string> more, const std::string& image) {
        std::vector<std::string> args{"station", "--image", "Modem=" + image, "--dir", dir_.path(),
                                      "--delay", "0"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    static int Count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }
    TempDir dir_;
    std::unique_ptr<CliRun> sim_;
};

TEST_F(StationProgramTest, ResultsJsonEventsCountAndExitStatus) {
    // Eight slots of two handsets each; the second handset of CH1 is faulty.
    StartLine(8, 2, {"--fault", "ch1:h2:mute-unlock"});
    const std::string image = Image("64K");
    CliRun json(Station({"--port", "1,2,3,4,5,6,7,8", "--json", "--count", "15"}, image));
    EXPECT_EQ(json.Wait(), 1) << json.output();  // one handset failed
    const std::string& out = json.output();
    EXPECT_EQ(Count(out, "{\"event\":\"passed\","), 15) << out;
    EXPECT_EQ(Count(out, "{\"event\":\"failed\",\"channel\":1,\"com\":2,"), 1) << out;
    EXPECT_EQ(Count(out, "{\"event\":\"stopped\","), 8) << out;
    // Every attempt is a station record, and the records count as the line did.
    CliRun records({"records", "--format", "json", "--dir", dir_.path()});
    EXPECT_EQ(records.Wait(), 0) << records.output();
    EXPECT_EQ(Count(records.output(), "\"mode\":\"station\""), 16) << records.output();
    EXPECT_EQ(Count(records.output(), "\"result\":\"completed\""), 15) << records.output();
    const std::regex event(
        R"re(\{"event":"(arrived|started|progress|gone|stopped|passed|failed)","channel":[0-7],)re"
        R"re("com":[1-8],"identity":"[^"]*","time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"(.*)\})re");
    int events = 0;
    for (const std::string& line : json.Lines()) {
        if (line.rfind("{", 0) != 0) continue;
        ++events;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, event)) << line;
        const std::string kind = m[1];
        const bool result = kind == "passed" || kind == "failed";
        EXPECT_EQ(m[2].str().find(",\"seconds\":") != std::string::npos, result) << line;
        EXPECT_EQ(m[2].str().find(",\"attempt\":0") != std::string::npos,
                  result || kind == "started")
            << line;
    }
    EXPECT_GE(events, 16 * 3 + 8);  // arrived, started, result each; stopped per slot
    EXPECT_NE(out.find("\"text\":\"ERR: Unlock\""), std::string::npos);

    // Without --json: one line per handset's result.
    StopLine();
    StartLine(2, 1);
    CliRun plain(Station({"--port", "1,2", "--count", "1"}, image));
    EXPECT_EQ(plain.Wait(), 0) << plain.output();
    const std::regex line(
        R"re(\d{4}-\d\d-\d\dT[\d:.]+Z CH1 COM2 \S+ PASSED "CH1 All file Complete! \[\d+ sec\]" [\d.]+s)re");
    EXPECT_TRUE(std::regex_search(plain.output(), line)) << plain.output();

    for (const char* wrong : {"--retries", "--for"}) {  // 600000 hours would overflow
        CliRun bad(Station({"--port", "1", wrong, wrong[2] == 'r' ? "x" : "600000h"}, image));
        EXPECT_EQ(bad.Wait(), 2) << wrong << ": " << bad.output();
        EXPECT_NE(bad.output().find(std::string(wrong) + " takes"), std::string::npos)
            << bad.output();
    }
    // A port that is there but does not open is told, and the run fails.
    const std::string notALine = dir_.File("not-a-line");
    std::ofstream(notALine) << "x";
    testing_support::PinPort(dir_.path(), 9, notALine);
    CliRun refused(Station({"--port", "9", "--for", "1s"}, image));
    EXPECT_EQ(refused.Wait(), 1) << refused.output();
    EXPECT_EQ(Count(refused.output(), "ERR: Open COM9: " + notALine), 1) << refused.output();
    CliRun missing(Station({"--port", "1"}, dir_.File("none.bin")));
    EXPECT_EQ(missing.Wait(), 2);
    EXPECT_EQ(missing.output().find("Download Start"), std::string::npos);
}

// The first Ctrl-C lets the flash in progress pass; a second stops it at
// once, and the next run's first handset passes.
TEST_F(StationProgramTest, FirstCtrlCFinishesSecondStopsAndTheNextRunPasses) {
    StartLine(1, 3, {"--baud", "460800"});
    const std::string image = Image("192K");
    CliRun finish(Station({"--port", "1"}, image));
    ASSERT_TRUE(finish.WaitForOutput("Erase Flash")) << finish.output();
    finish.Interrupt();
    EXPECT_EQ(finish.Wait(), 0) << finish.output();
    EXPECT_EQ(Count(finish.output(), " PASSED "), 1) << finish.output();

    CliRun stop(Station({"--port", "1"}, image));
    ASSERT_TRUE(stop.WaitForOutput("Erase Flash")) << stop.output();
    stop.Interrupt();
    ASSERT_TRUE(stop.WaitForOutput("Ctrl-C again")) << stop.output();
    stop.Interrupt();
    EXPECT_EQ(stop.Wait(), 1) << stop.output();
    EXPECT_EQ(Count(stop.output(), " FAILED "), 1) << stop.output();
    EXPECT_EQ(Count(stop.output(), "All file Complete"), 0) << stop.output();

    CliRun next(Station({"--port", "1", "--count", "1"}, image));
    EXPECT_EQ(next.Wait(), 0) << next.output();
    EXPECT_EQ(Count(next.output(), " PASSED "), 1) << next.output();
}

}  // namespace
