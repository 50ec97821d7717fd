// A line of simulated handsets (kelvane-sim --swap: each handset leaves after
// its flash and the next arrives on the same COM number a second later),
// flashed by the real programs:
// - BM_StationFlashRate: 8 slots, one 1 MiB handset each, paced at 1382400
//   baud: each handset's flash (from the station's "started" event to its
//   "passed" event, as the bench reads them) as a share of the line rate,
//   beside the same measure of a `download` session (from a channel's
//   "Download Start" line to its "All file Complete!" line);
// - BM_StationArrivalToFirstPacket: from a handset's arrival (the simulator's
//   line) to its first data packet (the simulator's erase), per handset;
// - BM_StationLine: 8 slots, 5 handsets each, one of them faulty (its unlock
//   goes unanswered): handsets passed per hour in station mode and with
//   back-to-back sessions of `download`, the operator swapping all eight
//   handsets once the slowest is done.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kLineBytesPerSecond = 1382400 / 10.0;
constexpr int kSlots = 8;

struct Line {
    Clock::time_point at;
    std::string text;
};

// A child process whose standard output and error are read line by line,
// each line stamped when the bench read it.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        started_ = Clock::now();
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        readers_.emplace_back([this, fd = out[0]] { Read(fd, &out_); });
        readers_.emplace_back([this, fd = err[0]] { Read(fd, &err_); });
    }
    ~Child() {
        Signal(SIGINT);
        Wait();
    }
    void Signal(int sig) {
        if (pid_ > 0 && !exited_) kill(pid_, sig);
    }
    // Exit status (-1 when killed or never started); the wall time from the
    // start to the exit goes to *seconds.
    int Wait(double* seconds = nullptr) {
        if (pid_ > 0 && !exited_) {
            waitpid(pid_, &status_, 0);
            ended_ = Clock::now();
            exited_ = true;
        }
        for (std::thread& t : readers_)
            if (t.joinable()) t.join();
        if (seconds != nullptr) *seconds = std::chrono::duration<double>(ended_ - started_).count();
        return exited_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    std::vector<Line> Out() { return Copy(out_); }
    std::vector<Line> Err() { return Copy(err_); }
    // Waits (bounded) until count lines of standard output begin with prefix.
    bool WaitForOut(const std::string& prefix, size_t count, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            size_t n = 0;
            for (const Line& l : out_)
                n += l.text.rfind(prefix, 0) == 0;
            return n >= count;
        });
    }

private:
    void Read(int fd, std::vector<Line>* lines) {
        FILE* f = fdopen(fd, "r");
        char buffer[4096];
        while (f != nullptr && std::fgets(buffer, sizeof buffer, f) != nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines->push_back({Clock::now(), buffer});
            changed_.notify_all();
        }
        if (f != nullptr) std::fclose(f);
    }
    std::vector<Line> Copy(const std::vector<Line>& lines) {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines;
    }

    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    Clock::time_point started_, ended_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Line> out_, err_;
    std::vector<std::thread> readers_;
};

std::string Program(const char* variable, const char* builtIn) {
    const char* given = std::getenv(variable);
    return given != nullptr ? given : builtIn;
}

