#include "records/server_link.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/socket_wait.h"
#include "platform/trace.h"

namespace records {
namespace {

// How long one look at the socket lasts before stop is checked again.
constexpr int kPollSliceMs = 100;

const char* const kServerSchema =
    "CREATE TABLE IF NOT EXISTS kelvane_records("
    " id text PRIMARY KEY, station text NOT NULL, session_start timestamptz NOT NULL,"
    " channel_start timestamptz NOT NULL, channel_end timestamptz, channel integer NOT NULL,"
    " com_port integer NOT NULL, device text NOT NULL, usb_location text NOT NULL,"
    " usb_serial text NOT NULL, image_set text NOT NULL, images jsonb NOT NULL,"
    " result text NOT NULL, last_text text NOT NULL, version text NOT NULL,"
    " revision bigint NOT NULL, mode text NOT NULL DEFAULT 'session',"
    " attempt integer NOT NULL DEFAULT 0)";

// A table an older Kelvane made gains the columns added since (with their
// defaults: its readers and writers go on as before).
const char* const kServerAddedColumns =
    "ALTER TABLE kelvane_records ADD COLUMN IF NOT EXISTS mode text NOT NULL DEFAULT 'session',"
    " ADD COLUMN IF NOT EXISTS attempt integer NOT NULL DEFAULT 0";

const char* const kUpsert =
    "INSERT INTO kelvane_records(id, station, session_start, channel_start, channel_end,"
    " channel, com_port, device, usb_location, usb_serial, image_set, images, result,"
    " last_text, version, mode, attempt, revision)"
    " VALUES($1, $2, $3::timestamptz, $4::timestamptz, NULLIF($5, '')::timestamptz,"
    " $6::integer, $7::integer, $8, $9, $10, $11, $12::jsonb, $13, $14, $15, $16,"
    " $17::integer, $18::bigint)"
    " ON CONFLICT (id) DO UPDATE SET channel_end = EXCLUDED.channel_end,"
    " images = EXCLUDED.images, result = EXCLUDED.result, last_text = EXCLUDED.last_text,"
    " revision = EXCLUDED.revision WHERE kelvane_records.revision < EXCLUDED.revision";

std::string Trimmed(const char* text) {
    std::string out = text != nullptr ? text : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

using Span = std::pair<size_t, size_t>;  // first, one past the last

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The user part's password of every URL in text: after the first colon of
// what comes before the last '@' of the URL.
void UserPartPasswords(const std::string& text, std::vector<Span>* spans) {
    for (size_t scheme = text.find("://"); scheme != std::string::npos;
         scheme = text.find("://", scheme + 3)) {
        const size_t start = scheme + 3;
        size_t end = start;
        while (end < text.size() && !Blank(text[end]) && text[end] != '"' && text[end] != '\'')
            ++end;
        const size_t at = text.rfind('@', end == 0 ? 0 : end - 1);
        if (at == std::string::npos || at < start) continue;
        const size_t colon = text.find(':', start);
        if (colon < at) spans->push_back({colon + 1, at});
    }
}

// The value of every "password" key (key=value text, blanks around the '='
// and a quoted value allowed) or query parameter.
void KeyPasswords(const std::string& text, std::vector<Span>* spans) {
    static const std::string kKey = "password";
    for (size_t i = 0; i + kKey.size() <= text.size(); ++i) {
        bool key = i == 0 || Blank(text[i - 1]) || text[i - 1] == '?' || text[i - 1] == '&';
        for (size_t k = 0; key && k < kKey.size(); ++k)
            key = std::tolower(static_cast<unsigned char>(text[i + k])) == kKey[k];
        if (!key) continue;
        size_t j = i + kKey.size();
        while (j < text.size() && Blank(text[j]))
            ++j;
        if (j >= text.size() || text[j] != '=') continue;
        ++j;
        while (j < text.size() && Blank(text[j]))
            ++j;
        size_t end = j;
        if (j < text.size() && text[j] == '\'') {
            for (end = ++j; end < text.size() && text[end] != '\''; ++end)
                end += text[end] == '\\' ? 1 : 0;
            end = std::min(end, text.size());
        } else {
            while (end < text.size() && !Blank(text[end]) && text[end] != '&' && text[end] != '"')
                ++end;
        }
        spans->push_back({j, end});
    }
}

std::vector<Span> PasswordSpans(const std::string& text) {
    std::vector<Span> spans;
    UserPartPasswords(text, &spans);
    KeyPasswords(text, &spans);
    return spans;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void ReplaceAll(std::string* text, const std::string& what, const std::string& with) {
    if (what.empty()) return;
    for (size_t at = text->find(what); at != std::string::npos;
         at = text->find(what, at + with.size())) {
        text->replace(at, what.size(), with);
    }
}

void TraceNotice(void*, const char* message) {
    TRACE("records server: %s\n", Trimmed(message).c_str());
}

}  // namespace

std::string HidePasswords(const std::string& message, const std::string& url) {
    static const std::string kHidden = "***";
    std::string out = message;
    std::vector<Span> spans = PasswordSpans(message);
    std::sort(spans.begin(), spans.end());
    std::vector<Span> merged;  // overlapping spans as one
    for (const Span& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    // From the last to the first: the earlier spans keep their places.
    for (auto span = merged.rbegin(); span != merged.rend(); ++span)
        out.replace(span->first, span->second - span->first, kHidden);
    for (const Span& span : PasswordSpans(url)) {
        const std::string secret = url.substr(span.first, span.second - span.first);
        ReplaceAll(&out, secret, kHidden);
        ReplaceAll(&out, PercentDecoded(secret), kHidden);
    }
    return out;
}

std::string JsonString(const std::string& raw) {
    const std::string text = ValidUtf8(raw);
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ImagesJson(const ChannelRecord& record) {
    std::string out = "[";
    for (const ImageRecord& image : record.images) {
        if (out.size() > 1) out += ",";
        out += "{\"slot\":" + JsonString(image.slot) + ",\"path\":" + JsonString(image.path) +
               ",\"size\":" + std::to_string(image.size) + ",\"crc32\":" + JsonString(image.crc32) +
               ",\"address\":" + JsonString(image.address) +
               ",\"result\":" + JsonString(image.resultLine) + "}";
    }
    return out + "]";
}

ServerLink::~ServerLink() {
    Close();
}

bool ServerLink::CheckUrl(const std::string& url, std::string* error) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
    if (options == nullptr) {
        *error = message != nullptr ? HidePasswords(Trimmed(message), url) : "out of memory";
        PQfreemem(message);
        return false;
    }
    // libpq reads a bad port only when it connects; a typo there is as
    // malformed as any other.
    std::string badPort;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (std::strcmp(o->keyword, "port") != 0 || o->val == nullptr) continue;
        std::string ports = o->val;
        for (size_t start = 0; start <= ports.size();) {
            size_t end = ports.find(',', start);
            if (end == std::string::npos) end = ports.size();
            const std::string port = ports.substr(start, end - start);
            const bool digits = !port.empty() && port.size() <= 5 &&
                                port.find_first_not_of("0123456789") == std::string::npos;
            if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535) badPort = port;
            start = end + 1;
        }
    }
    PQconninfoFree(options);
    if (badPort.empty()) return true;
    *error = HidePasswords("invalid port \"" + badPort + "\"", url);
    return false;
}

void ServerLink::Close() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
}

bool ServerLink::WaitSocket(bool forWriting, Clock::time_point deadline,
                            const std::atomic<bool>& stop, std::string* error) {
    for (;;) {
        if (stop.load()) {
            *error = "stopped";
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            *error = "the server did not answer in time";
            return false;
        }
        const platform::SocketWait wait =
            platform::WaitForSocket(PQsocket(conn_), forWriting,
                                    static_cast<int>(left < kPollSliceMs ? left : kPollSliceMs));
        if (wait == platform::SocketWait::kReady) return true;
        if (wait == platform::SocketWait::kFailed) {
            *error = "cannot watch the server's socket";
            return false;
        }
    }
}

bool ServerLink::Open(const std::string& url, Clock::time_point deadline,
                      const std::atomic<bool>& stop, std::string* error) {
    Close();
    conn_ = PQconnectStart(url.c_str());
    // The server's notices and warnings, from the first (a role's setting it
    // cannot apply) to "relation ... already exists, skipping", are no news
    // to the operator: they go to the trace.
    if (conn_ != nullptr) PQsetNoticeProcessor(conn_, &TraceNotice, nullptr);
    if (conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD) {
        *error = conn_ != nullptr ? Trimmed(PQerrorMessage(conn_)) : "out of memory";
        Close();
        return false;
    }
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING; state != PGRES_POLLING_OK;) {
        if (state == PGRES_POLLING_FAILED ||
            !WaitSocket(state == PGRES_POLLING_WRITING, deadline, stop, error)) {
            if (state == PGRES_POLLING_FAILED) *error = Trimmed(PQerrorMessage(conn_));
            Close();
            return false;
        }
        state = PQconnectPoll(conn_);
    }
    if (PQsetnonblocking(conn_, 1) != 0 ||
        !Exec(kServerSchema, 0, nullptr, deadline, stop, error) ||
        !Exec(kServerAddedColumns, 0, nullptr, deadline, stop, error)) {
        if (error->empty()) *error = Trimmed(PQerrorMessage(conn_));
        Close();
        return false;
    }
    return true;
}

