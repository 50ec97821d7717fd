// The system's serial ports on Linux.
#include "platform/serial_ports.h"

namespace platform {
namespace {

class SystemPortSource : public SerialPortSource {
public:
    std::vector<SerialPortInfo> List() override { return PortMap_NamedPorts(); }
};

class NoEvents : public PortEventSource {
public:
    int fd() const override { return -1; }
    std::vector<PortEvent> ReadEvents() override { return {}; }
};

}  // namespace

std::unique_ptr<SerialPortSource> MakeSystemSerialPortSource() {
    return std::make_unique<SystemPortSource>();
}

std::unique_ptr<PortEventSource> MakeSystemPortEventSource() {
    return std::make_unique<NoEvents>();
}

}  // namespace platform
