#include "ui/qt/downloader_app.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "config/settings.h"
#include "platform/console_signals.h"
#include "platform/notify.h"
#include "records/recorder.h"
#include "ui/qt/automation.h"
#include "ui/qt/downloader_dialog.h"
#include "ui/station_records_counts.h"

namespace {

// What the station recorder has to tell: kept until the window can show it,
// and always on stderr (a later problem comes from a worker thread, which a
// box would hold up).
class RecordNotes {
public:
    void Add(const std::string& note) {
        std::fprintf(stderr, "kelvane: %s\n", note.c_str());
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_collecting) m_notes.push_back(note);
    }
    std::vector<std::string> TakeStartNotes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_collecting = false;
        return std::move(m_notes);
    }

private:
    std::mutex m_mutex;
    bool m_collecting = true;
    std::vector<std::string> m_notes;
};

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

records::RecorderOptions WindowRecorderOptions(RecordNotes& notes) {
    // The dialog takes the same start folder when it initialises.
    SetStartDirectoryFromProcess();
    return records::StationRecorderOptions([] { return std::string(g_settings.VARKOFILE); },
                                           [&notes](const std::string& note) { notes.Add(note); });
}

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
    RecordNotes notes;
    records::RecorderOptions recorderOptions = WindowRecorderOptions(notes);
    const std::string database = recorderOptions.databasePath;
    records::ScopedRecorder recorder(std::move(recorderOptions));
    // A stop asked by a signal ends the program with 1, as in kelvane-cli.
    if (automation.Active()) {
        const int status = RunAutomated(automation);
        return platform::StopRequested() ? 1 : status;
    }
    DialogServices services;
    services.stationCounts = ui::MakeRecordsStationCounts(database);
    DownloaderDialog dialog(std::move(services));
    for (const std::string& note : notes.TakeStartNotes())
        platform::ShowMessage(note.c_str());
    dialog.exec();
    return platform::StopRequested() ? 1 : 0;
}
