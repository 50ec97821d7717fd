// kelvane-cli download: one session on the given ports.
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/download.h"
#include "cli/image_set_choice.h"
#include "cli/options.h"
#include "cli/ports.h"
#include "cli/station_records.h"
#include "config/settings.h"
#include "engine/session.h"
#include "platform/console_signals.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"
#include "platform/terminal.h"
#include "platform/tick.h"

namespace cli {
namespace {

bool g_stopped = false;

// The runner's pump: a console has no messages; it stops every channel once
// the operator pressed Ctrl-C, and otherwise waits for the channels to end.
void ConsolePump(int maxWaitMs) {
    if (platform::StopRequested() && !g_stopped) {
        g_stopped = true;
        for (int ch = 0; ch < kChannelCount; ++ch)
            VARKO_StopChannel(ch);
    }
    VARKO_WaitForChannelsEnded(maxWaitMs);
}

int Usage(const std::string& reason) {
    platform::PrintText(stderr, "kelvane-cli download: %s\n", reason.c_str());
    return 2;
}

int RunSession(const DownloadOptions& options, Console& console) {
    VARKO_ClearImages();
    for (const ImageChoice& image : options.images) {
        if (VARKO_SetImage(image.slot, image.path.c_str(), image.address.c_str()) < 0) {
            return Usage("cannot use " + image.path + " at " + image.address);
        }
    }
    int ports[kChannelCount] = {};
    for (size_t ch = 0; ch < options.ports.size(); ++ch)
        ports[ch] = options.ports[ch];
    platform::ClearStopRequest();
    g_stopped = false;
    platform::InstallConsoleSignals();
    VARKO_SetPumpHook(&ConsolePump);
    VARKO_StartSession(&console, NotifyMessage, ports, options.baud, options.delay);
    VARKO_RunSession(options.restart ? 0 : 1);
    VARKO_StopSession();
    VARKO_SetPumpHook(nullptr);
    console.Finish();

    int failed = 0;
    for (size_t ch = 0; ch < options.ports.size(); ++ch) {
        if (options.ports[ch] == 0) continue;
        const engine::ChannelOutcome outcome = engine::LastChannelOutcome(static_cast<int>(ch));
        const bool ok = outcome.ended && outcome.result == engine::ChannelResult::kCompleted &&
                        !platform::StopRequested();
        failed += ok ? 0 : 1;
        console.Line("CH" + std::to_string(ch) + " COM" + std::to_string(options.ports[ch]) +
                     (ok ? " OK" : " FAILED"));
    }
    if (platform::StopRequested()) console.Line("interrupted: every channel stopped");
    return failed == 0 && !platform::StopRequested() ? 0 : 1;
}

// Runs the session as often as asked; 0 only when every round completed.
int RunSessions(const DownloadOptions& options, Console& console) {
    int failedRounds = 0;
    for (int round = 1; round <= options.repeat; ++round) {
        if (options.repeat > 1) {
            console.Line("round " + std::to_string(round) + " of " +
                         std::to_string(options.repeat));
        }
        console.ResetProgress();
        const int status = RunSession(options, console);
        if (status == 2 || platform::StopRequested()) return status;
        failedRounds += status != 0 ? 1 : 0;
    }
    if (options.repeat > 1) {
        console.Line(std::to_string(options.repeat - failedRounds) + " of " +
                     std::to_string(options.repeat) + " rounds completed on every channel");
    }
    return failedRounds == 0 ? 0 : 1;
}

}  // namespace

// False, naming every value or file that could not be used, when reading
// found one; without --set the image set in use takes no part.
bool Usable(const config::ReadProblems& problems, bool settingsOnly, std::string* error) {
    const std::string settingsFile = StartDirectoryFile(kSettingsFileName);
    std::vector<std::string> lines;
    for (const config::ReadProblem& problem : problems) {
        if (!settingsOnly || problem.file == settingsFile) lines.push_back(problem.text);
    }
    *error = JoinLines(lines);
    return lines.empty();
}

// Takes from the settings file what the command line left open, and the
// images from the image set when one is given.
bool ApplySettings(DownloadOptions* options, std::string* error) {
    const bool needSettings = !options->set.empty() || options->ports.empty() ||
                              options->autoPorts || !options->baudGiven || !options->delayGiven;
    if (!needSettings) return true;
    if (!options->set.empty() && !platform::IsReadable(options->set)) {
        *error = "cannot read " + options->set;
        return false;
    }
    config::ReadProblems problems;
    ReadSettings(options->set.empty() ? nullptr : options->set.c_str(), &problems);
    if (!Usable(problems, options->set.empty(), error)) return false;
    if (options->autoPorts) {
        options->ports = SearchHandsetPorts(*platform::MakeSystemSerialPortSource());
        if (options->ports.empty()) {
            *error = "--auto found no handset port";
            return false;
        }
    }
    if (options->ports.empty())
        options->ports.assign(g_settings.CH_PORT, g_settings.CH_PORT + kChannelCount);
    if (!options->baudGiven) options->baud = g_settings.BAUDRATE;
    if (!options->delayGiven) options->delay = g_settings.DELAY;
    if (options->set.empty()) return true;
    return ChooseFromImageSet(g_imageSet, &options->images, error);
}

// The image-set file as a record names it: wherever the command ran from.
std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    if (path.empty()) return path;
    const std::filesystem::path absolute =
        std::filesystem::absolute(platform::FileSystemPath(path), error);
    return error ? path : platform::PathText(absolute.lexically_normal());
}

