// Millisecond tick and sleep, the stand-ins for GetTickCount and Sleep.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds from a steady clock, truncated to 32 bits (wraps like a tick count).
uint32_t GetTickCount();

// Sleeps the calling thread for the given milliseconds (0 yields).
void Sleep(uint32_t milliseconds);

}  // namespace platform
