// kelvane-cli records: reads the station's database (never writes it) and
// prints the records the filter selects, or their summary.
#include "cli/records.h"

#include <cstdio>

#include "cli/commands.h"
#include "config/settings.h"
#include "platform/console_text.h"
#include "platform/files.h"

namespace cli {
namespace {

int Usage(const std::string& reason) {
    platform::PrintText(stderr, "kelvane-cli records: %s\n", reason.c_str());
    return 2;
}

bool ParseChannel(const std::string& text, int* channel) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '7') return false;
    *channel = text[0] - '0';
    return true;
}

void Print(records::ReportFormat format, const std::vector<records::ChannelRecord>& found) {
    if (format == records::ReportFormat::kJson) {
        for (const records::ChannelRecord& record : found)
            platform::PrintText(stdout, "%s\n", records::RecordJson(record).c_str());
    } else if (format == records::ReportFormat::kCsv) {
        platform::PrintText(stdout, "%s\n", records::CsvHeader().c_str());
        for (const records::ChannelRecord& record : found)
            platform::PrintText(stdout, "%s\n", records::RecordCsv(record).c_str());
    } else {
        for (const std::string& line : records::RecordTable(found))
            platform::PrintText(stdout, "%s\n", line.c_str());
    }
}

void PrintSummary(const RecordsOptions& options, const std::vector<records::ChannelRecord>& found) {
    const std::vector<records::SummaryLine> lines = records::Summarise(found, options.by);
    const std::vector<std::string> text =
        options.format == records::ReportFormat::kJson  ? records::SummaryJson(lines, options.by)
        : options.format == records::ReportFormat::kCsv ? records::SummaryCsv(lines, options.by)
                                                        : records::SummaryTable(lines, options.by);
    for (const std::string& line : text)
        platform::PrintText(stdout, "%s\n", line.c_str());
}

// Below the table: what waits for the line's server, and why.
void PrintWaiting(records::LocalStore& store) {
    records::WaitingSummary waiting;
    std::string ignored;
    if (!store.Waiting(&waiting, &ignored) || waiting.records == 0) return;
    platform::PrintText(stdout, "%lld %s for the line's server\n",
                        static_cast<long long>(waiting.records),
                        waiting.records == 1 ? "record waits" : "records wait");
    for (const records::Refusal& refusal : waiting.refusals) {
        const std::string tried = refusal.attempts == 1
                                      ? std::string("once")
                                      : (refusal.records > 1 ? "up to " : "") +
                                            std::to_string(refusal.attempts) + " times";
        platform::PrintText(stdout, "  %lld refused by it (tried %s, next try %s UTC): %s\n",
                            static_cast<long long>(refusal.records), tried.c_str(),
                            refusal.nextTry.substr(0, 19).c_str(),
                            records::ValidUtf8(refusal.reason).c_str());
    }
}

}  // namespace

bool ParseRecords(const std::vector<std::string>& args, RecordsOptions* options,
                  std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--failed") {
            options->filter.failedOnly = true;
            continue;
        }
        if (option == "--summary") {
            options->summary = true;
            continue;
        }
        if (option != "--since" && option != "--until" && option != "--channel" &&
            option != "--serial" && option != "--format" && option != "--dir" && option != "--by") {
            *error = "unknown option '" + option + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = option + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (option == "--since") ok = records::ParseTimeBound(value, &options->filter.since);
        if (option == "--until") ok = records::ParseTimeBound(value, &options->filter.until);
        if (option == "--channel") ok = ParseChannel(value, &options->filter.channel);
        if (option == "--format") ok = records::ParseReportFormat(value, &options->format);
        if (option == "--serial") options->filter.serial = value;
        if (option == "--dir") options->dir = value;
        if (option == "--by") ok = records::ParseSummaryGrouping(value, &options->by);
        if (!ok) {
            *error = "bad value '" + value + "' for " + option +
                     (option == "--channel"  ? " (0..7)"
                      : option == "--format" ? " (table, csv or json)"
                      : option == "--by"     ? " (hour, day or channel)"
                                             : " (YYYY-MM-DD[THH:MM[:SS]] or today)");
            return false;
        }
    }
    if (options->by != records::SummaryGrouping::kAll && !options->summary) {
        *error = "--by needs --summary";
        return false;
    }
    return true;
}

int RunRecordsCommand(const std::vector<std::string>& args) {
    RecordsOptions options;
    std::string error;
    if (!ParseRecords(args, &options, &error)) return Usage(error);
    const bool folder = options.dir.empty() ? SetStartDirectoryFromProcess()
                                            : SetStartDirectory(options.dir.c_str());
    if (!folder) return Usage("the start folder's path is too long");
    const std::string path = StartDirectoryFile(records::kRecordsFileName);
    records::LocalStore store;
    std::vector<records::ChannelRecord> found;
    if (!platform::PathExists(path) && platform::IsFolder(g_szCurrentDir)) {
        // Nothing was flashed from this folder yet: none to show.
        platform::PrintText(stderr, "kelvane-cli records: no records yet (no %s)\n", path.c_str());
    } else if (!store.Open(path, false, &error) || !store.Query(options.filter, &found, &error)) {
        platform::PrintText(stderr, "kelvane-cli records: cannot read %s\n", error.c_str());
        return 1;
    }
    if (options.summary) {
        PrintSummary(options, found);
        return 0;
    }
    Print(options.format, found);
    if (store.IsOpen() && options.format == records::ReportFormat::kTable) PrintWaiting(store);
    return 0;
}

}  // namespace cli
