#include "ui/station_records.h"

#include <cstdio>
#include <mutex>

#include "config/settings.h"
#include "platform/console_text.h"
#include "records/recorder.h"
#include "ui/station_records_counts.h"

namespace ui {

namespace {

// Kept until the window can show them, and always on stderr.
class RecordNotes {
public:
    void Add(const std::string& note) {
        platform::PrintText(stderr, "kelvane: %s\n", note.c_str());
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
    // The window takes the same start folder when it initialises; a session
    // names the image set the window published when it started.
    SetStartDirectoryFromProcess();
    return records::StationRecorderOptions([] { return std::string(g_settings.VARKOFILE); },
                                           [&notes](const std::string& note) { notes.Add(note); });
}

}  // namespace

struct StationRecords::State {
    State() : options(WindowRecorderOptions(notes)), databasePath(options.databasePath) {}
    RecordNotes notes;
    records::RecorderOptions options;
    std::string databasePath;
    records::ScopedRecorder recorder{std::move(options)};
};

StationRecords::StationRecords() : m_state(std::make_unique<State>()) {}

StationRecords::~StationRecords() = default;

std::vector<std::string> StationRecords::TakeStartNotes() {
    return m_state->notes.TakeStartNotes();
}

std::unique_ptr<StationCountsSource> StationRecords::CountsSource() const {
    return MakeRecordsStationCounts(m_state->databasePath);
}

}  // namespace ui