struct Folder {
    Folder() {
        static int run = 0;
        path = (std::filesystem::temp_directory_path() /
                ("kelvane-station-bench-" + std::to_string(getpid()) + "-" + std::to_string(++run)))
                   .string();
        std::filesystem::create_directories(path);
        image = path + "/image.bin";
        std::vector<char> data(kImageBytes);
        std::mt19937 random(11);
        for (char& b : data)
            b = static_cast<char>(random());
        std::ofstream(image, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    static inline size_t kImageBytes = 0;
    std::string path;
    std::string image;
};

std::vector<std::string> Simulator(const Folder& folder, int handsets, bool faulty) {
    std::vector<std::string> args = {Program("KELVANE_BENCH_SIM", KELVANE_SIM_PATH),
                                     "--channels",
                                     std::to_string(kSlots),
                                     "--baud",
                                     "1382400",
                                     "--dir",
                                     folder.path,
                                     "--swap",
                                     "--handsets",
                                     std::to_string(handsets)};
    if (faulty) {
        args.push_back("--fault");
        args.push_back("ch3:h2:mute-unlock");
    }
    return args;
}

std::string Ports() {
    std::string ports;
    for (int ch = 0; ch < kSlots; ++ch)
        ports += (ch == 0 ? "" : ",") + std::to_string(ch + 1);
    return ports;
}

std::vector<std::string> Cli(const Folder& folder, const std::string& command) {
    return {Program("KELVANE_BENCH_CLI", KELVANE_CLI_PATH),
            command,
            "--port",
            Ports(),
            "--baud",
            "1382400",
            "--image",
            "8=" + folder.image + "@0",
            "--dir",
            folder.path};
}

// The channel named by `"channel":N` in a JSON event line, or -1.
int JsonChannel(const std::string& line) {
    const size_t at = line.find("\"channel\":");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 10);
}

bool IsEvent(const std::string& line, const char* event) {
    return line.find(std::string("\"event\":\"") + event + "\"") != std::string::npos;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Per handset: payload over the time between a start line and an end line of
// the same channel, as a share of the line rate.
std::vector<double> FlashRatios(const std::vector<Line>& lines,
                                bool (*isStart)(const std::string&, int*),
                                bool (*isEnd)(const std::string&, int*)) {
    std::vector<double> ratios;
    Clock::time_point start[kSlots];
    for (const Line& l : lines) {
        int ch = -1;
        if (isStart(l.text, &ch) && ch >= 0 && ch < kSlots) start[ch] = l.at;
        if (isEnd(l.text, &ch) && ch >= 0 && ch < kSlots) {
            ratios.push_back(static_cast<double>(Folder::kImageBytes) / Seconds(start[ch], l.at) /
                             kLineBytesPerSecond);
        }
    }
    return ratios;
}

bool StationStarted(const std::string& t, int* ch) {
    *ch = JsonChannel(t);
    return IsEvent(t, "started");
}
bool StationPassed(const std::string& t, int* ch) {
    *ch = JsonChannel(t);
    return IsEvent(t, "passed");
}
// "[CH3] CH3 Download Start", "[CH3] CH3 All file Complete! [7 sec]"
bool SessionStarted(const std::string& t, int* ch) {
    return std::sscanf(t.c_str(), "[CH%d] CH%*d Download Start", ch) == 1 &&
           t.find("Download Start") != std::string::npos;
}
bool SessionCompleted(const std::string& t, int* ch) {
    return std::sscanf(t.c_str(), "[CH%d]", ch) == 1 &&
           t.find("All file Complete!") != std::string::npos;
}

void BM_StationFlashRate(benchmark::State& state) {
    Folder::kImageBytes = 1 << 20;
    double station = 0, session = 0;
    for (auto _ : state) {
        {
            Folder folder;
            Child sim(Simulator(folder, 1, false));
            if (!sim.WaitForOut("COM", kSlots, std::chrono::seconds(20))) {
                state.SkipWithError("kelvane-sim did not start");
                return;
            }
            std::vector<std::string> args = Cli(folder, "station");
            args.insert(args.end(), {"--json", "--count", std::to_string(kSlots)});
            Child cli(args);
            double wall = 0;
            if (cli.Wait(&wall) != 0) state.SkipWithError("kelvane-cli station failed");
            station = Median(FlashRatios(cli.Out(), StationStarted, StationPassed));
        }
        {
            Folder folder;
            Child sim(Simulator(folder, 1, false));
            if (!sim.WaitForOut("COM", kSlots, std::chrono::seconds(20))) return;
            Child cli(Cli(folder, "download"));
            if (cli.Wait() != 0) state.SkipWithError("kelvane-cli download failed");
            session = Median(FlashRatios(cli.Out(), SessionStarted, SessionCompleted));
        }
        state.SetIterationTime(1);
    }
    state.counters["station_flash_line_rate_ratio"] = station;
    state.counters["session_flash_line_rate_ratio"] = session;
}

void BM_StationArrivalToFirstPacket(benchmark::State& state) {
    Folder::kImageBytes = 256 << 10;
    std::vector<double> ms;
    for (auto _ : state) {
        Folder folder;
        Child sim(Simulator(folder, 3, false));
        if (!sim.WaitForOut("COM", kSlots, std::chrono::seconds(20))) {
            state.SkipWithError("kelvane-sim did not start");
            return;
        }
        std::vector<std::string> args = Cli(folder, "station");
        args.insert(args.end(), {"--json", "--count", std::to_string(3 * kSlots)});
        Child cli(args);
        if (cli.Wait() != 0) state.SkipWithError("kelvane-cli station failed");
        sim.Signal(SIGINT);
        sim.Wait();
        // Arrival: "COM1 <link> kvmodem-sim0 SIM0-0002"; first packet: the
        // handset's log line "sim0 SIM0-0002: erase ...".
        for (const Line& arrival : sim.Out()) {
            char serial[64] = "";
            if (std::sscanf(arrival.text.c_str(), "COM%*d %*s %*s %63s", serial) != 1) continue;
            for (const Line& log : sim.Err()) {
                if (log.text.find(std::string(serial) + ": erase") == std::string::npos) continue;
                // The first handsets arrive before the station starts.
                if (log.at > arrival.at && arrival.text.find("-0001") == std::string::npos) {
                    ms.push_back(Seconds(arrival.at, log.at) * 1000);
                }
                break;
            }
        }
        state.SetIterationTime(1);
    }
    if (ms.empty()) {
        state.SkipWithError("no arrival was followed by an erase");
        return;
    }
    state.counters["handsets"] = static_cast<double>(ms.size());
    state.counters["median_ms"] = Median(ms);
    state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
}

// Handsets passed per hour with back-to-back sessions: each session starts
// once every slot holds its next handset.
double SessionsPerHour(const Folder& folder, int handsets, int* passed) {
    Child sim(Simulator(folder, handsets, true));
    const auto start = Clock::now();
    for (int round = 1; round <= handsets; ++round) {
        if (!sim.WaitForOut("COM", static_cast<size_t>(kSlots * round), std::chrono::seconds(60)))
            return 0;
        Child cli(Cli(folder, "download"));
        cli.Wait();
        for (const Line& l : cli.Out())
            *passed += l.text.find(" OK\n") != std::string::npos && l.text.rfind("CH", 0) == 0;
    }
    return *passed / Seconds(start, Clock::now()) * 3600;
}

double StationPerHour(const Folder& folder, int handsets, int* passed) {
    Child sim(Simulator(folder, handsets, true));
    if (!sim.WaitForOut("COM", kSlots, std::chrono::seconds(20))) return 0;
    std::vector<std::string> args = Cli(folder, "station");
    args.insert(args.end(), {"--json", "--count", std::to_string(kSlots * handsets - 1)});
    Child cli(args);
    double wall = 0;
    cli.Wait(&wall);
    for (const Line& l : cli.Out())
        *passed += IsEvent(l.text, "passed");
    return *passed / wall * 3600;
}

void BM_StationLine(benchmark::State& state) {
    Folder::kImageBytes = 256 << 10;
    const int handsets = static_cast<int>(state.range(0));
    int stationPassed = 0, sessionPassed = 0;
    double station = 0, sessions = 0;
    for (auto _ : state) {
        {
            Folder folder;
            station = StationPerHour(folder, handsets, &stationPassed);
        }
        {
            Folder folder;
            sessions = SessionsPerHour(folder, handsets, &sessionPassed);
        }
        state.SetIterationTime(1);
    }
    state.counters["station_passed"] = stationPassed;
    state.counters["station_per_hour"] = station;
    state.counters["sessions_passed"] = sessionPassed;
    state.counters["sessions_per_hour"] = sessions;
}

BENCHMARK(BM_StationFlashRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_StationArrivalToFirstPacket)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_StationLine)->Arg(5)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
