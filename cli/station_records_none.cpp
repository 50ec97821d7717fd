// A build without the station records: downloads keep no records, and the
// records command says so instead of showing an empty list.
#include <cstdio>

#include "cli/commands.h"
#include "cli/station_records.h"
#include "platform/console_text.h"

namespace cli {

struct StationRecords::Keeper {};

StationRecords::StationRecords(std::function<std::string()>) {}

StationRecords::~StationRecords() = default;

int RunRecordsCommand(const std::vector<std::string>&) {
    platform::PrintText(stderr, "kelvane-cli records: this build keeps no station records\n");
    return 2;
}

}  // namespace cli