bool UseStartFolder(const DownloadOptions& options, std::string* error) {
    const bool ok = options.dir.empty() ? SetStartDirectoryFromProcess()
                                        : SetStartDirectory(options.dir.c_str());
    if (!ok) {
        *error = "the start folder's path is too long";
        return false;
    }
    platform::PortMap_SetDirectory(g_szCurrentDir);
    return true;
}

int RunDownloadCommand(const std::vector<std::string>& args) {
    DownloadOptions options;
    std::string error;
    if (!ParseDownload(args, &options, &error) || !UseStartFolder(options, &error)) {
        return Usage(error);
    }
    Console console(stdout, platform::IsLiveConsole(stdout));
    platform::SetOperatorPrompt(&console);
    int status = 2;
    if (!ApplySettings(&options, &error) || !ResolveImages(&options, &error)) {
        Usage(error);
    } else {
        StationRecords records([&options] { return AbsolutePath(options.set); });
        status = RunSessions(options, console);
    }
    platform::SetOperatorPrompt(nullptr);
    return status;
}

int RunSetCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "show" || args.size() > 2) {
        platform::PrintText(stderr, "kelvane-cli set: use 'set show [FILE.vrk]'\n");
        return 2;
    }
    std::string error;
    if (!UseStartFolder(DownloadOptions{}, &error)) return Usage(error);
    if (args.size() == 2 && !platform::IsReadable(args[1])) {
        platform::PrintText(stderr, "kelvane-cli set: cannot read %s\n", args[1].c_str());
        return 2;
    }
    Console console(stdout, false);
    platform::SetOperatorPrompt(&console);
    config::ReadProblems problems;
    ReadSettings(args.size() == 2 ? args[1].c_str() : nullptr, &problems);
    platform::SetOperatorPrompt(nullptr);
    if (!Usable(problems, false, &error)) {
        platform::PrintText(stderr, "kelvane-cli set: %s\n", error.c_str());
        return 2;
    }
    platform::PrintText(stdout, "image set %s\n", g_settings.VARKOFILE);
    for (const std::string& line : DescribeImageSet(g_imageSet))
        platform::PrintText(stdout, "%s\n", line.c_str());
    return 0;
}

}  // namespace cli
