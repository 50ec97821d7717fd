// The scripted runs of the Windows window (ui/scripted_run.h), for pictures
// of it and for timing (scripts/screenshot.sh):
//   kelvane.exe [--download] [--station] [--screenshot FILE.bmp] [--after-ms N]
// The pictures are BMP files; --crc, --choose and --full-path are not
// taken. How long the window took to come up is printed on standard error.
#pragma once

#include <string>

#include "ui/scripted_run.h"

namespace ui::win32 {

struct AutomationOptions : ui::AutomationOptions {
    double mainEnteredMs = -1;  // when main began, in ms since the process started
};

// False with a reason for an option it does not know; no options at all is
// a normal interactive run.
bool ParseAutomationOptions(int argc, const char* const* argv, AutomationOptions* options,
                            std::string* error);

// Milliseconds since the process was created (-1 when unknown).
double MsSinceProcessStart();

// 0 when the run did what was asked (the picture was saved).
int RunAutomated(const AutomationOptions& options);

}  // namespace ui::win32
