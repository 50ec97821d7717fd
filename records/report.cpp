#include "records/report.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "records/server_link.h"

namespace records {
namespace {

bool Digits(const std::string& text, size_t from, size_t count) {
    if (text.size() < from + count) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

int Number(const std::string& text, size_t from, size_t count) {
    return std::stoi(text.substr(from, count));
}

// A date that the calendar has and a time of day that the clock shows
// (positions as in "2026-12-08T09:30:15").
bool RealTime(const std::string& t) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = Number(t, 0, 4);
    const int month = Number(t, 5, 2);
    const int day = Number(t, 8, 2);
    if (month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    if (t.size() > 10 && (Number(t, 11, 2) > 23 || Number(t, 14, 2) > 59)) return false;
    return t.size() <= 16 || Number(t, 17, 2) <= 59;
}

std::string CsvField(const std::string& raw) {
    const std::string text = ValidUtf8(raw);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string Slots(const ChannelRecord& record) {
    std::string out;
    for (const ImageRecord& image : record.images)
        out += (out.empty() ? "" : "+") + image.slot;
    return out.empty() ? "-" : out;
}

// Seconds since 1970 of a stored time ("2026-12-08T09:30:00.123Z"); -1 when
// it is not one.
double StoredSeconds(const std::string& t) {
    if (!Digits(t, 0, 4) || !Digits(t, 5, 2) || !Digits(t, 8, 2) || !Digits(t, 11, 2) ||
        !Digits(t, 14, 2) || !Digits(t, 17, 2)) {
        return -1;
    }
    // Days since 1970-01-01 of the proleptic Gregorian date.
    const int month = Number(t, 5, 2);
    const int year = Number(t, 0, 4) - (month <= 2 ? 1 : 0);
    const int era = year / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + Number(t, 8, 2) - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const double days = era * 146097.0 + dayOfEra - 719468;
    double seconds =
        days * 86400 + Number(t, 11, 2) * 3600 + Number(t, 14, 2) * 60 + Number(t, 17, 2);
    if (t.size() >= 23 && t[19] == '.' && Digits(t, 20, 3)) seconds += Number(t, 20, 3) / 1000.0;
    return seconds;
}

std::string GroupOf(const ChannelRecord& r, SummaryGrouping by) {
    switch (by) {
        case SummaryGrouping::kHour:
            return r.channelStart.substr(0, 13) + ":00";
        case SummaryGrouping::kDay:
            return r.channelStart.substr(0, 10);
        case SummaryGrouping::kChannel:
            return std::to_string(r.channel);
        case SummaryGrouping::kAll:
            break;
    }
    return "";
}

void Count(const ChannelRecord& r, SummaryLine* line) {
    if (r.result == "completed") ++line->passed;
    if (r.result == "failed") ++line->failed;
    if (r.result == "stopped") ++line->stopped;
    if (r.result == kInterrupted) ++line->interrupted;
    if (line->firstStart.empty() || r.channelStart < line->firstStart)
        line->firstStart = r.channelStart;
    if (r.channelEnd > line->lastEnd) line->lastEnd = r.channelEnd;
}

void Rates(SummaryLine* line) {
    if (line->passed + line->failed > 0)
        line->yield = 100.0 * line->passed / (line->passed + line->failed);
    const double span = StoredSeconds(line->lastEnd) - StoredSeconds(line->firstStart);
    if (!line->lastEnd.empty() && span > 0) line->perHour = line->passed * 3600.0 / span;
}

const char* GroupName(SummaryGrouping by) {
    return by == SummaryGrouping::kHour ? "hour" : by == SummaryGrouping::kDay ? "day" : "channel";
}

// A figure with one decimal; empty when there is none.
std::string Figure(double value) {
    if (value < 0) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

bool ParseSummaryGrouping(const std::string& text, SummaryGrouping* by) {
    if (text == "hour")
        *by = SummaryGrouping::kHour;
    else if (text == "day")
        *by = SummaryGrouping::kDay;
    else if (text == "channel")
        *by = SummaryGrouping::kChannel;
    else
        return false;
    return true;
}

std::vector<SummaryLine> Summarise(const std::vector<ChannelRecord>& records, SummaryGrouping by) {
    // Channels sort as numbers, times as their texts.
    std::map<std::pair<int, std::string>, SummaryLine> groups;
    for (const ChannelRecord& r : records) {
        const std::string group = GroupOf(r, by);
        SummaryLine& line = groups[{by == SummaryGrouping::kChannel ? r.channel : 0, group}];
        line.group = group;
        Count(r, &line);
    }
    std::vector<SummaryLine> lines;
    for (auto& [key, line] : groups) {
        Rates(&line);
        lines.push_back(line);
    }
    if (lines.empty() && by == SummaryGrouping::kAll) lines.push_back(SummaryLine{});
    return lines;
}

std::vector<std::string> SummaryTable(const std::vector<SummaryLine>& lines, SummaryGrouping by) {
    std::vector<std::string> out;
    const bool grouped = by != SummaryGrouping::kAll;
    const int width = by == SummaryGrouping::kChannel ? 2 : 16;
    char text[512];
    std::snprintf(text, sizeof text, "%-*s%s%6s  %6s  %7s  %8s  %7s  %11s  %-19s  %s",
                  grouped ? width : 0,
                  !grouped                          ? ""
                  : by == SummaryGrouping::kChannel ? "CH"
                  : by == SummaryGrouping::kHour    ? "HOUR (UTC)"
                                                    : "DAY (UTC)",
                  grouped ? "  " : "", "PASSED", "FAILED", "YIELD %", "PER HOUR", "STOPPED",
                  "INTERRUPTED", "FIRST START (UTC)", "LAST END (UTC)");
    out.push_back(text);
    for (const SummaryLine& l : lines) {
        const std::string yield = l.yield < 0 ? "-" : Figure(l.yield);
        const std::string rate = l.perHour < 0 ? "-" : Figure(l.perHour);
        std::snprintf(text, sizeof text, "%-*s%s%6lld  %6lld  %7s  %8s  %7lld  %11lld  %-19s  %s",
                      grouped ? width : 0, l.group.c_str(), grouped ? "  " : "",
                      static_cast<long long>(l.passed), static_cast<long long>(l.failed),
                      yield.c_str(), rate.c_str(), static_cast<long long>(l.stopped),
                      static_cast<long long>(l.interrupted),
                      l.firstStart.empty() ? "-" : l.firstStart.substr(0, 19).c_str(),
                      l.lastEnd.empty() ? "-" : l.lastEnd.substr(0, 19).c_str());
        out.push_back(text);
    }
    return out;
}

std::vector<std::string> SummaryCsv(const std::vector<SummaryLine>& lines, SummaryGrouping by) {
    const bool grouped = by != SummaryGrouping::kAll;
    std::vector<std::string> out{
        (grouped ? std::string(GroupName(by)) + "," : std::string()) +
        "passed,failed,yield,per_hour,stopped,interrupted,first_start,last_end"};
    for (const SummaryLine& l : lines) {
        out.push_back((grouped ? l.group + "," : std::string()) + std::to_string(l.passed) + "," +
                      std::to_string(l.failed) + "," + Figure(l.yield) + "," + Figure(l.perHour) +
                      "," + std::to_string(l.stopped) + "," + std::to_string(l.interrupted) + "," +
                      l.firstStart + "," + l.lastEnd);
    }
    return out;
}

std::vector<std::string> SummaryJson(const std::vector<SummaryLine>& lines, SummaryGrouping by) {
    std::vector<std::string> out;
    for (const SummaryLine& l : lines) {
        std::string group;
        if (by == SummaryGrouping::kChannel)
            group = "\"channel\":" + l.group + ",";
        else if (by != SummaryGrouping::kAll)
            group = "\"" + std::string(GroupName(by)) + "\":" + JsonString(l.group) + ",";
        const auto number = [](double value) {
            return value < 0 ? std::string("null") : Figure(value);
        };
        const auto time = [](const std::string& t) {
            return t.empty() ? std::string("null") : JsonString(t);
        };
        out.push_back(
            "{" + group + "\"passed\":" + std::to_string(l.passed) +
            ",\"failed\":" + std::to_string(l.failed) + ",\"yield\":" + number(l.yield) +
            ",\"per_hour\":" + number(l.perHour) + ",\"stopped\":" + std::to_string(l.stopped) +
            ",\"interrupted\":" + std::to_string(l.interrupted) +
            ",\"first_start\":" + time(l.firstStart) + ",\"last_end\":" + time(l.lastEnd) + "}");
    }
    return out;
}

bool ParseReportFormat(const std::string& text, ReportFormat* format) {
    if (text == "table")
        *format = ReportFormat::kTable;
    else if (text == "csv")
        *format = ReportFormat::kCsv;
    else if (text == "json")
        *format = ReportFormat::kJson;
    else
        return false;
    return true;
}

bool ParseTimeBound(const std::string& text, std::string* bound) {
    if (text == "today") {
        *bound = UtcNow().substr(0, 10);
        return true;
    }
    std::string t = text;
    if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
    if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
    const bool date =
        Digits(t, 0, 4) && t[4] == '-' && Digits(t, 5, 2) && t[7] == '-' && Digits(t, 8, 2);
    if (!date) return false;
    const bool ok =
        t.size() == 10 ||
        (t.size() == 16 && t[10] == 'T' && Digits(t, 11, 2) && t[13] == ':' && Digits(t, 14, 2)) ||
        (t.size() == 19 && t[10] == 'T' && Digits(t, 11, 2) && t[13] == ':' && Digits(t, 14, 2) &&
         t[16] == ':' && Digits(t, 17, 2));
    if (!ok || !RealTime(t)) return false;
    *bound = t;
    return true;
}

std::string RecordJson(const ChannelRecord& r) {
    return "{\"id\":" + JsonString(r.id) + ",\"station\":" + JsonString(r.station) +
           ",\"session_start\":" + JsonString(r.sessionStart) +
           ",\"channel_start\":" + JsonString(r.channelStart) +
           ",\"channel_end\":" + (r.channelEnd.empty() ? "null" : JsonString(r.channelEnd)) +
           ",\"channel\":" + std::to_string(r.channel) +
           ",\"com_port\":" + std::to_string(r.comPort) + ",\"device\":" + JsonString(r.device) +
           ",\"usb_location\":" + JsonString(r.usbLocation) +
           ",\"usb_serial\":" + JsonString(r.usbSerial) +
           ",\"image_set\":" + JsonString(r.imageSet) + ",\"images\":" + ImagesJson(r) +
           ",\"result\":" + JsonString(r.result) + ",\"last_text\":" + JsonString(r.lastText) +
           ",\"version\":" + JsonString(r.version) + ",\"mode\":" + JsonString(r.mode) +
           ",\"attempt\":" + std::to_string(r.attempt) + "}";
}

std::string CsvHeader() {
    return "id,station,session_start,channel_start,channel_end,channel,com_port,device,"
           "usb_location,usb_serial,image_set,images,result,last_text,version,mode,attempt";
}

std::string RecordCsv(const ChannelRecord& r) {
    std::string line;
    for (const std::string& field : RecordFieldTexts(r))
        line += (line.empty() ? "" : ",") + CsvField(field);
    return line;
}

std::vector<std::string> RecordTable(const std::vector<ChannelRecord>& records) {
    std::vector<std::string> lines;
    char line[2048];
    std::snprintf(line, sizeof line,
                  "%-19s  %-12s  %-2s  %-5s  %-11s  %-16s  %-20s  %-7s  %-3s  %s",
                  "CHANNEL START (UTC)", "STATION", "CH", "PORT", "RESULT", "USB SERIAL", "IMAGES",
                  "MODE", "TRY", "LAST TEXT");
    lines.push_back(line);
    for (const ChannelRecord& r : records) {
        const std::string start = r.channelStart.substr(0, 19);
        const std::string port = "COM" + std::to_string(r.comPort);
        std::snprintf(
            line, sizeof line, "%-19s  %-12s  %-2d  %-5s  %-11s  %-16s  %-20s  %-7s  %-3d  %s",
            start.c_str(), ValidUtf8(r.station).c_str(), r.channel, port.c_str(), r.result.c_str(),
            r.usbSerial.empty() ? "-" : ValidUtf8(r.usbSerial).c_str(), Slots(r).c_str(),
            ValidUtf8(r.mode).c_str(), r.attempt, ValidUtf8(r.lastText).c_str());
        lines.push_back(line);
    }
    return lines;
}

}  // namespace records
