// kelvane-cli as a station engineer runs it: exit status, printed lines, and
// Ctrl-C in the middle of a download.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

using testing_support::TempDir;

// A running kelvane-cli with its output (stdout and stderr together).
class CliRun {
public:
    // closedOutput: the reading end of the output is closed at once, as when
    // the output goes into "head -1" that has ended.
    explicit CliRun(const std::vector<std::string>& args, bool closedOutput = false) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv{const_cast<char*>(KELVANE_CLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, KELVANE_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
        if (closedOutput) {
            close(out_);
            out_ = -1;
        }
    }
    ~CliRun() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    // Reads output until text appears or the process ends (bounded).
    bool WaitForOutput(const std::string& text, int limitMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || out_ < 0) return false;
            struct pollfd p {
                out_, POLLIN, 0
            };
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[4096];
            ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return output_.find(text) != std::string::npos;
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    int Wait(int limitMs = 60000) {
        WaitForOutput("\x01never", limitMs);  // drains the output until the end
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            struct pollfd none {
                - 1, 0, 0
            };
            poll(&none, 0, 10);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Interrupt() { kill(pid_, SIGINT); }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string output_;
};

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
