#include "config/profile.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace config {

bool FileFound(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    return platform::PathExists(path) && !platform::IsFolder(path);
}

ProfileReader::ProfileReader(const char* file, ReadProblems* problems)
    : file_(file != nullptr ? file : ""), problems_(problems) {
    switch (ini_.Load(file_.c_str())) {
        case platform::IniLoad::kTooLarge:
            Note(file_ + " is larger than 1 MiB: not read, and not written");
            break;
        case platform::IniLoad::kUnreadable:
            Note(file_ + " cannot be read: not used, and not written");
            break;
        default:
            break;
    }
}

void ProfileReader::Note(const std::string& problem) {
    if (problems_ != nullptr) problems_->push_back({file_, problem});
}

int ProfileReader::Int(const char* key, int defaultValue) const {
    std::string text;
    if (!ini_.Find(kSection, key, &text)) return defaultValue;
    long long value = 0;
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (stop == text.data()) return defaultValue;
    if (error == std::errc::result_out_of_range || value > INT_MAX || value < INT_MIN) {
        return text[0] == '-' ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(value);
}

bool ProfileReader::Text(const char* key, char* out, size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    std::string text;
    if (!ini_.Find(kSection, key, &text)) return true;
    if (text.size() > size - 1) {
        Note(std::string(key) + " in " + file_ + " is longer than " + std::to_string(size - 1) +
             " characters: not used");
        return false;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

void ProfileWriter::Int(const char* key, int value) {
    char text[kValueBufferSize];
    std::snprintf(text, sizeof text, "%d", value);
    entries_.emplace_back(key, text);
}

void ProfileWriter::Text(const char* key, const char* value, size_t bufferSize) {
    char text[kValueBufferSize];
    const size_t length = strnlen(value, bufferSize > 0 ? bufferSize - 1 : 0);
    std::snprintf(text, sizeof text, "%.*s", static_cast<int>(length), value);
    entries_.emplace_back(key, text);
}

bool ProfileWriter::Save() const {
    platform::IniFile ini;
    ini.Load(file_.c_str());
    for (const auto& [key, value] : entries_)
        ini.Set(kSection, key, value.c_str());
    return ini.Save();
}

}  // namespace config
