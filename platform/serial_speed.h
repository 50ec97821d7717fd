// Inside platform/ only: the line speed of an open POSIX serial device.
#pragma once

#include <cstdint>

namespace platform {

// Sets any baud rate, standard or not; false when the device refuses it.
bool SetLineSpeed(int fd, uint32_t baud);

}  // namespace platform
