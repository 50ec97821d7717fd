#include "sim/crc32.h"

#include <array>

namespace sim {
namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        table[i] = v;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t count) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i)
        reg = (reg >> 8) ^ kTable[(reg ^ data[i]) & 0xFF];
    return reg ^ 0xFFFFFFFFu;
}

}  // namespace sim
