#include "sim/options.h"

#include <functional>

#include "sim/number.h"

namespace sim {
namespace {

bool NumberIn(const std::string& name, const std::string& text, uint64_t low, uint64_t high,
              uint64_t* out, std::string* error) {
    if (ParseNumber(text, out) && *out >= low && *out <= high) return true;
    *error = "bad " + name + " value '" + text + "': expected a number from " +
             std::to_string(low) + " to " + std::to_string(high);
    return false;
}

// Applies one option that takes a value.
bool ApplyValue(const std::string& name, const std::string& value, SimOptions* o,
                std::string* error) {
    uint64_t n = 0;
    if (name == "--dir" || name == "--out") {
        if (value.empty()) *error = "empty " + name + " value";
        (name == "--dir" ? o->dir : o->outDir) = value;
        return !value.empty();
    }
    if (name == "--channels") {
        if (!NumberIn(name, value, 1, kMaxHandsets, &n, error)) return false;
        o->channels = static_cast<int>(n);
    } else if (name == "--first-port") {
        if (!NumberIn(name, value, 1, 255, &n, error)) return false;
        o->firstPort = static_cast<int>(n);
    } else if (name == "--baud") {
        if (!NumberIn(name, value, 0, kMaxBaud, &n, error)) return false;
        o->baud = static_cast<uint32_t>(n);
    } else if (name == "--erase-ms-per-4k") {
        if (!NumberIn(name, value, 0, 60000, &n, error)) return false;
        o->eraseMsPer4k = static_cast<uint32_t>(n);
    } else if (name == "--flash-size") {
        if (!NumberIn(name, value, 1, kMaxFlashSize, &o->flashSize, error)) return false;
    } else if (name == "--swap-ms") {
        if (!NumberIn(name, value, 0, 3600000, &n, error)) return false;
        o->swapMs = static_cast<uint32_t>(n);
    } else if (name == "--leave-ms") {
        if (!NumberIn(name, value, 0, 3600000, &n, error)) return false;
        o->leaveMs = static_cast<uint32_t>(n);
    } else if (name == "--handsets") {
        if (!NumberIn(name, value, 0, kMaxHandsetsPerChannel, &n, error)) return false;
        o->handsets = static_cast<int>(n);
    } else {
        FaultRule rule;
        std::string why;
        if (!ParseFault(value, &rule, &why)) {
            *error = "bad --fault value '" + value + "': " + why;
            return false;
        }
        o->faults.push_back(rule);
    }
    return true;
}

bool TakesValue(const std::string& name) {
    for (const char* known :
         {"--channels", "--dir", "--first-port", "--out", "--baud", "--erase-ms-per-4k",
          "--flash-size", "--fault", "--swap-ms", "--leave-ms", "--handsets"}) {
        if (name == known) return true;
    }
    return false;
}

bool ApplyFlag(const std::string& name, SimOptions* o) {
    if (name == "--dump-on-exit") {
        o->dumpOnExit = true;
    } else if (name == "--verbose") {
        o->verbose = true;
    } else if (name == "--swap") {
        o->swap = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, SimOptions* options,
                             std::string* error) {
    std::string swapOnly;  // the last option given that means nothing without --swap
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") return CommandLine::kHelp;
        if (ApplyFlag(word, options)) continue;
        std::string value;
        const size_t eq = word.find('=');
        bool inlineValue = eq != std::string::npos && word.compare(0, 2, "--") == 0;
        if (inlineValue) {
            value = word.substr(eq + 1);
            word = word.substr(0, eq);
        }
        if (!TakesValue(word)) {
            *error = "unknown option '" + word + "' (see --help)";
            return CommandLine::kError;
        }
        if (!inlineValue && i + 1 >= argc) {
            *error = "option " + word + " needs a value";
            return CommandLine::kError;
        }
        if (!inlineValue) value = argv[++i];
        if (!ApplyValue(word, value, options, error)) return CommandLine::kError;
        if (word == "--swap-ms" || word == "--leave-ms" || word == "--handsets") swapOnly = word;
    }
    if (!swapOnly.empty() && !options->swap) {
        *error = "option " + swapOnly + " needs --swap";
        return CommandLine::kError;
    }
    return ValidateOptions(*options, error) ? CommandLine::kRun : CommandLine::kError;
}

std::string UsageText() {
    return std::string(
               "Usage: kelvane-sim [options]\n"
               "Stands in for up to eight handsets, each on a pseudo-terminal pinned in the\n"
               "port map as COM<n> named kvmodem-sim<k>; prints one line per handset\n"
               "(COM<n> <device> <name>) and serves until SIGINT or SIGTERM, then removes its\n"
               "port map entries.\n"
               "Options (numbers are decimal or 0x-hexadecimal; --opt=value works too):\n"
               "  --channels N          handsets to simulate, 1..8 (default 1)\n"
               "  --dir DIR             folder of Kelvane_ports.ini (default: current folder)\n"
               "  --first-port N        COM number of handset 0 (default 1)\n"
               "  --out DIR             folder of the dumps ch<k>.bin and ch<k>.idx written\n"
               "                        after go (default: the --dir folder)\n"
               "  --baud B              pace both directions at B/10 bytes per second like\n"
               "                        an 8N1 line (default 0: unpaced)\n"
               "  --erase-ms-per-4k MS  erase time per 4 KiB erased (default 0)\n"
               "  --flash-size BYTES    flash size of each handset (default 0x4000000)\n"
               "  --dump-on-exit        also write every handset's dump when stopping\n"
               "  --fault RULE          commit a fault (repeatable, see below)\n"
               "  --swap                handsets come and go: COM<n> names the link\n"
               "                        <dir>/kvmodem-sim<k>.tty to the current handset's\n"
               "                        pseudo-terminal. A handset leaves (the link goes, the\n"
               "                        pseudo-terminal hangs up) once the host has read the\n"
               "                        go's reply or closed the port, after its dump was\n"
               "                        written, and --leave-ms more have passed; or\n"
               "                        --swap-ms after the host closed the port\n"
               "                        following an unlock (answered or not) that got no\n"
               "                        go, unless the host opened it again; or at once when\n"
               "                        its cable is pulled (hangup=N). --swap-ms after it\n"
               "                        left, a handset with erased flash and the next serial\n"
               "                        SIM<k>-<number> arrives. Prints one line per arrival\n"
               "                        (COM<n> <link> <name> <serial>) and per departure\n"
               "                        (left COM<n> <name> <serial>); dumps are\n"
               "                        <serial>.bin and <serial>.idx\n"
               "  --swap-ms MS          the pause of --swap (default 1000)\n"
               "  --leave-ms MS         with --swap, how long a flashed handset stays after\n"
               "                        the host took the go's reply, as if waiting to be\n"
               "                        unplugged (default 0: it leaves at once)\n"
               "  --handsets N          with --swap, handsets per channel in all; after the\n"
               "                        last the channel stays empty (default 0: no end)\n"
               "  --verbose             log every packet, not only the rare events\n"
               "  --help                show this text\n"
               "  --version             show the version\n"
               "The log goes to standard error. Exit codes: 0 after SIGINT/SIGTERM, 1 when the\n"
               "handsets could not be set up, 2 for a bad option.\n\n") +
           FaultHelp();
}

}  // namespace sim
