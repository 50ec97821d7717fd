// The named entries of the port map: NAME<n> beside COM<n>.
#include <strings.h>
#include <cstdlib>

#include "platform/ini.h"
#include "platform/port_map.h"
#include "platform/serial_ports.h"

namespace platform {
namespace {

// n of a key "NAME<n>", 0 for any other key.
int NameKeyNumber(const std::string& key) {
    if (key.size() < 5 || strncasecmp(key.c_str(), "NAME", 4) != 0) return 0;
    int n = 0;
    for (size_t i = 4; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9' || n > 100000) return 0;
        n = n * 10 + (key[i] - '0');
    }
    return n;
}

}  // namespace

bool IsHandsetPortName(const std::string& name) {
    static constexpr char kMarker[] = "kvmodem";
    const size_t at = name.find(kMarker);
    return at != std::string::npos && at + sizeof kMarker - 1 < name.size();
}

std::vector<SerialPortInfo> PortMap_NamedPorts() {
    std::vector<SerialPortInfo> ports;
    const std::string file = PortMap_File();
    for (const auto& [key, value] : IniReadSection(kPortMapSection, file.c_str())) {
        const int n = NameKeyNumber(key);
        if (n <= 0 || value.empty()) continue;
        ports.push_back(SerialPortInfo{value, n, PortMap_DevicePath(n)});
    }
    return ports;
}

}  // namespace platform
