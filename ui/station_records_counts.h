// The station's counts from the station records, for a program that keeps
// them: the station attempts recorded since the station started, counted as
// "kelvane-cli records --summary" counts them (every attempt a record, the
// rate over the span from the first start to the last end).
#pragma once

#include <memory>
#include <string>

#include "ui/station_panel.h"

namespace ui {

// databasePath is the station's records database (read, never written).
std::unique_ptr<StationCountsSource> MakeRecordsStationCounts(std::string databasePath);

}  // namespace ui
