// A scripted run of the window for pictures of it (scripts/screenshot.sh):
//   kelvane --screenshot FILE.png [--download] [--after-ms N]
// opens the dialog as usual, optionally presses Download, grabs the window
// into FILE after N ms (default 5000), and closes the dialog, which stops
// every channel of a running download first. Message boxes are printed to
// standard error instead of waiting for an operator.
#pragma once

#include <QStringList>
#include <string>

struct AutomationOptions {
    std::string screenshotFile;
    bool download = false;
    int afterMs = 5000;

    bool Active() const { return !screenshotFile.empty(); }
};

// False with a reason for options it does not know; no options at all is
// a normal interactive run.
bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error);

// 0 when the picture was saved.
int RunAutomated(const AutomationOptions& options);
