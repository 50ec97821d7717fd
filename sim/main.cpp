// kelvane-sim: the handset simulator as a program.
#include <signal.h>

#include <cstdio>

#include "platform/version.h"
#include "sim/options.h"
#include "sim/simulator.h"

namespace {

// Blocks until SIGINT or SIGTERM arrives (the signals are blocked in every
// thread and taken here synchronously).
void WaitForStopSignal(const sigset_t& signals) {
    const struct timespec slice { 1, 0 };
    for (;;) {
        const int signal = ::sigtimedwait(&signals, nullptr, &slice);
        if (signal == SIGINT || signal == SIGTERM) return;
    }
}

void LogLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

// One line per arrival and departure, flushed so a script can follow.
void PrintEvent(const sim::ChannelEvent& event) {
    if (event.arrived) {
        std::printf("COM%d %s %s %s\n", event.comNumber, event.link.c_str(), event.name.c_str(),
                    event.serial.c_str());
    } else {
        std::printf("left COM%d %s %s\n", event.comNumber, event.name.c_str(),
                    event.serial.c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (platform::AnswerStandardOption(argc, argv, "kelvane-sim")) return 0;
    sim::SimOptions options;
    std::string error;
    switch (sim::ParseCommandLine(argc, argv, &options, &error)) {
        case sim::CommandLine::kHelp:
            std::fputs(sim::UsageText().c_str(), stdout);
            return 0;
        case sim::CommandLine::kError:
            std::fprintf(stderr, "kelvane-sim: %s\n", error.c_str());
            return 2;
        case sim::CommandLine::kRun:
            break;
    }
    options.log = LogLine;
    options.onEvent = PrintEvent;
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any handset thread starts

    sim::Simulator simulator(options);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "kelvane-sim: %s\n", error.c_str());
        return 1;
    }
    for (const sim::PortInfo& port : simulator.Ports()) {
        if (options.swap) break;  // PrintEvent told the first arrivals
        std::printf("COM%d %s %s\n", port.comNumber, port.device.c_str(), port.name.c_str());
    }
    std::fflush(stdout);
    WaitForStopSignal(signals);
    simulator.Stop();
    return 0;
}
