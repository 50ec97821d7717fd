#include <filesystem>
#include <system_error>

#include "platform/port_map.h"
#include "platform/port_presence.h"

namespace platform {

// The port map's entry with its links followed, read anew each time: an entry
// may name a link that comes and goes with the handset or is pointed at each
// new one.
std::string PortDeviceNow(int comNumber) {
    std::error_code error;
    const auto device = std::filesystem::canonical(PortMap_DevicePath(comNumber), error);
    return error ? std::string() : device.string();
}

}  // namespace platform
