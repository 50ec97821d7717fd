#include "ui/qt/downloader_app.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/notify.h"
#include "records/recorder.h"
#include "ui/qt/automation.h"
#include "ui/qt/downloader_dialog.h"

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
    RecordNotes notes;
    records::ScopedRecorder recorder(WindowRecorderOptions(notes));
    if (automation.Active()) return RunAutomated(automation);
    DownloaderDialog dialog;
    for (const std::string& note : notes.TakeStartNotes())
        platform::ShowMessage(note.c_str());
    dialog.exec();
    return 0;
}
