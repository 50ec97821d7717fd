// The station's own records: an SQLite database (normally
// "Kelvane_records.db" in the start folder) in WAL mode, every change one
// transaction, shared safely by the window and kelvane-cli running at once.
// Changes meant for the line's server also go into an outbox, in order, until
// the forwarder has delivered them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "records/record.h"

struct sqlite3;

namespace records {

inline constexpr const char* kRecordsFileName = "Kelvane_records.db";

// Which records to read; empty texts and channel -1 select everything.
struct RecordFilter {
    std::string since;        // channel start >= this (a date or a date and time)
    std::string until;        // channel start up to the end of this date or time
    int channel = -1;         // 0..7
    bool failedOnly = false;  // every result but "completed"
    std::string serial;       // USB serial number containing this text
};

// One pending change for the server: the record as it is now.
struct PendingChange {
    int64_t lastSeq = 0;  // the newest outbox entry of the record this covers
    ChannelRecord record;
};

// Records the server refused, by the reason it gave.
struct Refusal {
    std::string reason;
    int64_t records = 0;
    int64_t attempts = 0;  // the most any of them was tried
    std::string nextTry;   // the earliest next try, as the stored times
};

// What waits for the server: records with changes not yet delivered, and
// the refusals among them.
struct WaitingSummary {
    int64_t records = 0;
    std::vector<Refusal> refusals;
};

class LocalStore {
public:
    LocalStore() = default;
    ~LocalStore();
    LocalStore(const LocalStore&) = delete;
    LocalStore& operator=(const LocalStore&) = delete;

    // Opens (and creates when asked) the database and its tables. False with
    // a reason naming the file (and what the system said, for reading) when
    // it is missing, unreadable, not a database or (for writing) read-only.
    // A reader reads a database in a folder or on a disk that takes no new
    // file (read-only, full) as well.
    bool Open(const std::string& path, bool forWriting, std::string* error);
    bool IsOpen() const { return db_ != nullptr; }
    // How long a change waits for another program's lock before it fails.
    void SetBusyTimeout(int ms);
    // The last failure was another program's lock (busy), not a fault.
    bool busy() const { return busy_; }

    // Each change is one transaction; queue also puts it in the outbox.
    bool Insert(const ChannelRecord& record, bool queue, std::string* error);
    bool AddImage(const std::string& id, const ImageRecord& image, bool queue, std::string* error);
    bool Finish(const std::string& id, const std::string& end, const std::string& result,
                const std::string& lastText, bool queue, std::string* error);

    // Newest first.
    bool Query(const RecordFilter& filter, std::vector<ChannelRecord>* out, std::string* error);
    bool Load(const std::string& id, ChannelRecord* out, std::string* error);

    // The record of the oldest outbox entry, as it is now; false when the
    // outbox is empty or cannot be read. A record the server refused waits
    // out its pause meanwhile.
    bool OldestPending(PendingChange* out, std::string* error);
    // Removes the record's outbox entries up to lastSeq (delivered) and any
    // refusal of it.
    bool Delivered(const PendingChange& change, std::string* error);
    // The server refused the change: it stays, with the reason, and is not
    // handed out again for a pause that starts at firstPauseMs and doubles
    // with every refusal of the record, up to longestPauseMs.
    bool Refused(const PendingChange& change, const std::string& reason, int firstPauseMs,
                 int longestPauseMs, std::string* error);
    // Outbox entries waiting.
    int64_t PendingCount();
    bool Waiting(WaitingSummary* out, std::string* error);

private:
    bool OpenForReading(std::string* error);
    bool TryReader(const std::string& name, int flags, std::string* error);
    void Close();
    bool Exec(const char* sql, std::string* error);
    bool Change(const std::string& id, bool queue, std::string* error,
                const std::function<bool()>& body);
    bool LoadImages(ChannelRecord* record, std::string* error);
    bool HasColumn(const char* name);
    bool AddColumns(std::string* error);

    sqlite3* db_ = nullptr;
    std::string path_;
    bool busy_ = false;
    bool addedColumns_ = false;  // the records table has mode and attempt
};

}  // namespace records
