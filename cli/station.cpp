// kelvane-cli station: every port a slot that flashes each handset arriving
// on it, until Ctrl-C (or --count handsets passed, or --for a while).
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/download.h"
#include "cli/options.h"
#include "cli/station_records.h"
#include "engine/session.h"
#include "engine/station.h"
#include "link/notify.h"
#include "platform/console_signals.h"
#include "platform/console_text.h"
#include "platform/terminal.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
using engine::SlotEvent;
using engine::SlotReport;

constexpr int kProgressEveryMs = 500;
constexpr int kRunnerWaitMs = 100;

struct StationCommandOptions {
    DownloadOptions download;
    int retries = 0;
    int count = 0;       // 0: no end by count
    int forSeconds = 0;  // 0: no end by time
    bool json = false;
};

int Usage(const std::string& reason) {
    platform::PrintText(stderr, "kelvane-cli station: %s\n", reason.c_str());
    return 2;
}

bool ParseCount(const std::string& text, int low, int* value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoi(text);
    return *value >= low;
}

// "90s", "5m", "2h" or plain seconds.
bool ParseDuration(std::string text, int* seconds) {
    int unit = 1;
    if (!text.empty() && (text.back() == 's' || text.back() == 'm' || text.back() == 'h')) {
        unit = text.back() == 'h' ? 3600 : text.back() == 'm' ? 60 : 1;
        text.pop_back();
    }
    int value = 0;
    if (!ParseCount(text, 1, &value) || value > 1000000) return false;
    const long long total = 1LL * value * unit;
    if (total > std::numeric_limits<int>::max()) return false;
    *seconds = static_cast<int>(total);
    return true;
}

bool TakeStationOption(const std::vector<std::string>& args, size_t* i,
                       StationCommandOptions* options, std::string* error) {
    const std::string& arg = args[*i];
    if (arg == "--json") return options->json = true;
    const bool hasValue = *i + 1 < args.size();
    const std::string value = hasValue ? args[*i + 1] : "";
    bool ok = false;
    if (arg == "--retries") ok = ParseCount(value, 0, &options->retries) && options->retries <= 100;
    if (arg == "--count") ok = ParseCount(value, 1, &options->count);
    if (arg == "--for") ok = ParseDuration(value, &options->forSeconds);
    if (!ok) {
        *error = !hasValue ? arg + " needs a value"
                 : arg == "--for"
                     ? "--for takes a duration such as 90s, 5m or 2h, not '" + value + "'"
                     : arg + " takes a count, not '" + value + "'";
        return false;
    }
    ++*i;
    return true;
}

bool ParseStation(const std::vector<std::string>& args, StationCommandOptions* options,
                  std::string* error) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--restart" || arg == "--repeat") {
            *error = arg + " is a download option; a station flashes each handset as it arrives";
            return false;
        }
        if (arg == "--json" || arg == "--retries" || arg == "--count" || arg == "--for") {
            if (!TakeStationOption(args, &i, options, error)) return false;
            continue;
        }
        rest.push_back(arg);
        const bool valued = arg == "--port" || arg == "--image" || arg == "--baud" ||
                            arg == "--delay" || arg == "--dir" || arg == "--set";
        if (valued && i + 1 < args.size()) rest.push_back(args[++i]);
    }
    return ParseDownload(rest, &options->download, error);
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// UTC, ISO 8601, to the millisecond: 2026-12-08T17:04:16.123Z
std::string UtcText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = time_point_cast<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

// The station's front: result lines (or JSON events) on standard output, the
// channels' texts, and on a terminal a status line of every slot and the counts.
class StationFront : public engine::StationListener, public platform::NotifyReceiver {
public:
    StationFront(const std::vector<int>& ports, bool json, bool live)
        : ports_(ports), json_(json), live_(live && !json), started_(Clock::now()) {}

