// Numbers on the command line: decimal, or hexadecimal with 0x.
#pragma once

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace sim {

inline bool ParseNumber(const std::string& text, uint64_t* out) {
    size_t from = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        from = 2;
    }
    if (from >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[from]))) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str() + from, &end, base);
    if (errno != 0 || *end != '\0') return false;
    *out = value;
    return true;
}

}  // namespace sim
