// kelvane-sim as a program: the lines it prints, its port map pins while it
// runs, a clean exit on SIGINT that removes exactly its entries, and the exit
// code of a bad option.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/ini.h"
#include "platform/serial_port.h"
#include "sim/crc32.h"
#include "tests/sim/test_frames.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The program with its standard output on a pipe and its standard error in a
// file.
class Program {
public:
    Program(std::vector<std::string> args, const std::string& errFile) {
        args.insert(args.begin(), KELVANE_SIM_BINARY);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    bool started() const { return pid_ > 0; }

    // Reads standard output until it holds n lines or the time-out passes.
    std::vector<std::string> ReadLines(size_t n, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (CountLines() < n && Clock::now() < deadline) {
            struct pollfd p {
                out_, POLLIN, 0
            };
            if (::poll(&p, 1, 50) <= 0) continue;
            char chunk[512];
            const ssize_t got = ::read(out_, chunk, sizeof chunk);
            if (got <= 0) break;
            text_.append(chunk, static_cast<size_t>(got));
        }
        std::vector<std::string> lines;
        size_t from = 0;
        for (size_t nl; (nl = text_.find('\n', from)) != std::string::npos; from = nl + 1) {
            lines.push_back(text_.substr(from, nl - from));
        }
        return lines;
    }

    // The exit status, or -1 when it did not exit in time.
    int WaitExit(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            struct pollfd none {
                - 1, 0, 0
            };
            ::poll(&none, 0, 10);
        }
        return -1;
    }
    void Signal(int signal) { ::kill(pid_, signal); }

private:
    size_t CountLines() const {
        return static_cast<size_t>(std::count(text_.begin(), text_.end(), '\n'));
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::string text_;
};

std::string PortMapValue(const std::string& file, const std::string& key) {
    char value[256];
    platform::IniReadString("PORTS", key.c_str(), "(none)", value, sizeof value, file.c_str());
    return value;
}

// Sends bytes to the device and reads until want bytes came back (bounded).
std::vector<uint8_t> Exchange(const std::string& device, const std::vector<uint8_t>& send,
                              size_t want) {
    platform::SerialPort port;
    int error = 0;
    std::vector<uint8_t> got;
    if (port.Open(device.c_str(), 115200, &error) != platform::SerialPort::OpenResult::kOk ||
        port.Write(send.data(), static_cast<int>(send.size()), 1000) !=
            static_cast<int>(send.size())) {
        return got;
    }
    const auto deadline = Clock::now() + 3s;
    while (got.size() < want && Clock::now() < deadline) {
        uint8_t buffer[64];
        const int n = port.Read(buffer, sizeof buffer);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
        struct pollfd none {
            - 1, 0, 0
        };
        ::poll(&none, 0, 2);
    }
    return got;
}

// The device path of a printed port line "COM<n> <device> <name>".
std::string DeviceOf(const std::string& line) {
    const size_t first = line.find(' ');
    return line.substr(first + 1, line.rfind(' ') - first - 1);
}

class SimProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvsim-prog-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        portMap_ = dir_ + "/Kelvane_ports.ini";
        errFile_ = dir_ + "/stderr.txt";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string dir_, portMap_, errFile_;
};

TEST_F(SimProgram, PinsItsPortsWhileRunningAndRemovesExactlyThemOnSigint) {
    const std::string before =
        "; bench wiring, kept by hand\n[PORTS]\nCOM9=/dev/ttyUSB0\nNAME9=bench rig\n"
        "[OTHER]\nkey=value\n";
    WriteText(portMap_, before);
    Program program({"--channels", "3", "--first-port", "2", "--dir", dir_}, errFile_);
    ASSERT_TRUE(program.started());
    const std::vector<std::string> lines = program.ReadLines(3, 10s);
    ASSERT_EQ(lines.size(), 3u) << ReadText(errFile_);
    const std::regex shape(R"(COM(\d+) (/dev/\S+) (kvmodem-sim\d))");
    for (int k = 0; k < 3; ++k) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[k], m, shape)) << lines[k];
        EXPECT_EQ(m[1].str(), std::to_string(2 + k));
        EXPECT_EQ(m[3].str(), "kvmodem-sim" + std::to_string(k));
        EXPECT_EQ(PortMapValue(portMap_, "COM" + m[1].str()), m[2].str());
        EXPECT_EQ(PortMapValue(portMap_, "NAME" + m[1].str()), m[3].str());
    }
    EXPECT_EQ(PortMapValue(portMap_, "COM9"), "/dev/ttyUSB0");
    // It serves: the handset on COM3 answers an unlock.
    EXPECT_EQ(Exchange(DeviceOf(lines[1]), simtest::Packet(1, {0xA0}), 6),
              simtest::Reply({0x01, 0x02}));

    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(10s), 0) << ReadText(errFile_);
    EXPECT_EQ(ReadText(portMap_), before);
}