    void OnSlot(const SlotReport& r) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[r.channel];
        if (r.event == SlotEvent::kProgress) {
            slot.percent = r.percent;
            const Clock::time_point now = Clock::now();
            if (now - slot.lastProgress < std::chrono::milliseconds(kProgressEveryMs)) return;
            slot.lastProgress = now;
        } else {
            slot.state = r.event;
            slot.percent = 0;
        }
        if (r.event == SlotEvent::kPassed) ++passed_;
        if (r.event == SlotEvent::kFailed) ++failed_;
        if (json_) {
            Print(stdout, Json(r));
        } else if (r.event == SlotEvent::kPassed || r.event == SlotEvent::kFailed) {
            Print(stdout, ResultLine(r));
        } else {
            DrawStatus();
        }
    }

    intptr_t Send(unsigned, uintptr_t code, const void* payload) override {
        if (payload == nullptr || code == NOTIFY_PROGRESS) return 0;
        std::string text;
        if (code == NOTIFY_STATUS)
            text = std::string("status: ") + static_cast<const char*>(payload);
        if (code == NOTIFY_CHANNEL_TEXT) {
            const auto* e = static_cast<const ImageEntry*>(payload);
            if (e->path[0] == '\0') return 0;
            text = "[CH" + std::to_string(e->channel) + "] " + e->path;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!text.empty()) Print(json_ ? stderr : stdout, text);
        return 0;
    }

    // A line of the station's own, where the channels' texts go.
    void Note(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        Print(json_ ? stderr : stdout, text);
    }

    void Finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (live_ && statusShown_) std::fputs("\n", stdout);
        statusShown_ = false;
        const std::string counts = Counts();
        platform::PrintText(json_ ? stderr : stdout, "%s\n", counts.c_str());
        std::fflush(stdout);
    }

private:
    struct Slot {
        SlotEvent state = SlotEvent::kGone;  // waiting
        int percent = 0;
        Clock::time_point lastProgress{};
    };

    std::string Json(const SlotReport& r) const {
        std::string line = std::string("{\"event\":\"") + engine::SlotEventText(r.event) +
                           "\",\"channel\":" + std::to_string(r.channel) +
                           ",\"com\":" + std::to_string(r.comPort) +
                           ",\"identity\":" + JsonText(r.identity) + ",\"time\":\"" +
                           UtcText(r.time) + "\"";
        if (r.event == SlotEvent::kProgress) line += ",\"percent\":" + std::to_string(r.percent);
        if (r.event == SlotEvent::kStarted || r.event == SlotEvent::kPassed ||
            r.event == SlotEvent::kFailed) {
            line += ",\"attempt\":" + std::to_string(r.attempt);
        }
        if (r.event == SlotEvent::kPassed || r.event == SlotEvent::kFailed) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
            line += ",\"text\":" + JsonText(r.text) + ",\"seconds\":" + seconds;
        }
        return line + "}";
    }

    static std::string ResultLine(const SlotReport& r) {
        char line[1400];
        std::snprintf(
            line, sizeof line, "%s CH%d COM%d %s %s \"%s\" %.1fs%s", UtcText(r.time).c_str(),
            r.channel, r.comPort, r.identity.c_str(),
            r.event == SlotEvent::kPassed ? "PASSED" : "FAILED", r.text.c_str(), r.seconds,
            r.attempt > 0 ? (" (try " + std::to_string(r.attempt + 1) + ")").c_str() : "");
        return line;
    }

    std::string Counts() const {
        const int done = passed_ + failed_;
        const double hours = std::chrono::duration<double>(Clock::now() - started_).count() / 3600;
        char text[160];
        std::snprintf(text, sizeof text, "passed %d, failed %d, yield %.1f %%, %.0f handsets/h",
                      passed_, failed_, done == 0 ? 0.0 : 100.0 * passed_ / done,
                      hours > 0 ? passed_ / hours : 0.0);
        return text;
    }

    void DrawStatus() {
        if (!live_) return;
        std::string line;
        for (size_t ch = 0; ch < ports_.size(); ++ch) {
            if (ports_[ch] == 0) continue;
            const Slot& s = slots_[ch];
            std::string state = "waiting";
            if (s.state == SlotEvent::kStarted || s.state == SlotEvent::kProgress)
                state = "flashing " + std::to_string(s.percent) + " %";
            if (s.state == SlotEvent::kPassed) state = "passed";
            if (s.state == SlotEvent::kFailed) state = "failed";
            if (s.state == SlotEvent::kStopped) state = "stopped";
            line += "CH" + std::to_string(ch) + " " + state + " | ";
        }
        platform::PrintText(stdout, "\r\x1b[K%s%s", line.c_str(), Counts().c_str());
        std::fflush(stdout);
        statusShown_ = true;
    }

    void Print(FILE* out, const std::string& text) {
        if (live_ && statusShown_) std::fputs("\r\x1b[K", stdout);
        platform::PrintText(out, "%s\n", text.c_str());
        std::fflush(out);
        DrawStatus();
    }

    std::vector<int> ports_;
    bool json_;
    bool live_;
    Clock::time_point started_;
    std::mutex mutex_;
    Slot slots_[kChannelCount];
    int passed_ = 0;
    int failed_ = 0;
    bool statusShown_ = false;
};

