// Whether a COM number's device is there now, and which one: a station slot
// looks at it to see a handset arrive and leave.
#pragma once

#include <string>

namespace platform {

// The device COM number n names now, "" while there is none. Two handsets
// one after the other on the same port may give the same text; one leaving
// always gives "" until the next is there.
std::string PortDeviceNow(int comNumber);

}  // namespace platform
