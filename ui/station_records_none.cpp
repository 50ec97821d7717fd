// A build without the station records library: the window keeps no records.
#include "ui/station_records.h"

namespace ui {

struct StationRecords::State {};

StationRecords::StationRecords() = default;

StationRecords::~StationRecords() = default;

std::vector<std::string> StationRecords::TakeStartNotes() {
    return {};
}

}  // namespace ui
