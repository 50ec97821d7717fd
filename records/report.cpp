#include "records/report.h"

#include <cctype>
#include <cstdio>

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

}  // namespace

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
           ",\"version\":" + JsonString(r.version) + "}";
}

std::string CsvHeader() {
    return "id,station,session_start,channel_start,channel_end,channel,com_port,device,"
           "usb_location,usb_serial,image_set,images,result,last_text,version";
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
    std::snprintf(line, sizeof line, "%-19s  %-12s  %-2s  %-5s  %-11s  %-16s  %-20s  %s",
                  "CHANNEL START (UTC)", "STATION", "CH", "PORT", "RESULT", "USB SERIAL", "IMAGES",
                  "LAST TEXT");
    lines.push_back(line);
    for (const ChannelRecord& r : records) {
        const std::string start = r.channelStart.substr(0, 19);
        const std::string port = "COM" + std::to_string(r.comPort);
        std::snprintf(line, sizeof line, "%-19s  %-12s  %-2d  %-5s  %-11s  %-16s  %-20s  %s",
                      start.c_str(), ValidUtf8(r.station).c_str(), r.channel, port.c_str(),
                      r.result.c_str(), r.usbSerial.empty() ? "-" : ValidUtf8(r.usbSerial).c_str(),
                      Slots(r).c_str(), ValidUtf8(r.lastText).c_str());
        lines.push_back(line);
    }
    return lines;
}

}  // namespace records
