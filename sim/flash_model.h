// The handset's flash as far as the host has touched it: a sparse set of
// ranges that were erased (0xFF) or written. Ranges that overlap or touch are
// merged, so every range is maximal and the ranges never overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace sim {

struct FlashRange {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t crc32 = 0;  // CRC-32 of the range's bytes
};

class FlashModel {
public:
    // Sets [address, address + length) to 0xFF. The caller keeps the range
    // inside 32 bits.
    void Erase(uint32_t address, size_t length);
    // Stores data at address; later bytes replace earlier ones.
    void Write(uint32_t address, const uint8_t* data, size_t length);
    // Forgets the contents; what was erased stays known as erased.
    void Clear() { ranges_.clear(); }
    // True when every byte of [address, address + length) was erased at
    // least once since the model was made: flash cells that were never
    // erased cannot be written.
    bool Erased(uint32_t address, size_t length) const;

    // The ranges in address order.
    std::vector<FlashRange> Ranges() const;
    // Copies [address, address + length) into out; false (and out untouched)
    // unless one range holds all of it.
    bool Read(uint32_t address, size_t length, std::vector<uint8_t>* out) const;
    // All bytes of all ranges, concatenated in address order.
    std::vector<uint8_t> Concatenated() const;
    uint64_t ByteCount() const;

private:
    // Places length bytes at address: data, or 0xFF when data is null.
    void Place(uint32_t address, const uint8_t* data, size_t length);

    std::map<uint32_t, std::vector<uint8_t>> ranges_;  // by start address
    // Every range ever erased, merged: start -> end (exclusive).
    std::map<uint64_t, uint64_t> erased_;
};

}  // namespace sim
