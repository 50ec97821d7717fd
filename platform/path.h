// How the system joins a folder and a file name in its own texts: "/" on
// POSIX, "\" on Windows ("<boot folder>\pbl.mbn"). Both systems' file calls
// take "/" too; this is what a user sees and what is stored.
#pragma once

#include <filesystem>
#include <string>

#if defined(_WIN32)
#define KELVANE_PATH_SEPARATOR "\\"
#define KELVANE_PATH_SEPARATORS "\\/"
#else
#define KELVANE_PATH_SEPARATOR "/"
#define KELVANE_PATH_SEPARATORS "/"
#endif

namespace platform {

inline constexpr const char* kPathSeparator = KELVANE_PATH_SEPARATOR;
// Every character that separates folders in a path (backslash and "/" on
// Windows).
inline constexpr const char* kPathSeparators = KELVANE_PATH_SEPARATORS;

// folder, the separator and name ("" folder: name alone).
inline std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + kPathSeparator + name;
}

// A path of this program (UTF-8 on Windows, or the ANSI code page where it is
// not valid UTF-8; bytes on POSIX) for std::filesystem, and back as UTF-8.
// std::filesystem's own conversions of std::string take the C locale's
// code page on Windows, not UTF-8.
std::filesystem::path FileSystemPath(const std::string& path);
std::string PathText(const std::filesystem::path& path);

}  // namespace platform
