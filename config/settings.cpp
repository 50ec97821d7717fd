#include "config/settings.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "config/image_set.h"
#include "config/profile.h"

char g_szCurrentDir[kStartDirSize];

Settings g_settings = {kDefaultAutoDetect, {}, kDefaultDelay, kDefaultBaudRate, {}};

namespace {

static_assert(sizeof(Settings::VARKOFILE) == config::kMaxPathLength + 1);

// Both file names in the start directory have this length with their '/'.
constexpr size_t kLongestNameInStartDir = 14;
static_assert(kLongestNameInStartDir == std::char_traits<char>::length(kSettingsFileName) + 1);
static_assert(kLongestNameInStartDir ==
              std::char_traits<char>::length(kDefaultImageSetFileName) + 1);

bool FitsPath(const char* path) {
    return std::strlen(path) <= config::kMaxPathLength;
}

void ChannelKey(int channel, char (&key)[16]) {
    std::snprintf(key, sizeof key, "CH%d_PORT", channel);
}

void ReadNumbers(const char* file) {
    Settings& s = g_settings;
    s.AUTODETECT = config::ReadInt("AUTODETECT", kDefaultAutoDetect, file);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        char key[16];
        ChannelKey(channel, key);
        s.CH_PORT[channel] = config::ReadInt(key, 0, file);
        if (s.CH_PORT[channel] < 0) s.CH_PORT[channel] = 0;
    }
    s.DELAY = config::ReadInt("DELAY", kDefaultDelay, file);
    if (s.DELAY < 0 || s.DELAY > kMaxDelay) s.DELAY = kDefaultDelay;
    s.BAUDRATE = config::ReadInt("BAUDRATE", kDefaultBaudRate, file);
    if (s.BAUDRATE <= 0) s.BAUDRATE = kDefaultBaudRate;
}

// The stored image set when it names an existing file and fits, else the
// default one in the start directory; empty when even that does not fit.
std::string ChooseImageSet(const char* settingsFile) {
    char stored[config::kValueBufferSize];
    config::ReadText("VARKOFILE", stored, sizeof stored, settingsFile);
    if (FitsPath(stored) && config::FileFound(stored)) return stored;
    std::string fallback = StartDirectoryFile(kDefaultImageSetFileName);
    return FitsPath(fallback.c_str()) ? fallback : std::string();
}

}  // namespace

bool SetStartDirectory(const char* folder) {
    if (folder == nullptr || folder[0] == '\0') return false;
    size_t length = std::strlen(folder);
    while (length > 1 && folder[length - 1] == '/')
        --length;
    if (length + kLongestNameInStartDir > config::kMaxPathLength) return false;
    std::memcpy(g_szCurrentDir, folder, length);
    g_szCurrentDir[length] = '\0';
    return true;
}

bool SetStartDirectoryFromProcess() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return !error && SetStartDirectory(here.c_str());
}

std::string StartDirectoryFile(const char* name) {
    const size_t length = strnlen(g_szCurrentDir, kStartDirSize - 1);
    std::string folder = length == 0 ? "." : std::string(g_szCurrentDir, length);
    if (folder.back() != '/') folder += '/';
    return folder + name;
}

int ReadSettings(const char* imageSetPath) {
    const std::string file = StartDirectoryFile(kSettingsFileName);
    const bool given =
        imageSetPath != nullptr && FitsPath(imageSetPath) && config::FileFound(imageSetPath);
    ReadNumbers(file.c_str());
    const std::string chosen = given ? std::string(imageSetPath) : ChooseImageSet(file.c_str());
    std::snprintf(g_settings.VARKOFILE, sizeof g_settings.VARKOFILE, "%s", chosen.c_str());
    if (!chosen.empty()) ReadImageSet(chosen.c_str());
    return 1;
}

int WriteSettings(bool* written) {
    const std::string file = StartDirectoryFile(kSettingsFileName);
    const Settings& s = g_settings;
    config::ProfileWriter out(file.c_str());
    out.Int("AUTODETECT", s.AUTODETECT);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        char key[16];
        ChannelKey(channel, key);
        out.Int(key, s.CH_PORT[channel]);
    }
    out.Int("DELAY", s.DELAY);
    out.Int("BAUDRATE", s.BAUDRATE);
    out.Text("VARKOFILE", s.VARKOFILE);
    const std::string imageSet(s.VARKOFILE, strnlen(s.VARKOFILE, sizeof s.VARKOFILE - 1));
    const bool imageSetWritten = WriteImageSet(imageSet.c_str());
    if (written != nullptr) *written = out.ok() && imageSetWritten;
    return 1;
}
