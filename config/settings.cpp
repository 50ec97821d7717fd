#include "config/settings.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "config/image_set.h"
#include "config/profile.h"
#include "platform/path.h"

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

void ReadNumbers(const config::ProfileReader& file) {
    Settings& s = g_settings;
    s.AUTODETECT = file.Int("AUTODETECT", kDefaultAutoDetect);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        char key[16];
        ChannelKey(channel, key);
        s.CH_PORT[channel] = file.Int(key, 0);
        if (s.CH_PORT[channel] < 0) s.CH_PORT[channel] = 0;
    }
    s.DELAY = file.Int("DELAY", kDefaultDelay);
    if (s.DELAY < 0 || s.DELAY > kMaxDelay) s.DELAY = kDefaultDelay;
    s.BAUDRATE = file.Int("BAUDRATE", kDefaultBaudRate);
    if (s.BAUDRATE <= 0) s.BAUDRATE = kDefaultBaudRate;
}

// The stored image set when it names an existing file, else the default one
// in the start directory; empty when even that does not fit.
std::string ChooseImageSet(config::ProfileReader* settingsFile) {
    char stored[sizeof Settings::VARKOFILE];
    settingsFile->Text("VARKOFILE", stored);
    if (config::FileFound(stored)) return stored;
    std::string fallback = StartDirectoryFile(kDefaultImageSetFileName);
    return FitsPath(fallback.c_str()) ? fallback : std::string();
}

}  // namespace

bool SetStartDirectory(const char* folder) {
    if (folder == nullptr || folder[0] == '\0') return false;
    size_t length = std::strlen(folder);
    while (length > 1 && std::strchr(platform::kPathSeparators, folder[length - 1]) != nullptr)
        --length;
    if (length + kLongestNameInStartDir > config::kMaxPathLength) return false;
    std::memcpy(g_szCurrentDir, folder, length);
    g_szCurrentDir[length] = '\0';
    return true;
}

bool SetStartDirectoryFromProcess() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return !error && SetStartDirectory(platform::PathText(here).c_str());
}

std::string StartDirectoryFile(const char* name) {
    const size_t length = strnlen(g_szCurrentDir, kStartDirSize - 1);
    const std::string folder = length == 0 ? "." : std::string(g_szCurrentDir, length);
    if (std::strchr(platform::kPathSeparators, folder.back()) != nullptr) return folder + name;
    return platform::JoinPath(folder, name);
}

int ReadSettings(const char* imageSetPath, config::ReadProblems* problems) {
    const std::string file = StartDirectoryFile(kSettingsFileName);
    config::ProfileReader settings(file.c_str(), problems);
    const bool tooLong = imageSetPath != nullptr && !FitsPath(imageSetPath);
    if (tooLong && problems != nullptr) {
        problems->push_back({imageSetPath, std::string("the image set path ") + imageSetPath +
                                               " is longer than 260 characters: not used"});
    }
    const bool given = imageSetPath != nullptr && !tooLong && config::FileFound(imageSetPath);
    ReadNumbers(settings);
    const std::string chosen = given ? std::string(imageSetPath) : ChooseImageSet(&settings);
    std::snprintf(g_settings.VARKOFILE, sizeof g_settings.VARKOFILE, "%s", chosen.c_str());
    if (!chosen.empty()) ReadImageSet(chosen.c_str(), problems);
    return 1;
}

bool WriteSettingsFile() {
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
    return out.Save();
}

int WriteSettings(bool* written, const config::ImageSetBaseline* baseline) {
    const bool settingsWritten = WriteSettingsFile();
    const Settings& s = g_settings;
    const std::string imageSet(s.VARKOFILE, strnlen(s.VARKOFILE, sizeof s.VARKOFILE - 1));
    const bool unchanged = baseline != nullptr && !baseline->Changed(imageSet.c_str(), g_imageSet);
    const bool imageSetWritten = unchanged || WriteImageSet(imageSet.c_str());
    if (written != nullptr) *written = settingsWritten && imageSetWritten;
    return 1;
}

std::string LoadReport(const config::ReadProblems& problems, const ImageSet& set) {
    std::string report;
    for (const config::ReadProblem& problem : problems)
        report += (report.empty() ? "" : "\n") + problem.text;
    for (const std::string& line : MissingTickedFiles(set))
        report += (report.empty() ? "" : "\n") + line;
    return report;
}
