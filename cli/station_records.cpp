#include "cli/station_records.h"

#include <cstdio>

#include "platform/console_text.h"
#include "records/recorder.h"

namespace cli {

// Every channel of every round is recorded; a records problem is told and
// the download goes on.
struct StationRecords::Keeper {
    explicit Keeper(std::function<std::string()> imageSetFile)
        : recorder(records::StationRecorderOptions(
              std::move(imageSetFile), [](const std::string& message) {
                  platform::PrintText(stderr, "%s\n", message.c_str());
              })) {}
    records::ScopedRecorder recorder;
};

StationRecords::StationRecords(std::function<std::string()> imageSetFile)
    : keeper_(std::make_unique<Keeper>(std::move(imageSetFile))) {}

StationRecords::~StationRecords() = default;

}  // namespace cli
