// What download and station share before any channel starts: the start
// folder, the settings and image set behind the options, and a path as a
// record names it.
#pragma once

#include <string>

#include "cli/options.h"
#include "config/settings.h"

namespace cli {

// False, naming every value or file that could not be used, when reading
// found one; without --set the image set in use takes no part.
bool Usable(const config::ReadProblems& problems, bool settingsOnly, std::string* error);
// Takes from the settings file what the command line left open, and the
// images from the image set when one is given.
bool ApplySettings(DownloadOptions* options, std::string* error);
// The image-set file as a record names it: wherever the command ran from.
std::string AbsolutePath(const std::string& path);
// Sets the start folder (--dir, else the current one) and the port map's.
bool UseStartFolder(const DownloadOptions& options, std::string* error);

}  // namespace cli
