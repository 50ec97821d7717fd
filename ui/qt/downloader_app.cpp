#include "ui/qt/downloader_app.h"

#include <cstdio>
#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "platform/console_signals.h"
#include "platform/notify.h"
#include "ui/qt/automation.h"
#include "ui/qt/downloader_dialog.h"
#include "ui/station_records.h"

namespace {

// Ctrl-C, SIGTERM and SIGHUP close the window as the operator's close does:
// every channel is stopped and its record finished before the window goes.
// Any other dialog open then (a message box) is closed first, as it would
// hold the close. The handler only raises a flag: it is looked at here.
class StopSignalWatcher {
public:
    StopSignalWatcher() {
        platform::ClearStopRequest();
        platform::InstallConsoleSignals();
        QObject::connect(&m_timer, &QTimer::timeout, [] { CloseDialogs(); });
        m_timer.start(kLookMs);
    }

private:
    static constexpr int kLookMs = 100;

    static void CloseDialogs() {
        if (!platform::StopRequested()) return;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog != nullptr && dialog->isVisible()) dialog->reject();
        }
    }

    QTimer m_timer;
};

}  // namespace

DownloaderApp::DownloaderApp(int& argc, char** argv) : m_app(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("kelvane"));
}

int DownloaderApp::Run() {
    AutomationOptions automation;
    std::string error;
    if (!ParseAutomationOptions(QApplication::arguments(), &automation, &error)) {
        std::fprintf(stderr, "kelvane: %s\n", error.c_str());
        return 2;
    }
    StopSignalWatcher stopSignals;
    ui::StationRecords records;
    // A stop asked by a signal ends the program with 1, as in kelvane-cli.
    if (automation.Active()) {
        const int status = RunAutomated(automation);
        return platform::StopRequested() ? 1 : status;
    }
    DialogServices services;
    services.stationCounts = records.CountsSource();
    DownloaderDialog dialog(std::move(services));
    for (const std::string& note : records.TakeStartNotes())
        platform::ShowMessage(note.c_str());
    dialog.exec();
    return platform::StopRequested() ? 1 : 0;
}
