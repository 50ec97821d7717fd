// CRC-32 (IEEE 802.3, zip) of byte ranges and whole files: a display value
// for the operator, never sent to the handset.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a CRC-32: start with 0 for a new range.
uint32_t VARKO_Crc32(uint32_t crc, const uint8_t* data, size_t length);

// CRC-32 of a whole file, read in blocks; false when it cannot be read.
bool VARKO_FileCrc32(const char* path, uint32_t* crc);
