// The system's list of serial ports: (device name, COM number) pairs, the
// stand-in for the registry's serial-port map, and arrival/removal events.
// Both go through interfaces, so tests inject a fake list and fake events.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct SerialPortInfo {
    std::string name;        // what the device calls itself ("kvmodem-sim2", a USB interface text)
    int comNumber = 0;       // the number the port map gives it; 0: no number opens it
    std::string devicePath;  // "/dev/ttyACM0", "/dev/pts/7"
};

// Lists the serial ports in a stable order.
class SerialPortSource {
public:
    virtual ~SerialPortSource() = default;
    virtual std::vector<SerialPortInfo> List() = 0;
};

struct PortEvent {
    enum class Kind { kArrival, kRemoval };
    Kind kind = Kind::kArrival;
    SerialPortInfo port;
};

using PortEventCallback = std::function<void(const PortEvent&)>;

// Port arrivals and removals. From Start on, each event is handed to the
// callback on a thread of the source's own; the destructor stops the
// delivery and waits for a callback that is running.
class PortEventSource {
public:
    virtual ~PortEventSource() = default;
    virtual void Start(PortEventCallback callback) = 0;
};

// A handset's port calls itself "kvmodem" followed by at least one more
// character (compared byte for byte, case-sensitive), anywhere in its name.
bool IsHandsetPortName(const std::string& name);

// The handset ports of a port list, in list order; a port without a COM
// number is skipped (nothing could open it).
std::vector<SerialPortInfo> HandsetPorts(const std::vector<SerialPortInfo>& ports);

// The named entries of the port map (NAME<n> beside COM<n>), as the handset
// simulator pins them.
std::vector<SerialPortInfo> PortMap_NamedPorts();

// The system's serial ports: the named port-map entries, then the serial
// devices the system enumerates.
std::unique_ptr<SerialPortSource> MakeSystemSerialPortSource();
// Arrivals and removals of the system's serial devices (a source that never
// reports anything where the system offers no events).
std::unique_ptr<PortEventSource> MakeSystemPortEventSource();

}  // namespace platform
