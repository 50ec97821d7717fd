// A scripted run of the Windows window for pictures of it and for timing
// (scripts/screenshot.sh):
//   kelvane.exe [--download] [--station] [--screenshot FILE.bmp] [--after-ms N]
// opens the dialog as usual; --download presses Download, --station ticks
// Station (with --screenshot only; the close then stops every slot). With --screenshot
// the window is grabbed into FILE after N ms (default 5000) and closed,
// which stops every channel of a running download first; without it the
// dialog closes once the download is over, and the time the download took
// is printed. How long the window took to come up is printed on standard
// error. Message boxes are printed to standard error instead of
// waiting for an operator.
#pragma once

#include <string>

namespace ui::win32 {

struct AutomationOptions {
    std::string screenshotFile;
    bool download = false;
    bool station = false;
    int afterMs = 5000;
    double mainEnteredMs = -1;  // when main began, in ms since the process started

    bool Active() const { return download || !screenshotFile.empty(); }
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
