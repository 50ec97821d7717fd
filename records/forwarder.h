// Sends the station's pending record changes to the line's server on a thread
// of its own, oldest first, each acknowledged change removed from the outbox
// only after the server has it. A server that is down or slow only delays
// this thread; the recorder never waits for it. A record the server refuses
// stays on the station and is tried again after a pause that grows with each
// refusal; the records behind it go on meanwhile, and each reason of refusal
// is told once (the first few reasons).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "records/local_store.h"
#include "records/server_link.h"

namespace records {

class Forwarder {
public:
    using MessageSink = std::function<void(const std::string&)>;

    // told gets one line per new reason of refusal (on the forwarder's thread).
    Forwarder(std::string databasePath, std::string url, MessageSink told = nullptr);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Starts the thread and waits up to waitMs for its first connection
    // attempt: false with the reason when that failed or did not end in time
    // (the thread goes on trying either way).
    bool Start(int waitMs, std::string* error);
    // A change waits in the outbox.
    void Wake();
    // Lets the thread deliver what waits for up to drainMs, then ends it.
    void Stop(int drainMs);

    int64_t delivered() const { return delivered_.load(); }

private:
    void Run();
    bool Step();
    bool Refused(const PendingChange& change, const std::string& reason);
    void Rest(int ms);
    void ReportFirstTry(bool ok, const std::string& error);
    Clock::time_point Deadline(int ms) const;

    const std::string databasePath_;
    const std::string url_;
    const MessageSink told_;
    std::set<std::string> toldReasons_;  // the thread's own
    LocalStore store_;                   // the thread's own connection
    ServerLink link_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    bool firstTryDone_ = false;
    bool firstTryOk_ = false;
    std::string firstTryError_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> delivered_{0};
};

}  // namespace records
