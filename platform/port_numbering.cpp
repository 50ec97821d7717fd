#include "platform/port_numbering.h"

#include <strings.h>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/ini.h"
#include "platform/port_map.h"

namespace platform {
namespace {

constexpr int kMaxComNumber = 255;
constexpr size_t kTtySPrefix = 9;  // "/dev/ttyS"

// n of a key "<prefix><n>", 0 for any other key.
int KeyNumber(const std::string& key, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (key.size() <= length || strncasecmp(key.c_str(), prefix, length) != 0) return 0;
    int n = 0;
    for (size_t i = length; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9' || n > kMaxComNumber) return 0;
        n = n * 10 + (key[i] - '0');
    }
    return n;
}

// k + 1 for /dev/ttyS<k>, 0 for any other device.
int OnBoardNumber(const std::string& devicePath) {
    if (devicePath.compare(0, kTtySPrefix, "/dev/ttyS") != 0) return 0;
    const int k = KeyNumber("N" + devicePath.substr(kTtySPrefix), "N");
    return k > 0 || devicePath == "/dev/ttyS0" ? k + 1 : 0;
}

}  // namespace

PortNumbering::PortNumbering(std::string mapFile) : file_(std::move(mapFile)) {}

int PortNumbering::RecordedNumber(const std::string& location) const {
    for (const auto& [key, value] : IniReadSection(kPortMapSection, file_.c_str())) {
        const int n = KeyNumber(key, "USB");
        if (n > 0 && value == location) return n;
    }
    return 0;
}

int PortNumbering::NumberFor(const DetectedDevice& device) {
    const int onBoard = OnBoardNumber(device.devicePath);
    if (onBoard > 0) return onBoard;
    if (device.location.empty()) return 0;
    int n = RecordedNumber(device.location);
    if (n == 0) {
        std::set<int> taken = reserved_;
        for (const auto& [key, value] : IniReadSection(kPortMapSection, file_.c_str())) {
            taken.insert(KeyNumber(key, "COM"));
            taken.insert(KeyNumber(key, "USB"));
        }
        for (n = 1; n <= kMaxComNumber && taken.count(n) != 0; ++n) {
        }
        if (n > kMaxComNumber) return 0;
        const std::string usbKey = "USB" + std::to_string(n);
        if (!IniWriteString(kPortMapSection, usbKey.c_str(), device.location.c_str(),
                            file_.c_str())) {
            return 0;
        }
    }
    // The device node may differ from the last sighting (ttyACM0, ttyACM1).
    const std::string comKey = "COM" + std::to_string(n);
    char current[1024];
    IniReadString(kPortMapSection, comKey.c_str(), "", current, sizeof current, file_.c_str());
    if (device.devicePath != current) {
        IniWriteString(kPortMapSection, comKey.c_str(), device.devicePath.c_str(), file_.c_str());
    }
    return n;
}

void PortNumbering::ReserveOnBoard(const std::vector<DetectedDevice>& devices) {
    for (const DetectedDevice& device : devices) {
        const int n = OnBoardNumber(device.devicePath);
        if (n > 0) reserved_.insert(n);
    }
}

bool PortNumbering::HeldByAnother(const DetectedDevice& device,
                                  const std::vector<SerialPortInfo>& named) const {
    const int onBoard = OnBoardNumber(device.devicePath);
    if (onBoard > 0) return PortMap_DevicePath(onBoard) != device.devicePath;
    const int recorded = device.location.empty() ? 0 : RecordedNumber(device.location);
    for (const SerialPortInfo& port : named) {
        if (recorded > 0 && port.comNumber == recorded && port.devicePath != device.devicePath) {
            return true;
        }
    }
    return false;
}

std::vector<SerialPortInfo> ListSerialPorts(DeviceEnumerator& enumerator,
                                            PortNumbering& numbering) {
    std::vector<SerialPortInfo> ports = PortMap_NamedPorts();
    const std::vector<SerialPortInfo> named = ports;
    const std::vector<DetectedDevice> devices = enumerator.Enumerate();
    numbering.ReserveOnBoard(devices);
    for (const DetectedDevice& device : devices) {
        if (numbering.HeldByAnother(device, named)) {
            ports.push_back(SerialPortInfo{device.name, 0, device.devicePath});
            continue;
        }
        const int n = numbering.NumberFor(device);
        if (n > 0) ports.push_back(SerialPortInfo{device.name, n, device.devicePath});
    }
    return ports;
}

}  // namespace platform
