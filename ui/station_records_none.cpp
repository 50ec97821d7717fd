// A build without the station records library: the window keeps no records.
#include "ui/station_records.h"

#include "ui/station_panel.h"

namespace ui {

struct StationRecords::State {};

StationRecords::StationRecords() = default;

StationRecords::~StationRecords() = default;

std::vector<std::string> StationRecords::TakeStartNotes() {
    return {};
}

std::unique_ptr<StationCountsSource> StationRecords::CountsSource() const {
    return nullptr;
}

}  // namespace ui
