// COM numbers for serial devices the system finds. A device on a USB port
// keeps its number across unplugging and restarts: the number belongs to the
// physical location (udev's ID_PATH) and is recorded in the port map beside
// the pinned entries, as "USB<n>" = location, with "COM<n>" = the device it
// is now. The first sight of a location takes the lowest free number
// (neither in the map nor an on-board UART's);
// pinned entries (a COM<n> without USB<n>) are never renumbered. An on-board
// UART /dev/ttyS<k> is COM<k+1>, as the port map's fallback names it.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/serial_ports.h"

namespace platform {

struct DetectedDevice {
    std::string devicePath;  // "/dev/ttyACM0"
    std::string location;    // ID_PATH: the same for the same physical port
    std::string name;        // model, USB interface text and driver
};

// Lists the serial devices the system knows now (tests inject a fake).
class DeviceEnumerator {
public:
    virtual ~DeviceEnumerator() = default;
    virtual std::vector<DetectedDevice> Enumerate() = 0;
};

class PortNumbering {
public:
    // Works on the port map file (read anew at every call).
    explicit PortNumbering(std::string mapFile);

    // The device's COM number, recording it first when its location is new;
    // 0 when the device cannot be numbered (no location, or no number free).
    int NumberFor(const DetectedDevice& device);
    // The number recorded for a location, 0 when none.
    int RecordedNumber(const std::string& location) const;
    // Keeps the numbers of the on-board UARTs among devices from being given
    // to a new location: they are listed under those numbers.
    void ReserveOnBoard(const std::vector<DetectedDevice>& devices);
    // True when the number the device would have belongs to another device:
    // an on-board UART's number that the port map gives to another path, or
    // a location's recorded number that a named entry has taken since.
    bool HeldByAnother(const DetectedDevice& device,
                       const std::vector<SerialPortInfo>& named) const;

private:
    std::string file_;
    std::set<int> reserved_;
};

// The serial ports: the port map's named entries, then the enumerated devices
// with their numbers. A COM number is never listed for two devices: a device
// whose number the port map gives to another one is listed with number 0
// (no COM number opens it).
std::vector<SerialPortInfo> ListSerialPorts(DeviceEnumerator& enumerator, PortNumbering& numbering);

// The system's enumerator (udev where available; otherwise one that finds
// nothing).
std::unique_ptr<DeviceEnumerator> MakeSystemDeviceEnumerator();

}  // namespace platform
