#include "engine/crc32.h"

#include <array>
#include <cstdio>
#include <vector>

#include "platform/files.h"

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t VARKO_Crc32(uint32_t crc, const uint8_t* data, size_t length) {
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        c = (c >> 8) ^ kTable[(c ^ data[i]) & 0xFF];
    return c ^ 0xFFFFFFFFu;
}

bool VARKO_FileCrc32(const char* path, uint32_t* crc) {
    FILE* file = platform::OpenRegularFile(path);  // a FIFO or /dev/zero would never end
    if (file == nullptr) return false;
    std::vector<uint8_t> block(1 << 16);
    uint32_t c = 0;
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0)
        c = VARKO_Crc32(c, block.data(), n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (ok) *crc = c;
    return ok;
}
