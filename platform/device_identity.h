// Where a serial device sits and which USB serial number it carries, as far
// as the system knows them (udev's ID_PATH and ID_SERIAL_SHORT): what the
// station records name a handset's port by.
#pragma once

#include <string>

namespace platform {

struct DeviceIdentity {
    std::string usbLocation;  // ID_PATH ("pci-0000:00:14.0-usb-0:2:1.0"); "" when unknown
    std::string usbSerial;    // ID_SERIAL_SHORT; "" when unknown
};

// Looks the device node up (a pseudo-terminal or a missing node: both empty).
DeviceIdentity LookUpDeviceIdentity(const std::string& devicePath);

}  // namespace platform
