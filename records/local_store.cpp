#include "records/local_store.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/files.h"

namespace records {
namespace {

// Long enough for the other program's transaction on the same station; a
// change is a few rows, so this is never waited out in normal use.
constexpr int kBusyTimeoutMs = 5000;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS records("
    " id TEXT PRIMARY KEY, station TEXT NOT NULL, session_start TEXT NOT NULL,"
    " channel_start TEXT NOT NULL, channel_end TEXT NOT NULL DEFAULT '',"
    " channel INTEGER NOT NULL, com_port INTEGER NOT NULL, device TEXT NOT NULL,"
    " usb_location TEXT NOT NULL, usb_serial TEXT NOT NULL, image_set TEXT NOT NULL,"
    " result TEXT NOT NULL, last_text TEXT NOT NULL, version TEXT NOT NULL,"
    " revision INTEGER NOT NULL DEFAULT 1, mode TEXT NOT NULL DEFAULT 'session',"
    " attempt INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS records_by_start ON records(channel_start);"
    "CREATE TABLE IF NOT EXISTS images("
    " record_id TEXT NOT NULL, position INTEGER NOT NULL, slot TEXT NOT NULL,"
    " path TEXT NOT NULL, size INTEGER NOT NULL, crc32 TEXT NOT NULL, address TEXT NOT NULL,"
    " result_line TEXT NOT NULL, PRIMARY KEY(record_id, position));"
    "CREATE TABLE IF NOT EXISTS outbox("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT, record_id TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS refused("
    " record_id TEXT PRIMARY KEY, attempts INTEGER NOT NULL, retry_at TEXT NOT NULL,"
    " reason TEXT NOT NULL);";

// Now, as the stored times are written (UTC, milliseconds).
const char* const kSqlNow = "strftime('%Y-%m-%dT%H:%M:%fZ', 'now')";

// The columns a database of an older Kelvane lacks, added in place when it is
// opened for writing (an older Kelvane still reads and writes the file: it
// names its columns, and the new ones have defaults).
const char* const kAddedColumns[][2] = {
    {"mode", "ALTER TABLE records ADD COLUMN mode TEXT NOT NULL DEFAULT 'session'"},
    {"attempt", "ALTER TABLE records ADD COLUMN attempt INTEGER NOT NULL DEFAULT 0"},
};

// The record's columns; a reader of an older database reads the defaults of
// the columns it lacks.
std::string RecordColumns(bool added) {
    return std::string(
               "id, station, session_start, channel_start, channel_end, channel, com_port, device,"
               " usb_location, usb_serial, image_set, result, last_text, version, revision, ") +
           (added ? "mode, attempt" : "'session', 0");
}

// A prepared statement, finalised with the object.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& Bind(const std::string& text) {
        sqlite3_bind_text(stmt_, ++bound_, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int64_t value) {
        sqlite3_bind_int64(stmt_, ++bound_, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return stmt_ != nullptr ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int bound_ = 0;
};

std::string Reason(sqlite3* db, const std::string& path) {
    return path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

// What the system said of SQLite's last failed call (" (Read-only file
// system)"), "" when nothing.
std::string SystemReason(sqlite3* db) {
    const int code = db != nullptr ? sqlite3_system_errno(db) : 0;
    return code != 0 ? std::string(" (") + std::strerror(code) + ")" : "";
}

// An SQLite URI that opens path as a file no one changes.
std::string ImmutableUri(const std::string& path) {
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
            uri += escape;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

ChannelRecord ReadRecord(const Statement& row) {
    ChannelRecord r;
    r.id = row.Text(0);
    r.station = row.Text(1);
    r.sessionStart = row.Text(2);
    r.channelStart = row.Text(3);
    r.channelEnd = row.Text(4);
    r.channel = static_cast<int>(row.Int(5));
    r.comPort = static_cast<int>(row.Int(6));
    r.device = row.Text(7);
    r.usbLocation = row.Text(8);
    r.usbSerial = row.Text(9);
    r.imageSet = row.Text(10);
    r.result = row.Text(11);
    r.lastText = row.Text(12);
    r.version = row.Text(13);
    r.revision = row.Int(14);
    r.mode = row.Text(15);
    r.attempt = static_cast<int>(row.Int(16));
    return r;
}

}  // namespace

LocalStore::~LocalStore() {
    Close();
}

bool LocalStore::Open(const std::string& path, bool forWriting, std::string* error) {
    path_ = path;
    if (!forWriting) return OpenForReading(error);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    if (rc != SQLITE_OK) {
        *error = Reason(db, path);
        sqlite3_close_v2(db);
        return false;
    }
    db_ = db;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (sqlite3_db_readonly(db_, "main") == 1) {
        *error = path + ": the file is read-only";
    } else if (Exec("PRAGMA journal_mode=WAL", error) && Exec("PRAGMA synchronous=NORMAL", error) &&
               Exec(kSchema, error) && AddColumns(error)) {
        // WAL lets readers and one writer of either program work at once.
        return true;
    }
    Close();
    return false;
}

void LocalStore::Close() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool LocalStore::TryReader(const std::string& name, int flags, std::string* error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        *error = Reason(db, path_) + SystemReason(db);
        sqlite3_close_v2(db);
        return false;
    }
    db_ = db;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    std::string reason;
    if (Exec("SELECT count(*) FROM records", &reason)) {
        addedColumns_ = HasColumn(kAddedColumns[0][0]);
        return true;
    }
    *error = reason + SystemReason(db_);
    Close();
    return false;
}

bool LocalStore::OpenForReading(std::string* error) {
    // Without a WAL file (or with an empty one) the database file holds every
    // record. A folder or disk that takes no new file (read-only, full) keeps
    // SQLite from making the WAL and index it reads through: it then reads
    // the file as it is, which no program can be changing there.
    uint64_t walSize = 0;
    const bool walBefore =
        platform::KindOfFile((path_ + "-wal").c_str(), &walSize) != platform::FileKind::kMissing &&
        walSize > 0;
    std::string ignored;
    if (TryReader(path_, SQLITE_OPEN_READWRITE, error) ||
        TryReader(path_, SQLITE_OPEN_READONLY, &ignored)) {
        return true;
    }
    return !walBefore && platform::PathExists(path_) &&
           TryReader(ImmutableUri(path_), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, &ignored);
}

bool LocalStore::HasColumn(const char* name) {
    Statement column(db_, "SELECT count(*) FROM pragma_table_info('records') WHERE name = ?");
    return column.Bind(std::string(name)).Step() == SQLITE_ROW && column.Int(0) > 0;
}

bool LocalStore::AddColumns(std::string* error) {
    for (const auto& added : kAddedColumns) {
        if (!HasColumn(added[0]) && !Exec(added[1], error)) return false;
    }
    addedColumns_ = true;
    return true;
}

void LocalStore::SetBusyTimeout(int ms) {
    if (db_ != nullptr) sqlite3_busy_timeout(db_, ms);
}

bool LocalStore::Exec(const char* sql, std::string* error) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    busy_ = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    if (rc == SQLITE_OK) return true;
    *error = path_ + ": " + (message != nullptr ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

bool LocalStore::Change(const std::string& id, bool queue, std::string* error,
                        const std::function<bool()>& body) {
    if (db_ == nullptr) {
        busy_ = false;
        *error = path_ + ": not open";
        return false;
    }
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    bool ok = body();
    if (ok && queue) {
        Statement add(db_, "INSERT INTO outbox(record_id) VALUES(?)");
        ok = add.Bind(id).Run();
    }
    if (!ok) {
        const int rc = sqlite3_errcode(db_);
        busy_ = rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
        *error = Reason(db_, path_);
    }
    if (ok && Exec("COMMIT", error)) return true;
    const bool busy = busy_;
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    busy_ = busy;
    return false;
}

bool LocalStore::Insert(const ChannelRecord& r, bool queue, std::string* error) {
    return Change(r.id, queue, error, [&] {
        Statement insert(db_,
                         "INSERT INTO records(id, station, session_start, channel_start,"
                         " channel_end, channel, com_port, device, usb_location, usb_serial,"
                         " image_set, result, last_text, version, revision, mode, attempt)"
                         " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,?,?)");
        insert.Bind(r.id).Bind(r.station).Bind(r.sessionStart).Bind(r.channelStart);
        insert.Bind(r.channelEnd).Bind(r.channel).Bind(r.comPort).Bind(r.device);
        insert.Bind(r.usbLocation).Bind(r.usbSerial).Bind(r.imageSet).Bind(r.result);
        insert.Bind(r.lastText).Bind(r.version).Bind(r.mode).Bind(r.attempt);
        return insert.Run();
    });
}

bool LocalStore::AddImage(const std::string& id, const ImageRecord& image, bool queue,
                          std::string* error) {
    return Change(id, queue, error, [&] {
        Statement add(db_,
                      "INSERT INTO images(record_id, position, slot, path, size, crc32, address,"
                      " result_line) SELECT ?1, count(*), ?2, ?3, ?4, ?5, ?6, ?7 FROM images"
                      " WHERE record_id = ?1");
        add.Bind(id).Bind(image.slot).Bind(image.path).Bind(image.size).Bind(image.crc32);
        add.Bind(image.address).Bind(image.resultLine);
        Statement bump(db_, "UPDATE records SET revision = revision + 1 WHERE id = ?");
        return add.Run() && bump.Bind(id).Run();
    });
}

bool LocalStore::Finish(const std::string& id, const std::string& end, const std::string& result,
                        const std::string& lastText, bool queue, std::string* error) {
    return Change(id, queue, error, [&] {
        Statement update(db_,
                         "UPDATE records SET channel_end = ?, result = ?, last_text = ?,"
                         " revision = revision + 1 WHERE id = ?");
        return update.Bind(end).Bind(result).Bind(lastText).Bind(id).Run();
    });
}

bool LocalStore::LoadImages(ChannelRecord* record, std::string* error) {
    Statement select(db_,
                     "SELECT slot, path, size, crc32, address, result_line FROM images"
                     " WHERE record_id = ? ORDER BY position");
    select.Bind(record->id);
    int rc;
    while ((rc = select.Step()) == SQLITE_ROW) {
        record->images.push_back(ImageRecord{select.Text(0), select.Text(1), select.Int(2),
                                             select.Text(3), select.Text(4), select.Text(5)});
    }
    if (rc == SQLITE_DONE) return true;
    *error = Reason(db_, path_);
    return false;
}

bool LocalStore::Query(const RecordFilter& filter, std::vector<ChannelRecord>* out,
                       std::string* error) {
    // A bound "until" covers everything that begins with it: all of that day
    // (or minute), however precise the stored times are.
    const std::string sql = "SELECT " + RecordColumns(addedColumns_) +
                            " FROM records WHERE (?1 = '' OR channel_start >= ?1)"
                            " AND (?2 = '' OR substr(channel_start, 1, length(?2)) <= ?2)"
                            " AND (?3 < 0 OR channel = ?3) AND (?4 = 0 OR result <> 'completed')"
                            " AND (?5 = '' OR instr(usb_serial, ?5) > 0)"
                            " ORDER BY channel_start DESC, channel DESC";
    Statement select(db_, sql.c_str());
    if (!select.ok()) {
        *error = Reason(db_, path_);
        return false;
    }
    select.Bind(filter.since).Bind(filter.until).Bind(filter.channel);
    select.Bind(filter.failedOnly ? 1 : 0).Bind(filter.serial);
    int rc;
    while ((rc = select.Step()) == SQLITE_ROW)
        out->push_back(ReadRecord(select));
    if (rc != SQLITE_DONE) {
        *error = Reason(db_, path_);
        return false;
    }
    for (ChannelRecord& record : *out) {
        if (!LoadImages(&record, error)) return false;
    }
    return true;
}

bool LocalStore::Load(const std::string& id, ChannelRecord* out, std::string* error) {
    const std::string sql = "SELECT " + RecordColumns(addedColumns_) + " FROM records WHERE id = ?";
    Statement select(db_, sql.c_str());
    select.Bind(id);
    const int rc = select.Step();
    if (rc != SQLITE_ROW) {
        *error = rc == SQLITE_DONE ? path_ + ": no record " + id : Reason(db_, path_);
        return false;
    }
    *out = ReadRecord(select);
    return LoadImages(out, error);
}

bool LocalStore::OldestPending(PendingChange* out, std::string* error) {
    if (db_ == nullptr) return false;
    // One read transaction: the record and the outbox as of the same moment.
    if (!Exec("BEGIN", error)) return false;
    // An entry whose record is gone (a database edited by hand) is passed
    // over rather than holding up everything behind it.
    // A record the server refused waits out its pause without holding up
    // the others.
    const std::string sql =
        std::string(
            "SELECT record_id, (SELECT max(seq) FROM outbox o WHERE o.record_id ="
            " outbox.record_id) FROM outbox WHERE record_id IN (SELECT id FROM records)"
            " AND record_id NOT IN (SELECT record_id FROM refused WHERE retry_at > ") +
        kSqlNow + ") ORDER BY seq LIMIT 1";
    Statement oldest(db_, sql.c_str());
    bool found = oldest.Step() == SQLITE_ROW;
    if (found) {
        out->lastSeq = oldest.Int(1);
        out->record = ChannelRecord{};
        found = Load(oldest.Text(0), &out->record, error);
    }
    std::string ignored;
    Exec("COMMIT", &ignored);
    return found;
}

bool LocalStore::Delivered(const PendingChange& change, std::string* error) {
    return Change(change.record.id, false, error, [&] {
        Statement remove(db_, "DELETE FROM outbox WHERE record_id = ? AND seq <= ?");
        Statement accepted(db_, "DELETE FROM refused WHERE record_id = ?");
        return remove.Bind(change.record.id).Bind(change.lastSeq).Run() &&
               accepted.Bind(change.record.id).Run();
    });
}

bool LocalStore::Refused(const PendingChange& change, const std::string& reason, int firstPauseMs,
                         int longestPauseMs, std::string* error) {
    return Change(change.record.id, false, error, [&] {
        Statement before(db_, "SELECT attempts FROM refused WHERE record_id = ?");
        const int64_t attempts =
            before.Bind(change.record.id).Step() == SQLITE_ROW ? before.Int(0) : 0;
        // The pause doubles with every refusal, up to the longest.
        int64_t pauseMs = firstPauseMs;
        for (int64_t i = 0; i < attempts && pauseMs < longestPauseMs; ++i)
            pauseMs *= 2;
        if (pauseMs > longestPauseMs) pauseMs = longestPauseMs;
        char shift[48];
        std::snprintf(shift, sizeof shift, "+%lld.%03lld seconds",
                      static_cast<long long>(pauseMs / 1000),
                      static_cast<long long>(pauseMs % 1000));
        Statement note(db_,
                       "INSERT OR REPLACE INTO refused(record_id, attempts, retry_at, reason)"
                       " VALUES(?, ?, strftime('%Y-%m-%dT%H:%M:%fZ', 'now', ?), ?)");
        return note.Bind(change.record.id)
            .Bind(attempts + 1)
            .Bind(std::string(shift))
            .Bind(reason)
            .Run();
    });
}

bool LocalStore::Waiting(WaitingSummary* out, std::string* error) {
    *out = WaitingSummary{};
    Statement count(db_,
                    "SELECT count(DISTINCT record_id) FROM outbox WHERE record_id IN"
                    " (SELECT id FROM records)");
    if (count.Step() != SQLITE_ROW) {
        *error = Reason(db_, path_);
        return false;
    }
    out->records = count.Int(0);
    // A database of an older Kelvane has no refusals.
    Statement known(db_, "SELECT count(*) FROM sqlite_master WHERE name = 'refused'");
    if (known.Step() != SQLITE_ROW || known.Int(0) == 0) return true;
    Statement refused(db_,
                      "SELECT reason, count(*), max(attempts), min(retry_at) FROM refused"
                      " WHERE record_id IN (SELECT record_id FROM outbox) AND record_id IN"
                      " (SELECT id FROM records) GROUP BY reason ORDER BY min(retry_at)");
    int rc;
    while ((rc = refused.Step()) == SQLITE_ROW) {
        out->refusals.push_back(
            Refusal{refused.Text(0), refused.Int(1), refused.Int(2), refused.Text(3)});
    }
    if (rc == SQLITE_DONE) return true;
    *error = Reason(db_, path_);
    return false;
}

int64_t LocalStore::PendingCount() {
    if (db_ == nullptr) return 0;
    Statement count(db_, "SELECT count(*) FROM outbox WHERE record_id IN (SELECT id FROM records)");
    return count.Step() == SQLITE_ROW ? count.Int(0) : 0;
}

}  // namespace records
