// kelvane-cli run by a test as a station engineer's script runs it: its
// standard output and error in one pipe, read with bounded waits.
// KELVANE_CLI_PATH names the program.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace clitest {

// A running kelvane-cli with its output (stdout and stderr together).
class CliRun {
public:
    // closedOutput: the reading end of the output is closed at once, as when
    // the output goes into "head -1" that has ended.
    // program: another program to run the same way (the handset simulator).
    explicit CliRun(const std::vector<std::string>& args, bool closedOutput = false,
                    const char* program = KELVANE_CLI_PATH) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, program, &actions, nullptr, argv.data(), environ), 0);
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
    void Interrupt(int signal = SIGINT) { kill(pid_, signal); }
    void Kill() {
        if (pid_ <= 0 || exited_) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        exited_ = true;
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
    bool exited_ = false;
    std::string output_;
};

}  // namespace clitest
