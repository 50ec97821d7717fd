// The station recorder: watches every download session (and every station
// slot's attempts) through the engine's observer and keeps one record per
// channel per session, or per handset per attempt, in the station's
// database, written when the channel starts and completed when it ends. With
// a server URL it also hands the changes to a forwarder for the line's server.
// Neither a database nor a server problem ever stops or slows a flash: the
// channels only queue their changes, a thread of the recorder's own writes
// them in order, and a problem is told once. A database another program keeps
// locked gets the changes once it is free; a record that lost a change keeps
// no later one, so it never claims an end it could not record whole (it
// stays "interrupted").
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "engine/observer.h"
#include "platform/files.h"
#include "records/forwarder.h"
#include "records/local_store.h"

namespace records {

// Section "RECORDS" of the settings file: the station's name and the line's
// server. Kept apart from section "VARKO" so that older files read as before.
inline constexpr const char* kRecordsSection = "RECORDS";
inline constexpr const char* kStationKey = "STATION";
inline constexpr const char* kServerKey = "POSTGRESQL_URL";
// A longer value of the section is refused, never cut.
inline constexpr size_t kMaxRecordsValue = 1023;

using MessageSink = std::function<void(const std::string&)>;

struct RecorderOptions {
    std::string databasePath;
    std::string station;    // "" for the host name
    std::string serverUrl;  // "" keeps the records on this station only
    // The image-set file of the session starting (asked on the runner's thread).
    std::function<std::string()> imageSetFile;
    MessageSink messages;        // one line per problem, from any thread
    int serverCheckMs = 3000;    // how long the start waits for the server's first answer
    int shutdownDrainMs = 3000;  // how long the end lets waiting changes go to the database
                                 // and to the server
    int sessionEndWaitMs = 500;  // how long a session's end waits for its changes to be written
};

// The options for a front end: the database and settings in the start folder.
// A value of section "RECORDS" too long to use is told through messages.
RecorderOptions StationRecorderOptions(std::function<std::string()> imageSetFile,
                                       MessageSink messages);

class Recorder : public engine::SessionObserver {
public:
    explicit Recorder(RecorderOptions options);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool recording() const { return store_.IsOpen(); }
    bool forwarding() const { return forwarder_ != nullptr; }
    int64_t delivered() const { return forwarder_ != nullptr ? forwarder_->delivered() : 0; }

    void SessionStarted(const int comPorts[kChannelCount]) override;
    void ChannelStarted(int channel) override;
    void ImageFinished(int channel, const engine::ImageOutcome& image) override;
    void ChannelFinished(int channel, engine::ChannelResult result, const char* lastText) override;
    void SessionFinished() override;

private:
    struct ChannelState {
        ChannelRecord record;
    };
    // One change of one record, written by the writer thread.
    struct PendingWrite {
        std::string id;
        std::function<bool(LocalStore&, std::string*)> write;
    };

    void OpenServer();
    static void LookUpPort(ChannelRecord* r);
    void Tell(const std::string& message);
    void Queue(const std::string& id, std::function<bool(LocalStore&, std::string*)> write);
    void WriteLoop();
    bool WriteFront(const PendingWrite& write, int* failures);
    void StopWriter();

    RecorderOptions options_;
    LocalStore store_;  // the writer thread's once it runs
    std::unique_ptr<Forwarder> forwarder_;
    std::thread writer_;
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<PendingWrite> queue_;  // the front is removed once written
    bool stopping_ = false;           // under queueMutex_
    bool abandon_ = false;            // under queueMutex_: the end came first
    std::string lastError_;           // under queueMutex_
    std::set<std::string> broken_;    // the writer's: records that lost a change
    bool writeFailureTold_ = false;   // the writer's
    std::string sessionStart_;
    std::string imageSet_;
    std::array<ChannelState, kChannelCount> channels_;
};

// Installs a recorder as the engine's observer for as long as it lives.
class ScopedRecorder {
public:
    explicit ScopedRecorder(RecorderOptions options);
    ~ScopedRecorder();
    Recorder& recorder() { return recorder_; }

private:
    Recorder recorder_;
};

}  // namespace records
