// The station records as the records command prints them: a table for the
// eye, CSV for a spreadsheet, JSON lines for a script.
#pragma once

#include <cstdint>
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

// The summary's groups: everything selected as one, or by the hour or day
// (UTC) of the channel start, or by channel.
enum class SummaryGrouping { kAll, kHour, kDay, kChannel };

bool ParseSummaryGrouping(const std::string& text, SummaryGrouping* by);

// One group's counts. Passed are the completed records, failed the failed
// ones; stopped and interrupted ones are counted apart and left out of the
// yield and the rate.
struct SummaryLine {
    std::string group;  // "2026-12-08T09:00", "2026-12-08", "3"; "" for everything
    int64_t passed = 0;
    int64_t failed = 0;
    int64_t stopped = 0;
    int64_t interrupted = 0;
    double yield = -1;       // passed / (passed + failed), in %; -1 without either
    double perHour = -1;     // passed per hour of the span; -1 when the span is empty
    std::string firstStart;  // the first channel start of the group
    std::string lastEnd;     // the last channel end of the group ("" when none ended)
};

// The groups in order (earliest time, lowest channel first).
std::vector<SummaryLine> Summarise(const std::vector<ChannelRecord>& records, SummaryGrouping by);

// The summary in each format: a header and a line per group (table, csv), or
// one object per line (json); the group's column is named for the grouping.
std::vector<std::string> SummaryTable(const std::vector<SummaryLine>& lines, SummaryGrouping by);
std::vector<std::string> SummaryCsv(const std::vector<SummaryLine>& lines, SummaryGrouping by);
std::vector<std::string> SummaryJson(const std::vector<SummaryLine>& lines, SummaryGrouping by);

}  // namespace records
