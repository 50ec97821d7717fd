// kelvane-cli download: one session on the given ports.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/options.h"
#include "engine/session.h"
#include "link/serial.h"
#include "platform/port_map.h"
#include "platform/tick.h"

namespace cli {
namespace {

std::atomic<bool> g_interrupted{false};
bool g_stopped = false;

void OnSignal(int) {
    g_interrupted = true;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The runner's pump: a console has no messages; it stops every channel once
// the operator pressed Ctrl-C.
void ConsolePump(int maxWaitMs) {
    if (g_interrupted && !g_stopped) {
        g_stopped = true;
        for (int ch = 0; ch < kChannelCount; ++ch)
            VARKO_StopChannel(ch);
    }
    if (maxWaitMs > 0) platform::Sleep(static_cast<uint32_t>(maxWaitMs));
}

int Usage(const std::string& reason) {
    std::fprintf(stderr, "kelvane-cli download: %s\n", reason.c_str());
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
    g_nWriteDelay = options.delay;
    g_interrupted = false;
    g_stopped = false;
    InstallSignalHandlers();
    VARKO_SetPumpHook(&ConsolePump);
    VARKO_StartSession(&console, NotifyMessage, ports, options.baud);
    VARKO_RunSession(options.restart ? 0 : 1);
    VARKO_StopSession();
    VARKO_SetPumpHook(nullptr);
    console.Finish();

    int failed = 0;
    for (size_t ch = 0; ch < options.ports.size(); ++ch) {
        const bool ok = console.Completed(static_cast<int>(ch)) && !g_interrupted;
        failed += ok ? 0 : 1;
        console.Line("CH" + std::to_string(ch) + " COM" + std::to_string(options.ports[ch]) +
                     (ok ? " OK" : " FAILED"));
    }
    if (g_interrupted) console.Line("interrupted: every channel stopped");
    return failed == 0 && !g_interrupted ? 0 : 1;
}

}  // namespace

int RunDownloadCommand(const std::vector<std::string>& args) {
    DownloadOptions options;
    std::string error;
    if (!ParseDownload(args, &options, &error) || !ResolveImages(&options, &error)) {
        return Usage(error);
    }
    if (!options.dir.empty()) platform::PortMap_SetDirectory(options.dir);
    Console console(stdout, ::isatty(STDOUT_FILENO) == 1);
    platform::SetOperatorPrompt(&console);
    const int status = RunSession(options, console);
    platform::SetOperatorPrompt(nullptr);
    return status;
}

}  // namespace cli
