// kelvane-cli keeps a record of every channel it flashes, even when it is
// killed in the middle, and 'kelvane-cli records' reads them back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "records/local_store.h"
#include "sim/simulator.h"
#include "tests/support/pty_peer.h"

extern char** environ;

namespace {

using testing_support::TempDir;

// kelvane-cli with its stdout and stderr in one pipe.
class Cli {
public:
    explicit Cli(const std::vector<std::string>& args) {
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
    }
    ~Cli() {
        Kill();
        close(out_);
    }
    // Reads until the output holds text or the pipe closes (bounded).
    bool Read(const std::string& text, int limitMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (text.empty() || output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            struct pollfd p {
                out_, POLLIN, 0
            };
            if (poll(&p, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return !text.empty() && output_.find(text) != std::string::npos;
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    int Wait() {
        Read("", 60000);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            poll(nullptr, 0, 10);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(output_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

size_t RecordCount(const std::string& database) {
    records::LocalStore store;
    std::vector<records::ChannelRecord> found;
    std::string error;
    if (!store.Open(database, false, &error) || !store.Query({}, &found, &error)) return 0;
    return found.size();
}

TEST(CliRecordsTest, AKilledRunLeavesInterruptedRecordsThatTheRecordsCommandShows) {
    TempDir dir;
    sim::SimOptions options;
    options.channels = 2;
    options.dir = dir.path();
    options.baud = 115200;  // slow enough to be killed in the middle
    sim::Simulator handsets(options);
    std::string error;
    ASSERT_TRUE(handsets.Start(&error)) << error;
    const std::string big = dir.File("big.bin");
    const std::string small = dir.File("small.bin");
    ASSERT_EQ(Cli({"make-image", big, "--size", "2M", "--address", "20000"}).Wait(), 0);
    ASSERT_EQ(Cli({"make-image", small, "--size", "2K", "--address", "20000"}).Wait(), 0);
    const std::string database = dir.File("Kelvane_records.db");
    {
        Cli killed({"download", "--port", "1,2", "--image", "Modem=" + big, "--dir", dir.path(),
                    "--baud", "115200", "--delay", "0"});
        ASSERT_TRUE(killed.Read("Erase Flash")) << killed.output();
        ASSERT_TRUE(testing_support::WaitFor([&] { return RecordCount(database) == 2; }));
        killed.Kill();  // no chance to write anything more
    }
    Cli json({"records", "--dir", dir.path(), "--format", "json"});
    ASSERT_EQ(json.Wait(), 0) << json.output();
    ASSERT_EQ(json.Lines().size(), 2u) << json.output();
    for (const std::string& line : json.Lines()) {
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
        EXPECT_NE(line.find("\"result\":\"interrupted\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"channel_end\":null"), std::string::npos) << line;
        EXPECT_NE(line.find("\"images\":[]"), std::string::npos) << line;
    }

    // The handsets may still be busy with the killed image: a fresh pair.
    handsets.Stop();
    sim::Simulator fresh(options);
    ASSERT_TRUE(fresh.Start(&error)) << error;
    Cli ok({"download", "--port", "2", "--image", "Modem=" + small, "--dir", dir.path(), "--baud",
            "115200", "--delay", "0"});
    ASSERT_EQ(ok.Wait(), 0) << ok.output();

    Cli table({"records", "--dir", dir.path()});
    ASSERT_EQ(table.Wait(), 0) << table.output();
    ASSERT_EQ(table.Lines().size(), 4u) << table.output();
    EXPECT_EQ(table.Lines()[0].rfind("CHANNEL START (UTC)", 0), 0u);
    EXPECT_NE(table.Lines()[1].find("completed"), std::string::npos) << table.output();
    EXPECT_NE(table.Lines()[1].find("CH0 All file Complete!"), std::string::npos);
    EXPECT_NE(table.Lines()[2].find("interrupted"), std::string::npos);

    Cli failed({"records", "--dir", dir.path(), "--failed", "--format", "csv"});
    ASSERT_EQ(failed.Wait(), 0);
    ASSERT_EQ(failed.Lines().size(), 3u) << failed.output();
    EXPECT_EQ(failed.Lines()[0].rfind("id,station,session_start,", 0), 0u);
    Cli channel1({"records", "--dir", dir.path(), "--channel", "1", "--format", "json"});
    ASSERT_EQ(channel1.Wait(), 0);
    ASSERT_EQ(channel1.Lines().size(), 1u) << channel1.output();
    EXPECT_NE(channel1.Lines()[0].find("\"channel\":1,\"com_port\":2"), std::string::npos);
    Cli none({"records", "--dir", dir.path(), "--since", "2000-01-01", "--until", "2000-01-02"});
    ASSERT_EQ(none.Wait(), 0);
    EXPECT_EQ(none.Lines().size(), 1u) << none.output();  // the header alone

    Cli badChannel({"records", "--channel", "8"});
    EXPECT_EQ(badChannel.Wait(), 2);
    EXPECT_EQ(badChannel.output(), "kelvane-cli records: bad value '8' for --channel (0..7)\n");
    TempDir empty;
    Cli nothing({"records", "--dir", empty.path()});
    EXPECT_EQ(nothing.Wait(), 1);
    EXPECT_EQ(nothing.output().rfind(
                  "kelvane-cli records: cannot read " + empty.path() + "/Kelvane_records.db", 0),
              0u)
        << nothing.output();
}

}  // namespace

TEST(CliRecordsTest, AServerThatDoesNotAnswerIsToldAndTheDownloadGoesOn) {
    TempDir dir;
    sim::SimOptions options;
    options.channels = 1;
    options.dir = dir.path();
    sim::Simulator handsets(options);
    std::string error;
    ASSERT_TRUE(handsets.Start(&error)) << error;
    {
        std::ofstream ini(dir.File("Kelvane_3.ini"));
        ini << "[RECORDS]\nSTATION=bench-9\nPOSTGRESQL_URL=postgresql:///records?host=" +
                   dir.File("no-server") + "\n";
    }
    const std::string image = dir.File("m.bin");
    ASSERT_EQ(Cli({"make-image", image, "--size", "20K", "--address", "20000"}).Wait(), 0);
    Cli run({"download", "--port", "1", "--image", "Modem=" + image, "--dir", dir.path(), "--baud",
             "115200", "--delay", "0"});
    EXPECT_EQ(run.Wait(), 0) << run.output();
    EXPECT_NE(run.output().find("records: the records server does not answer ("), std::string::npos)
        << run.output();
    EXPECT_NE(run.output().find("CH0 COM1 OK"), std::string::npos);

    Cli json({"records", "--dir", dir.path(), "--format", "json"});
    ASSERT_EQ(json.Wait(), 0) << json.output();
    ASSERT_EQ(json.Lines().size(), 1u) << json.output();
    EXPECT_NE(json.Lines()[0].find("\"station\":\"bench-9\""), std::string::npos);
    EXPECT_NE(json.Lines()[0].find("\"result\":\"completed\""), std::string::npos);
    EXPECT_NE(json.Lines()[0].find("\"image_set\":\"\""), std::string::npos);  // --image
    EXPECT_NE(json.Lines()[0].find("\"slot\":\"Modem\",\"path\":\"" + image + "\",\"size\":21504"),
              std::string::npos)
        << json.Lines()[0];
}
