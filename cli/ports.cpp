// kelvane-cli ports and udev-rule: the serial ports the system lists, and a
// udev rule that makes handset ports usable and keeps ModemManager off them.
#include <cstdio>

#include "cli/commands.h"
#include "cli/ports.h"
#include "config/settings.h"
#include "link/channel.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"

namespace cli {

std::vector<int> SearchHandsetPorts(platform::SerialPortSource& source) {
    std::vector<int> ports;
    for (const platform::SerialPortInfo& port : platform::HandsetPorts(source.List())) {
        bool held = false;
        for (int n : ports)
            held = held || n == port.comNumber;
        if (!held && ports.size() < static_cast<size_t>(kChannelCount)) {
            ports.push_back(port.comNumber);
        }
    }
    return ports;
}

int RunPortsCommand(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "--dir" && !platform::IsFolder(args[1])) {
        platform::PrintText(stderr, "kelvane-cli ports: --dir: no folder '%s'\n", args[1].c_str());
        return 2;
    }
    if (args.size() == 2 && args[0] == "--dir") {
        platform::PortMap_SetDirectory(args[1]);
    } else if (!args.empty()) {
        platform::PrintText(stderr, "kelvane-cli ports: use 'ports [--dir DIR]'\n");
        return 2;
    }
    auto source = platform::MakeSystemSerialPortSource();
    const auto ports = source->List();
    if (ports.empty()) platform::PrintText(stdout, "no serial ports found\n");
    for (const platform::SerialPortInfo& port : ports) {
        const std::string com = port.comNumber > 0 ? "COM" + std::to_string(port.comNumber) : "-";
        platform::PrintText(stdout, "%-6s %-20s %-40s %s\n", com.c_str(), port.devicePath.c_str(),
                            port.name.c_str(),
                            platform::IsHandsetPortName(port.name) ? "handset" : "-");
    }
    return 0;
}

int RunUdevRuleCommand(const std::vector<std::string>& args) {
    if (!args.empty()) {
        platform::PrintText(stderr, "kelvane-cli udev-rule: takes no arguments\n");
        return 2;
    }
    platform::PrintText(
        stdout,
        "# Kelvane: handset ports (USB interfaces named kvmodem...).\n"
        "# Read-write for the dialout group, and left alone by ModemManager, whose own\n"
        "# AT commands would disturb a handset while it is being flashed.\n"
        "SUBSYSTEM==\"tty\", ATTRS{interface}==\"*kvmodem?*\", GROUP=\"dialout\", MODE=\"0660\", "
        "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
        "SUBSYSTEM==\"usb\", ATTRS{interface}==\"*kvmodem?*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    return 0;
}

}  // namespace cli