bool ServerLink::Connect(const std::string& url, Clock::time_point deadline,
                         const std::atomic<bool>& stop, std::string* error) {
    if (Open(url, deadline, stop, error)) return true;
    *error = HidePasswords(*error, url);
    return false;
}

bool ServerLink::Exec(const char* sql, int count, const char* const* values,
                      Clock::time_point deadline, const std::atomic<bool>& stop,
                      std::string* error) {
    refused_ = false;
    if (PQsendQueryParams(conn_, sql, count, nullptr, values, nullptr, nullptr, 0) != 1) {
        *error = Trimmed(PQerrorMessage(conn_));
        return false;
    }
    int flushed;
    while ((flushed = PQflush(conn_)) == 1) {
        if (!WaitSocket(true, deadline, stop, error)) return false;
    }
    if (flushed != 0) {
        *error = Trimmed(PQerrorMessage(conn_));
        return false;
    }
    bool ok = true;
    for (;;) {
        while (PQisBusy(conn_) == 1) {
            if (!WaitSocket(false, deadline, stop, error)) return false;
            if (PQconsumeInput(conn_) != 1) {
                *error = Trimmed(PQerrorMessage(conn_));
                return false;
            }
        }
        PGresult* result = PQgetResult(conn_);
        if (result == nullptr) break;
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            // The first line only: its detail may quote a whole row.
            const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
            *error = Trimmed(primary != nullptr ? primary : PQresultErrorMessage(result));
            ok = false;
        }
        PQclear(result);
    }
    // An error that leaves the connection sound is the server's answer.
    refused_ = !ok && PQstatus(conn_) == CONNECTION_OK;
    return ok;
}

std::vector<std::string> RecordFieldTexts(const ChannelRecord& r) {
    return {r.id,
            r.station,
            r.sessionStart,
            r.channelStart,
            r.channelEnd,
            std::to_string(r.channel),
            std::to_string(r.comPort),
            r.device,
            r.usbLocation,
            r.usbSerial,
            r.imageSet,
            ImagesJson(r),
            r.result,
            r.lastText,
            r.version,
            r.mode,
            std::to_string(r.attempt)};
}

bool ServerLink::Upsert(const ChannelRecord& r, Clock::time_point deadline,
                        const std::atomic<bool>& stop, std::string* error) {
    if (conn_ == nullptr) {
        refused_ = false;
        *error = "not connected";
        return false;
    }
    std::vector<std::string> fields = RecordFieldTexts(r);
    fields.push_back(std::to_string(r.revision));
    std::vector<const char*> values;
    for (std::string& field : fields) {
        field = ValidUtf8(field);
        values.push_back(field.c_str());
    }
    return Exec(kUpsert, static_cast<int>(values.size()), values.data(), deadline, stop, error);
}

}  // namespace records
