// CRC-32 (IEEE 802.3, as used by zip): reflected polynomial 0xEDB88320,
// preset and final XOR 0xFFFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

uint32_t Crc32(const uint8_t* data, size_t count);

}  // namespace sim
