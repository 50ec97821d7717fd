#include "sim/dump.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sim {
namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Temporary file in the same folder, synced, then renamed over the target.
bool ReplaceFile(const std::string& path, const uint8_t* data, size_t length, std::string* error) {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, data, length) && ::fsync(fd) == 0;
    if (!ok) *error = temporary + ": " + std::strerror(errno);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

std::string IndexText(const FlashModel& flash) {
    std::string text;
    for (const FlashRange& range : flash.Ranges()) {
        char line[32];
        std::snprintf(line, sizeof line, "%08X %08X %08X\n", range.address, range.length,
                      range.crc32);
        text += line;
    }
    return text;
}

bool WriteDump(const std::string& dir, const std::string& name, const FlashModel& flash,
               std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // an existing folder is fine too
    const std::string base = dir + "/" + name;
    const std::vector<uint8_t> bytes = flash.Concatenated();
    const std::string indexText = IndexText(flash);
    // The image first: whoever sees the new index finds the matching image.
    return ReplaceFile(base + ".bin", bytes.data(), bytes.size(), error) &&
           ReplaceFile(base + ".idx", reinterpret_cast<const uint8_t*>(indexText.data()),
                       indexText.size(), error);
}

}  // namespace sim
