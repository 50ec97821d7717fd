// Broken-down Coordinated Universal Time, from the system's thread-safe call.
#pragma once

#include <ctime>

namespace platform {

// The calendar time of seconds (since the epoch) in UTC; all zero when the
// system cannot tell it.
std::tm UtcTime(std::time_t seconds);

}  // namespace platform
