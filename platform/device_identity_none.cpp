// Device identity where the system offers no device database: unknown.
#include "platform/device_identity.h"

namespace platform {

DeviceIdentity LookUpDeviceIdentity(const std::string&) {
    return {};
}

}  // namespace platform
