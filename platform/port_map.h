// The port map: which device a COM number names. COM number n is the device
// given by key "COM<n>" of section "PORTS" in "Kelvane_ports.ini" in the start
// directory; without an entry it is /dev/ttyS<n-1>. Entries may also carry a
// display name under "NAME<n>" (the handset simulator names its ports so).
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kPortMapFileName = "Kelvane_ports.ini";
inline constexpr const char* kPortMapSection = "PORTS";

// Folder holding the port map; set once at start (default: the current
// directory when first asked).
void PortMap_SetDirectory(const std::string& folder);
std::string PortMap_File();

// The device path for COM number n ("" for n < 1).
std::string PortMap_DevicePath(int comNumber);

}  // namespace platform
