// The station records as the records command prints them: a table for the
// eye, CSV for a spreadsheet, JSON lines for a script.
#pragma once

#include <string>
#include <vector>

#include "records/record.h"

namespace records {

enum class ReportFormat { kTable, kCsv, kJson };

bool ParseReportFormat(const std::string& text, ReportFormat* format);

// A date ("2026-12-08"), a date and time ("2026-12-08T09:30", seconds
// optional, a blank for the T and a final Z allowed) or "today" (UTC), as
// the stored times begin. False for anything else, a day the calendar does
// not have ("2026-02-29") or a time the clock does not show ("T24:00").
bool ParseTimeBound(const std::string& text, std::string* bound);

// One object on one line: every field, images as a list.
std::string RecordJson(const ChannelRecord& record);

std::string CsvHeader();
// The images cell holds the images' JSON list.
std::string RecordCsv(const ChannelRecord& record);

// A header line and one line per record.
std::vector<std::string> RecordTable(const std::vector<ChannelRecord>& records);

}  // namespace records
