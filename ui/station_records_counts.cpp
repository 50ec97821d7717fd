#include "ui/station_records_counts.h"

#include <vector>

#include "records/local_store.h"
#include "records/record.h"
#include "records/report.h"

namespace ui {

namespace {

class RecordsStationCounts : public StationCountsSource {
public:
    explicit RecordsStationCounts(std::string databasePath) : m_path(std::move(databasePath)) {}

    void Begin() override { m_since = records::UtcNow(); }

    std::optional<StationCounts> Counts() override {
        records::LocalStore store;
        records::RecordFilter filter;
        filter.since = m_since;
        std::vector<records::ChannelRecord> found;
        std::string error;
        if (m_since.empty() || !store.Open(m_path, false, &error) ||
            !store.Query(filter, &found, &error)) {
            return std::nullopt;
        }
        // A session of another program in the same span is no station attempt.
        std::erase_if(
            found, [](const records::ChannelRecord& r) { return r.mode != records::kStationMode; });
        StationCounts counts;
        for (const records::SummaryLine& line :
             records::Summarise(found, records::SummaryGrouping::kAll)) {
            counts = {line.passed, line.failed, line.perHour};
        }
        return counts;
    }

private:
    std::string m_path;
    std::string m_since;  // UTC, as the stored times; "" before the station started
};

}  // namespace

std::unique_ptr<StationCountsSource> MakeRecordsStationCounts(std::string databasePath) {
    return std::make_unique<RecordsStationCounts>(std::move(databasePath));
}

}  // namespace ui
