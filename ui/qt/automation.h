// The scripted runs of the Qt window (ui/scripted_run.h): every option,
// --crc, --choose and --full-path included, played on the Qt dialog; the
// pictures are PNG files.
#pragma once

#include <QStringList>
#include <string>

#include "ui/scripted_run.h"

using ui::AutomationOptions;

// The program's arguments as Qt left them. False with a reason for options
// it does not know; no options at all is a normal interactive run.
bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error);

// 0 when the download ran, or the picture was saved, and the dialog ended.
int RunAutomated(const AutomationOptions& options);
