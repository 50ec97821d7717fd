// The settings file "Kelvane_3.ini" in the start directory, section "VARKO":
// automatic port assignment, the COM port of every channel, the write delay,
// the baud rate and the image set last used. The fields are named after their
// keys.
#pragma once

#include <cstddef>
#include <string>

#include "config/image_set.h"
#include "config/profile.h"
#include "link/channel.h"

inline constexpr const char* kSettingsFileName = "Kelvane_3.ini";
inline constexpr const char* kDefaultImageSetFileName = "default_3.vrk";
inline constexpr size_t kStartDirSize = 261;
inline constexpr int kDefaultAutoDetect = 1;
inline constexpr int kDefaultDelay = 2;
inline constexpr int kMaxDelay = 1000;  // ms; a larger DELAY reads as the default
inline constexpr int kDefaultBaudRate = 1382400;

// The start directory, recorded once by the window's initialisation.
extern char g_szCurrentDir[kStartDirSize];

// Records folder as the start directory (trailing '/' dropped). False, and
// nothing changes, when it is empty or too long for the files in it to have
// paths of at most 260 characters.
bool SetStartDirectory(const char* folder);
// Records the process's current directory; false when that does not fit.
bool SetStartDirectoryFromProcess();

// g_szCurrentDir + "/" + name ("." stands in for a start directory not yet
// recorded).
std::string StartDirectoryFile(const char* name);

struct Settings {
    int AUTODETECT;              // AUTODETECT: 1 assigns ports as handset ports arrive
    int CH_PORT[kChannelCount];  // CH0_PORT..CH7_PORT: COM number, 0 = channel not used
    int DELAY;                   // DELAY: ms pause before each serial write
    int BAUDRATE;                // BAUDRATE
    char VARKOFILE[261];         // VARKOFILE: the image set in use
};

// The settings the window works with (window thread only).
extern Settings g_settings;

// Reads the settings file into g_settings and the chosen image set into
// g_imageSet. The image set is imageSetPath when given and found, else the
// stored VARKOFILE when found, else default_3.vrk in the start directory.
// Always 1; problems (when given) gets what could not be used in either file
// (a file over 1 MiB, a value longer than its field, a given path too long).
int ReadSettings(const char* imageSetPath, config::ReadProblems* problems = nullptr);

// Stores g_settings in the settings file and g_imageSet in the VARKOFILE
// path; with a baseline, the image set only when it changed since (path or
// keys). Always 1; *written (when given) tells whether everything meant to be
// written was.
int WriteSettings(bool* written = nullptr, const config::ImageSetBaseline* baseline = nullptr);
// Stores g_settings in the settings file only; true when it was written.
bool WriteSettingsFile();

// What the operator is told after ReadSettings: every problem, then every
// ticked row whose file is missing, one a line; empty when all is well.
std::string LoadReport(const config::ReadProblems& problems, const ImageSet& set);
