#include "records/forwarder.h"

#include <utility>

namespace records {
namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 5000;
constexpr int kRetryMs = 1000;  // after a failed connection or send
constexpr int kIdleMs = 1000;   // a look at the outbox now and then (the other program's changes)
// The pause before a refused record is tried again: doubled at every refusal.
constexpr int kFirstRefusalPauseMs = 1000;
constexpr int kLongestRefusalPauseMs = 30 * 60 * 1000;
constexpr size_t kMostReasonsTold = 8;

}  // namespace

Forwarder::Forwarder(std::string databasePath, std::string url, MessageSink told)
    : databasePath_(std::move(databasePath)), url_(std::move(url)), told_(std::move(told)) {}

Forwarder::~Forwarder() {
    Stop(0);
}

bool Forwarder::Start(int waitMs, std::string* error) {
    thread_ = std::thread([this] { Run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                           [this] { return firstTryDone_; })) {
        *error = "no answer within " + std::to_string(waitMs / 1000) + " s";
        return false;
    }
    *error = firstTryError_;
    return firstTryOk_;
}

void Forwarder::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void Forwarder::Stop(int drainMs) {
    if (!thread_.joinable()) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::milliseconds(drainMs), [this] { return finished_; });
    }
    stop_ = true;  // ends any wait on the server within a poll slice
    Wake();
    thread_.join();
}

Clock::time_point Forwarder::Deadline(int ms) const {
    return Clock::now() + std::chrono::milliseconds(ms);
}

void Forwarder::ReportFirstTry(bool ok, const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (firstTryDone_) return;
    firstTryDone_ = true;
    firstTryOk_ = ok;
    firstTryError_ = error;
    changed_.notify_all();
}

// Waits up to ms for a change, a stop or the end of the rest.
void Forwarder::Rest(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(ms),
                      [this] { return woken_ || stopping_ || stop_.load(); });
    woken_ = false;
}

// One round: connect when needed, then deliver the oldest change. False when
// there is nothing to do now (or the server cannot be reached).
bool Forwarder::Step() {
    std::string error;
    const bool fresh = !link_.connected();
    if (fresh) {
        const bool ok = link_.Connect(url_, Deadline(kConnectTimeoutMs), stop_, &error);
        ReportFirstTry(ok, error);
        if (!ok) return false;
    }
    PendingChange change;
    if (!store_.OldestPending(&change, &error)) return false;
    if (!link_.Upsert(change.record, Deadline(kSendTimeoutMs), stop_, &error)) {
        // The next record goes on, unless the refusal could not be kept.
        if (link_.refused()) return Refused(change, error);
        link_.Close();
        // A connection that idled may have outlived a server restart: a
        // fresh one is tried at once (also while the end drains), a fresh
        // one that fails waits for the next try.
        return !fresh;
    }
    // Should this fail, the change goes again: the server keeps one copy.
    if (store_.Delivered(change, &error)) ++delivered_;
    return true;
}

bool Forwarder::Refused(const PendingChange& change, const std::string& reason) {
    std::string ignored;
    if (!store_.Refused(change, reason, kFirstRefusalPauseMs, kLongestRefusalPauseMs, &ignored))
        return false;
    // A few reasons are enough to see what is wrong; the rest is in the store.
    if (!told_ || toldReasons_.size() >= kMostReasonsTold || !toldReasons_.insert(reason).second)
        return true;
    told_("records: the records server refuses record " + change.record.id + " (" + reason +
          "): it is kept on this station and sent again later (kelvane-cli records shows what "
          "waits)");
    return true;
}

void Forwarder::Run() {
    std::string error;
    if (!store_.Open(databasePath_, true, &error)) {
        ReportFirstTry(false, error);
    } else {
        while (!stop_.load()) {
            const bool busy = Step();
            if (busy) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                // Stopping with nothing left to send, or no server to send it to.
                if (stopping_) break;
            }
            Rest(link_.connected() ? kIdleMs : kRetryMs);
        }
    }
    link_.Close();
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

}  // namespace records
