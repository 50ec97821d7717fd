// Serial devices where the system offers no enumeration: the port map's
// named entries only, and no events.
#include "platform/port_map.h"
#include "platform/port_numbering.h"

namespace platform {
namespace {

class NoDevices : public DeviceEnumerator {
public:
    std::vector<DetectedDevice> Enumerate() override { return {}; }
};

class NamedPortsOnly : public SerialPortSource {
public:
    std::vector<SerialPortInfo> List() override { return PortMap_NamedPorts(); }
};

class NoEvents : public PortEventSource {
public:
    void Start(PortEventCallback) override {}
};

}  // namespace

std::unique_ptr<DeviceEnumerator> MakeSystemDeviceEnumerator() {
    return std::make_unique<NoDevices>();
}

std::unique_ptr<SerialPortSource> MakeSystemSerialPortSource() {
    return std::make_unique<NamedPortsOnly>();
}

std::unique_ptr<PortEventSource> MakeSystemPortEventSource() {
    return std::make_unique<NoEvents>();
}

}  // namespace platform
