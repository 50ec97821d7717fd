#include "config/profile.h"

#include <sys/stat.h>

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/ini.h"

namespace config {

bool FileFound(const char* path) {
    struct stat info {};
    if (path == nullptr || path[0] == '\0') return false;
    return ::stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
}

int ReadInt(const char* key, int defaultValue, const char* file) {
    char text[kValueBufferSize];
    platform::GetPrivateProfileString(kSection, key, "", text, sizeof text, file);
    const char* end = text + std::strlen(text);
    long long value = 0;
    auto [stop, error] = std::from_chars(text, end, value);
    if (stop == text) return defaultValue;
    if (error == std::errc::result_out_of_range || value > INT_MAX || value < INT_MIN) {
        return text[0] == '-' ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(value);
}

void ReadText(const char* key, char* out, size_t size, const char* file) {
    platform::GetPrivateProfileString(kSection, key, "", out, static_cast<uint32_t>(size), file);
}

void ProfileWriter::Int(const char* key, int value) {
    char text[kValueBufferSize];
    std::snprintf(text, sizeof text, "%d", value);
    Put(key, text);
}

void ProfileWriter::Text(const char* key, const char* value, size_t bufferSize) {
    char text[kValueBufferSize];
    const size_t length = strnlen(value, bufferSize > 0 ? bufferSize - 1 : 0);
    std::snprintf(text, sizeof text, "%.*s", static_cast<int>(length), value);
    Put(key, text);
}

void ProfileWriter::Put(const char* key, const char* value) {
    if (!platform::WritePrivateProfileString(kSection, key, value, file_)) ok_ = false;
}

}  // namespace config
