// kelvane-cli: the station engineer's and the script's way to flash handsets.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/console_text.h"
#include "platform/version.h"

namespace {

const char* const kHeader =
    "Usage: kelvane-cli <command> [options]\n"
    "   or: kelvane-cli --help | --version\n"
    "\n"
    "commands:\n";

// Each command with its part of the usage text; "kelvane-cli COMMAND --help"
// prints that part alone.
struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
    const char* usage;
};

const Command kCommands[] = {
    {"download", &cli::RunDownloadCommand,
     "  download --port N[,N...] --image SLOT=PATH[@HEXADDR] ... [--baud B] [--delay MS]\n"
     "           [--restart] [--repeat N] [--dir DIR]\n"
     "  download --set FILE.vrk [--port N[,N...] | --auto] [--baud B] [--delay MS]\n"
     "           [--repeat N] [--dir DIR]\n"
     "      flash every port (channel 0 takes the first) with the images in slot order.\n"
     "      SLOT is 0..11 or a name: Pbl QcSblHD MIB1 MIB2 QcSbl OemSbl BootLoader UsbBoot\n"
     "      Modem Rsrc1 Rsrc2 FileSys (or FactoryFS). Without @HEXADDR the address\n"
     "      comes from the image's trailer. --baud defaults to 1382400, --delay (ms\n"
     "      before each write) to 2; --restart runs the handset restart step first;\n"
     "      --dir is the start folder holding Kelvane_3.ini and Kelvane_ports.ini\n"
     "      (default: the current one); --repeat runs N sessions back to back\n"
     "      (burn-in). With --set the ticked Modem, Rsrc1, Rsrc2 and FactoryFS rows of\n"
     "      the image set go, and ports, baud rate and delay not given come from\n"
     "      Kelvane_3.ini (CH0_PORT..CH7_PORT, BAUDRATE, DELAY). --auto takes the\n"
     "      channels from a port search: the handset ports, in list order.\n"
     "      Exit status: 0 every channel completed, 1 any failed, 2 bad arguments.\n"},
    {"station", &cli::RunStationCommand,
     "  station --port N[,N...] --image SLOT=PATH[@HEXADDR] ... [--baud B] [--delay MS]\n"
     "          [--retries N] [--count N] [--for DURATION] [--json] [--dir DIR]\n"
     "  station --set FILE.vrk [--port N[,N...] | --auto] [options as above]\n"
     "      every port is a slot: each handset that arrives on it is flashed with the\n"
     "      images as download sends them, its result printed, and the slot waits\n"
     "      for the handset to go and the next to come. --retries retries a flash\n"
     "      that failed on the link (default 0). Runs until Ctrl-C or SIGTERM (the\n"
     "      first lets flashes in progress finish, a second stops every channel at\n"
     "      once), until --count handsets passed, or --for DURATION (90s, 5m, 2h).\n"
     "      One line per handset: time, channel, COM number, identity, result with\n"
     "      the channel's last text, seconds. --json prints one object per event\n"
     "      (arrived, started, progress, passed, failed, gone, stopped) instead, the\n"
     "      texts going to stderr. Exit status: 0 every handset that started passed,\n"
     "      1 any failed, 2 bad arguments or images.\n"},
    {"set", &cli::RunSetCommand,
     "  set show [FILE.vrk]\n"
     "      list an image set as the window shows it (default: the one in use).\n"},
    {"ports", &cli::RunPortsCommand,
     "  ports [--dir DIR]\n"
     "      list the serial ports: COM number, device, name, and whether it is a\n"
     "      handset port.\n"},
    {"udev-rule", &cli::RunUdevRuleCommand,
     "  udev-rule\n"
     "      print a udev rule for handset ports (see the README).\n"},
    {"records", &cli::RunRecordsCommand,
     "  records [--since DATE] [--until DATE] [--channel N] [--failed] [--serial TEXT]\n"
     "          [--format table|csv|json] [--summary [--by hour|day|channel]]\n"
     "          [--dir DIR]\n"
     "      the station's records (Kelvane_records.db in the start folder), newest\n"
     "      first: one per channel and session, or per handset and attempt of a\n"
     "      station. DATE is YYYY-MM-DD[THH:MM[:SS]] (UTC) or today; --until includes\n"
     "      all of the date or minute given. --failed keeps every result but\n"
     "      completed; --serial matches part of the port's USB serial number. json\n"
     "      prints one object per line.\n"
     "      --summary counts the selected records instead, in one line or one per\n"
     "      hour, day (UTC, of the channel start) or channel: passed (completed),\n"
     "      failed, yield % (passed of passed and failed), handsets per hour (passed\n"
     "      per hour from the first channel start to the last channel end), and\n"
     "      stopped and interrupted apart (in neither the yield nor the rate).\n"},
    {"trailer", &cli::RunTrailerCommand,
     "  trailer FILE...\n"
     "      show each file's trailer (address, kind, type) and its CRC-32.\n"},
    {"make-image", &cli::RunMakeImageCommand,
     "  make-image FILE --size N[K|M] --address HEX [--kind TEXT] [--type TEXT]\n"
     "             [--seed N] [--no-trailer] [--force]\n"
     "      write a test image of pseudo-random data with a trailer (type \"bin\",\n"
     "      \"rc1\", \"rc2\", \"ffs\", \"usb\", \"mbn\", \"fota\"). An existing file is\n"
     "      replaced only with --force, and only a regular file.\n"},
};

void PrintUsage(FILE* out) {
    std::fputs(kHeader, out);
    for (const Command& command : kCommands)
        std::fputs(command.usage, out);
}

bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    platform::TakeArgumentsAsUtf8(&argc, &argv);
    if (platform::AnswerStandardOption(argc, argv, "kelvane-cli")) return 0;
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (name != command.name) continue;
        if (!AsksForHelp(args)) return command.run(args);
        platform::PrintText(stdout, "Usage: kelvane-cli %s [options]\n\n%s", command.name,
                            command.usage);
        return 0;
    }
    platform::PrintText(stderr, "kelvane-cli: unknown command '%s' (try --help)\n", name.c_str());
    return 2;
}
