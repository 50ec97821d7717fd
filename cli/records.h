// kelvane-cli records: the station's records, newest first.
#pragma once

#include <string>
#include <vector>

#include "records/local_store.h"
#include "records/report.h"

namespace cli {

struct RecordsOptions {
    records::RecordFilter filter;
    records::ReportFormat format = records::ReportFormat::kTable;
    std::string dir;       // start folder holding Kelvane_records.db; empty: the current one
    bool summary = false;  // counts instead of the records
    records::SummaryGrouping by = records::SummaryGrouping::kAll;
};

// Parses the arguments after "records"; false with a one-line reason.
bool ParseRecords(const std::vector<std::string>& args, RecordsOptions* options,
                  std::string* error);

}  // namespace cli