// Runs until the slots end: the first stop request (Ctrl-C, SIGTERM) lets
// flashes in progress finish, a second stops every channel at once.
void RunUntilEnded(engine::Station& station, const StationCommandOptions& options,
                   StationFront& front) {
    const Clock::time_point start = Clock::now();
    bool finishing = false;
    bool asked = false;  // the operator's first stop request came
    bool stopped = false;
    while (!station.WaitEnded(kRunnerWaitMs)) {
        if (platform::StopRequested()) {
            platform::ClearStopRequest();
            if (asked && !stopped) {
                stopped = true;
                front.Note("stopping: every channel stopped at once");
                station.Stop();
            } else if (!asked && finishing) {
                front.Note("finishing already: Ctrl-C again stops at once");
            }
            asked = true;
        }
        const bool timeUp = options.forSeconds > 0 &&
                            Clock::now() - start >= std::chrono::seconds(options.forSeconds);
        const bool counted = options.count > 0 && station.Passed() >= options.count;
        if (!finishing && (asked || timeUp || counted)) {
            finishing = true;
            front.Note(std::string("finishing: flashes in progress end, no new one starts") +
                       (asked ? " (Ctrl-C again stops at once)" : ""));
            station.Finish();
        }
    }
    station.Join();
}

int RunStation(const StationCommandOptions& options) {
    const DownloadOptions& d = options.download;
    VARKO_ClearImages();
    for (const ImageChoice& image : d.images) {
        if (VARKO_SetImage(image.slot, image.path.c_str(), image.address.c_str()) < 0)
            return Usage("cannot use " + image.path + " at " + image.address);
    }
    StationFront front(d.ports, options.json, platform::IsLiveConsole(stdout));
    engine::StationOptions so;
    so.comPorts = d.ports;
    so.baud = d.baud;
    so.writeDelayMs = d.delay;
    so.retries = options.retries;
    platform::ClearStopRequest();
    platform::InstallConsoleSignals();
    engine::Station station(so, &front, &front);
    if (!station.Start()) {
        station.Join();
        platform::PrintText(stderr, "kelvane-cli station: no slot could start\n");
        return 1;
    }
    RunUntilEnded(station, options, front);
    front.Finish();
    // A slot whose port never opened flashed nothing it was given.
    return station.Failed() == 0 && station.Refused() == 0 ? 0 : 1;
}

}  // namespace

int RunStationCommand(const std::vector<std::string>& args) {
    StationCommandOptions options;
    std::string error;
    if (!ParseStation(args, &options, &error) || !UseStartFolder(options.download, &error))
        return Usage(error);
    Console prompt(stderr, false);
    platform::SetOperatorPrompt(&prompt);
    int status = 2;
    if (!ApplySettings(&options.download, &error) || !ResolveImages(&options.download, &error)) {
        Usage(error);
    } else {
        StationRecords records([&options] { return AbsolutePath(options.download.set); });
        status = RunStation(options);
    }
    platform::SetOperatorPrompt(nullptr);
    return status;
}

}  // namespace cli
