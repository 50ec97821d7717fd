// Whole downloads to simulated handsets (kelvane-sim in its own process, so
// the CPU figures are the host's alone):
// - paced at 1382400 baud: payload rate per channel as a share of the line
//   rate (138240 bytes/s), slowest channel, for 1 and 8 channels;
// - unpaced: MB/s per channel and host CPU seconds per MiB;
// - host CPU while 8 paced channels run, as a share of one core;
// - the paced runs again with the station recorder writing its records
//   (BM_FlashPacedRecorded): its line-rate ratio beside BM_FlashPaced's;
// - the whole `kelvane-cli download` command, start to exit, 8 channels paced
//   at 1382400 baud (BM_CliDownload): payload over wall time as a share of the
//   line rate, process start, records and every fixed cost of a session
//   included. KELVANE_BENCH_CLI names another kelvane-cli to time instead.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/observer.h"
#include "engine/session.h"
#include "link/serial.h"
#include "platform/port_map.h"
#include "records/recorder.h"

extern char** environ;

namespace {

constexpr double kLineBytesPerSecond = 1382400 / 10.0;

// Counts completions and the slowest image time from the channel texts.
class QuietReceiver : public platform::NotifyReceiver {
public:
    intptr_t Send(unsigned, uintptr_t code, const void* payload) override {
        if (code != NOTIFY_CHANNEL_TEXT || payload == nullptr) return 0;
        const char* text = static_cast<const ImageEntry*>(payload)->path;
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::strstr(text, "All file Complete!") != nullptr) ++completed;
        const char* ok = std::strstr(text, "KB OK! [");
        if (ok != nullptr) {
            const double seconds = std::atof(ok + 8);
            if (seconds > slowestSeconds) slowestSeconds = seconds;
        }
        return 0;
    }
    int completed = 0;
    double slowestSeconds = 0;

private:
    std::mutex mutex_;
};

// Passes every call on to the recorder and adds up, per channel, the time
// the calls on that channel's way took (the session start's on every one).
class TimedRecorder : public engine::SessionObserver {
public:
    explicit TimedRecorder(records::Recorder& inner) : inner_(inner) {}
    void SessionStarted(const int comPorts[kChannelCount]) override {
        const double s = Timed([&] { inner_.SessionStarted(comPorts); });
        for (double& channel : seconds_)
            channel += s;
    }
    void ChannelStarted(int ch) override {
        seconds_[ch] += Timed([&] { inner_.ChannelStarted(ch); });
    }
    void ImageFinished(int ch, const engine::ImageOutcome& image) override {
        seconds_[ch] += Timed([&] { inner_.ImageFinished(ch, image); });
    }
    void ChannelFinished(int ch, engine::ChannelResult result, const char* text) override {
        seconds_[ch] += Timed([&] { inner_.ChannelFinished(ch, result, text); });
    }
    void SessionFinished() override { inner_.SessionFinished(); }
    double LongestChannel() const {
        double longest = 0;
        for (const double s : seconds_)
            longest = s > longest ? s : longest;
        return longest;
    }

private:
    template <typename F>
    static double Timed(F call) {
        const auto t0 = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    records::Recorder& inner_;
    double seconds_[kChannelCount] = {};  // each written by its own channel's thread
};

double CpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// kelvane-sim as a child process serving `channels` handsets in folder.
class SimProcess {
public:
    SimProcess(const std::string& folder, int channels, uint32_t baud) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const std::string channelText = std::to_string(channels);
        const std::string baudText = std::to_string(baud);
        std::vector<const char*> argv = {KELVANE_SIM_PATH, "--channels",     channelText.c_str(),
                                         "--baud",         baudText.c_str(), "--dir",
                                         folder.c_str(),   nullptr};
        posix_spawn(&pid_, KELVANE_SIM_PATH, &actions, nullptr, const_cast<char**>(argv.data()),
                    environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        FILE* out = fdopen(pipeFds[0], "r");
        char line[256];
        for (int i = 0; i < channels && out != nullptr && fgets(line, sizeof line, out); ++i) {
            ++ready_;
        }
        if (out != nullptr) fclose(out);
    }
    ~SimProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGINT);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    int ready() const { return ready_; }

private:
    pid_t pid_ = -1;
    int ready_ = 0;
};

std::string MakeImage(const std::string& folder, size_t size) {
    const std::string path = folder + "/image.bin";
    std::vector<uint8_t> data(size);
    std::mt19937 random(7);
    for (auto& b : data)
        b = static_cast<uint8_t>(random());
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    return path;
}

