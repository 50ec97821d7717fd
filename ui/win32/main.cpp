#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/console_text.h"
#include "platform/version.h"
#include "ui/station_records.h"
#include "ui/win32/automation.h"
#include "ui/win32/downloader_dialog.h"
#include "ui/win32/text.h"

namespace {

const char* const kUsage =
    "Usage: kelvane [options]\n"
    "   or: kelvane --help | --version\n"
    "Opens the window that flashes up to eight handsets at once. The settings\n"
    "(Kelvane_3.ini) and the port map (Kelvane_ports.ini) are kept in the folder it\n"
    "is started from.\n"
    "\n"
    "Options (a scripted run of the window):\n"
    "  --download             press Download; without --screenshot the window closes\n"
    "                         when the download is over and prints how long it took\n"
    "  --screenshot FILE.bmp  grab the window into FILE.bmp after --after-ms and close\n"
    "                         it; message boxes go to standard error\n"
    "  --station              tick Station (needs --screenshot); the close then stops\n"
    "                         every slot at once\n"
    "  --after-ms N           milliseconds before the picture is taken (default 5000)\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

void ShowError(const std::string& text) {
    platform::PrintText(stderr, "kelvane: %s\n", text.c_str());
    ::MessageBoxW(nullptr, ui::win32::Widen(text).c_str(), L"Kelvane", MB_OK | MB_ICONERROR);
}

// A note of the station records (already on standard error).
void ShowNote(const std::string& text) {
    ::MessageBoxW(nullptr, ui::win32::Widen(text).c_str(), L"Kelvane", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int main(int argc, char** argv) {
    const double mainEnteredMs = ui::win32::MsSinceProcessStart();
    platform::TakeArgumentsAsUtf8(&argc, &argv);
    if (platform::AnswerStandardOption(argc, argv, "kelvane", kUsage)) return 0;
    ui::win32::AutomationOptions automation;
    std::string error;
    if (!ui::win32::ParseAutomationOptions(argc, argv, &automation, &error)) {
        platform::PrintText(stderr, "kelvane: %s\n", error.c_str());
        return 2;
    }
    if (!ui::win32::RegisterDialogClasses()) {
        ShowError("the window's controls could not be registered");
        return 1;
    }
    automation.mainEnteredMs = mainEnteredMs;
    ui::StationRecords records;
    if (automation.Active()) return ui::win32::RunAutomated(automation);
    for (const std::string& note : records.TakeStartNotes())
        ShowNote(note);
    ui::win32::DialogServices services;
    services.stationCounts = records.CountsSource();
    ui::win32::DownloaderDialog dialog(std::move(services));
    dialog.DoModal();
    return 0;
}