TEST_F(SimProgram, SigtermDumpsOnExitAndAPortMapItCreatedGoes) {
    Program program({"--channels=1", "--dir=" + dir_, "--dump-on-exit", "--out", dir_ + "/out"},
                    errFile_);
    ASSERT_TRUE(program.started());
    const std::vector<std::string> lines = program.ReadLines(1, 10s);
    ASSERT_EQ(lines.size(), 1u) << ReadText(errFile_);
    EXPECT_EQ(PortMapValue(portMap_, "NAME1"), "kvmodem-sim0");
    std::vector<uint8_t> session = simtest::Packet(0, {0xA0});
    const std::vector<uint8_t> erase = simtest::Packet(1, simtest::EraseCommand(0x2000, 0x1000));
    session.insert(session.end(), erase.begin(), erase.end());
    EXPECT_EQ(Exchange(DeviceOf(lines[0]), session, 12).size(), 12u);  // two ACKs

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(10s), 0) << ReadText(errFile_);
    EXPECT_FALSE(std::filesystem::exists(portMap_));
    EXPECT_EQ(ReadText(dir_ + "/out/ch0.bin"), std::string(0x1000, '\xFF'));
    const std::vector<uint8_t> erased(0x1000, 0xFF);
    char index[40];
    std::snprintf(index, sizeof index, "00002000 00001000 %08X\n",
                  sim::Crc32(erased.data(), erased.size()));
    EXPECT_EQ(ReadText(dir_ + "/out/ch0.idx"), index);
}

TEST_F(SimProgram, SwapTellsEachArrivalAndDepartureAndDumpsBySerial) {
    Program program({"--swap", "--handsets=2", "--swap-ms=0", "--first-port=4", "--dir", dir_},
                    errFile_);
    ASSERT_TRUE(program.started());
    std::vector<std::string> lines = program.ReadLines(1, 10s);
    const std::string link = dir_ + "/kvmodem-sim0.tty";
    ASSERT_EQ(lines, std::vector<std::string>{"COM4 " + link + " kvmodem-sim0 SIM0-0001"})
        << ReadText(errFile_);
    EXPECT_EQ(PortMapValue(portMap_, "COM4"), link);
    std::vector<uint8_t> session = simtest::Packet(0, {0xA0});
    for (const auto& packet :
         {simtest::Packet(1, simtest::EraseCommand(0, 0x1000)), simtest::Packet(2, {0x90})}) {
        session.insert(session.end(), packet.begin(), packet.end());
    }
    EXPECT_EQ(Exchange(link, session, 18).size(), 18u);  // three ACKs, then it leaves
    lines = program.ReadLines(3, 10s);
    ASSERT_EQ(lines.size(), 3u) << ReadText(errFile_);
    EXPECT_EQ(lines[1], "left COM4 kvmodem-sim0 SIM0-0001");
    EXPECT_EQ(lines[2], "COM4 " + link + " kvmodem-sim0 SIM0-0002");
    EXPECT_EQ(ReadText(dir_ + "/SIM0-0001.bin"), std::string(0x1000, '\xFF'));
    program.Signal(SIGINT);
    EXPECT_EQ(program.WaitExit(10s), 0) << ReadText(errFile_);
    EXPECT_FALSE(std::filesystem::exists(link));
}

TEST_F(SimProgram, BadOptionValuesExitTwoWithOneLine) {
    WriteText(portMap_, "[PORTS]\nCOM1=/dev/ttyS0\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--fault", "ch2:nak1-every=x"},
          std::vector<std::string>{"--fault", "explode@3"},
          std::vector<std::string>{"--channels", "12"}, std::vector<std::string>{"--baud"}}) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--dir", dir_});
        Program program(full, errFile_);
        ASSERT_TRUE(program.started());
        EXPECT_EQ(program.WaitExit(10s), 2) << args[0];
        EXPECT_TRUE(program.ReadLines(1, 100ms).empty());
        const std::string err = ReadText(errFile_);
        EXPECT_EQ(err.rfind("kelvane-sim: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    EXPECT_EQ(ReadText(portMap_), "[PORTS]\nCOM1=/dev/ttyS0\n");
}

TEST_F(SimProgram, HelpListsTheFaultSyntax) {
    Program program({"--help"}, errFile_);
    ASSERT_TRUE(program.started());
    const std::vector<std::string> lines = program.ReadLines(1000, 5s);
    EXPECT_EQ(program.WaitExit(5s), 0);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    for (const char* kind : {"nak1-every=N", "nak-err=E@N", "bad-fcs@N", "bad-slot@N", "stray",
                             "drop@N", "slow-erase=MS", "mute-unlock", "hangup=N", "info"}) {
        EXPECT_NE(text.find(kind), std::string::npos) << kind;
    }
}

}  // namespace