void Flash(benchmark::State& state, uint32_t baud, bool recorded = false) {
    const int channels = static_cast<int>(state.range(0));
    const size_t mebibytes = static_cast<size_t>(state.range(1));
    static int run = 0;
    const std::string folder =
        (std::filesystem::temp_directory_path() /
         ("kelvane-bench-" + std::to_string(getpid()) + "-" + std::to_string(++run)))
            .string();
    std::filesystem::create_directories(folder);
    const std::string image = MakeImage(folder, mebibytes << 20);
    auto simulator = std::make_unique<SimProcess>(folder, channels, baud);
    if (simulator->ready() != channels) {
        state.SkipWithError("kelvane-sim did not start");
        return;
    }
    platform::PortMap_SetDirectory(folder);
    QuietReceiver receiver;
    std::unique_ptr<records::Recorder> recorder;
    std::unique_ptr<TimedRecorder> timed;
    if (recorded) {
        records::RecorderOptions options;
        options.databasePath = folder + "/Kelvane_records.db";
        options.station = "bench";
        recorder = std::make_unique<records::Recorder>(options);
        timed = std::make_unique<TimedRecorder>(*recorder);
        engine::SetSessionObserver(timed.get());
    }
    double wall = 0, cpu = 0;
    for (auto _ : state) {
        VARKO_ClearImages();
        VARKO_SetImage(8, image.c_str(), "0");
        int ports[kChannelCount] = {};
        for (int ch = 0; ch < channels; ++ch)
            ports[ch] = ch + 1;
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        VARKO_StartSession(&receiver, NotifyMessage, ports, 1382400, 2);
        VARKO_RunSession(1);
        VARKO_StopSession();
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu = CpuSeconds() - cpu0;
        state.SetIterationTime(wall);
    }
    engine::SetSessionObserver(nullptr);
    // The longest time any channel spent in the recorder, as a share of the
    // session: the most the records can take off a channel's rate.
    if (timed != nullptr) {
        state.counters["recorder_share_of_session"] = timed->LongestChannel() / wall;
    }
    recorder.reset();
    simulator.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (receiver.completed != channels * static_cast<int>(state.iterations())) {
        state.SkipWithError("a channel failed");
        return;
    }
    const double bytes = static_cast<double>(mebibytes << 20);
    const double perChannel = bytes / receiver.slowestSeconds;
    state.counters["slowest_channel_MBps"] = perChannel / 1e6;
    state.counters["host_cpu_share_of_one_core"] = cpu / wall;
    state.counters["host_cpu_s_per_MiB"] = cpu / (static_cast<double>(mebibytes) * channels);
    if (baud != 0) state.counters["line_rate_ratio"] = perChannel / kLineBytesPerSecond;
    // The same from the whole session's wall time (unlock, erase, close and
    // whatever an observer does included), finer than the 0.1 s image times.
    if (baud != 0) state.counters["session_line_rate_ratio"] = bytes / wall / kLineBytesPerSecond;
}

// Runs argv to its exit; its wall time in seconds, or a negative value when
// it could not be started or failed.
double TimedRun(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wall : -1;
}

void BM_CliDownload(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const size_t mebibytes = static_cast<size_t>(state.range(1));
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("kelvane-cli-bench-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(folder);
    const std::string image = MakeImage(folder, mebibytes << 20);
    auto simulator = std::make_unique<SimProcess>(folder, channels, 1382400);
    if (simulator->ready() != channels) {
        state.SkipWithError("kelvane-sim did not start");
        return;
    }
    std::string ports;
    for (int ch = 0; ch < channels; ++ch)
        ports += (ch == 0 ? "" : ",") + std::to_string(ch + 1);
    const char* cli = std::getenv("KELVANE_BENCH_CLI");
    const std::vector<std::string> args = {cli != nullptr ? cli : KELVANE_CLI_PATH,
                                           "download",
                                           "--port",
                                           ports,
                                           "--baud",
                                           "1382400",
                                           "--image",
                                           "8=" + image + "@0",
                                           "--dir",
                                           folder};
    double wall = 0;
    for (auto _ : state) {
        wall = TimedRun(args);
        if (wall < 0) break;
        state.SetIterationTime(wall);
    }
    simulator.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (wall < 0) {
        state.SkipWithError("kelvane-cli download failed");
        return;
    }
    state.counters["command_line_rate_ratio"] =
        static_cast<double>(mebibytes << 20) / wall / kLineBytesPerSecond;
}

void BM_FlashPaced(benchmark::State& state) {
    Flash(state, 1382400);
}
void BM_FlashPacedRecorded(benchmark::State& state) {
    Flash(state, 1382400, true);
}
void BM_FlashUnpaced(benchmark::State& state) {
    Flash(state, 0);
}

BENCHMARK(BM_FlashPaced)
    ->Args({1, 4})
    ->Args({8, 4})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_FlashPacedRecorded)
    ->Args({1, 4})
    ->Args({8, 4})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_CliDownload)
    ->Args({8, 1})
    ->Iterations(1)
    ->Repetitions(3)
    ->DisplayAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_FlashUnpaced)
    ->Args({1, 16})
    ->Args({8, 16})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
