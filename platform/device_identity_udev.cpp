// Device identity through libudev: the device node's character device number
// leads to its udev entry and properties.
#include <libudev.h>
#include <sys/stat.h>

#include "platform/device_identity.h"

namespace platform {
namespace {

std::string Property(udev_device* device, const char* key) {
    const char* value = udev_device_get_property_value(device, key);
    return value != nullptr ? value : "";
}

}  // namespace

DeviceIdentity LookUpDeviceIdentity(const std::string& devicePath) {
    DeviceIdentity identity;
    struct stat info {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return identity;
    }
    udev* context = udev_new();
    if (context == nullptr) return identity;
    udev_device* device = udev_device_new_from_devnum(context, 'c', info.st_rdev);
    if (device != nullptr) {
        identity.usbLocation = Property(device, "ID_PATH");
        identity.usbSerial = Property(device, "ID_SERIAL_SHORT");
        udev_device_unref(device);
    }
    udev_unref(context);
    return identity;
}

}  // namespace platform
