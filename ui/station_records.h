// The station records of the window program, set up in one place for both
// toolkits' programs: kept from before the window opens until the program
// ends, in the folder the window starts in, each session naming the image
// set in use. A build without the records library keeps none.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ui {

class StationCountsSource;

class StationRecords {
public:
    StationRecords();
    ~StationRecords();
    StationRecords(const StationRecords&) = delete;
    StationRecords& operator=(const StationRecords&) = delete;

    // What the records had to tell while starting, once, for the window to
    // show; every note, then and later, is on standard error as well (a later
    // one comes from a worker thread, which a box would hold up).
    std::vector<std::string> TakeStartNotes();
    // The station's counts read from these records; null where none are kept
    // (the station then counts its slots' own results).
    std::unique_ptr<StationCountsSource> CountsSource() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace ui
