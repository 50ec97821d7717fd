#include "records/recorder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "config/settings.h"
#include "engine/image.h"
#include "engine/session.h"
#include "platform/device_identity.h"
#include "platform/host.h"
#include "platform/ini.h"
#include "platform/port_map.h"

namespace records {
namespace {

// The key's value; "" when missing or longer than kMaxRecordsValue, which
// is told (never cut: a URL without its last parameter reaches elsewhere).
std::string ReadKey(const platform::IniFile& ini, const char* key, const std::string& file,
                    const MessageSink& messages) {
    std::string value;
    if (!ini.Find(kRecordsSection, key, &value)) return "";
    if (value.size() <= kMaxRecordsValue) return value;
    if (messages) {
        messages("records: " + std::string(key) + " in " + file + " is longer than " +
                 std::to_string(kMaxRecordsValue) + " characters: not used");
    }
    return "";
}

// The writer's wait on a lock within one try, its pauses between tries, and
// how often it tries a change that fails for another reason.
constexpr int kWriterBusyMs = 100;
constexpr int kFirstWriteRetryMs = 50;
constexpr int kLongestWriteRetryMs = 1000;
constexpr int kMostWriteTries = 3;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

}  // namespace

RecorderOptions StationRecorderOptions(std::function<std::string()> imageSetFile,
                                       MessageSink messages) {
    const std::string settings = StartDirectoryFile(kSettingsFileName);
    platform::IniFile ini;
    ini.Load(settings.c_str());
    RecorderOptions options;
    options.databasePath = StartDirectoryFile(kRecordsFileName);
    options.station = ReadKey(ini, kStationKey, settings, messages);
    options.serverUrl = ReadKey(ini, kServerKey, settings, messages);
    options.imageSetFile = std::move(imageSetFile);
    options.messages = std::move(messages);
    return options;
}

Recorder::Recorder(RecorderOptions options) : options_(std::move(options)) {
    if (options_.station.empty()) options_.station = platform::HostName();
    std::string error;
    if (!store_.Open(options_.databasePath, true, &error)) {
        Tell("records: cannot use " + error + ": no records are kept in this run");
        return;
    }
    // A short wait on the other program's lock: the writer keeps trying and
    // still sees the end coming.
    store_.SetBusyTimeout(kWriterBusyMs);
    if (!options_.serverUrl.empty()) OpenServer();
    writer_ = std::thread([this] { WriteLoop(); });
}

Recorder::~Recorder() {
    StopWriter();
    if (forwarder_ != nullptr) forwarder_->Stop(options_.shutdownDrainMs);
}

void Recorder::OpenServer() {
    std::string error;
    if (!ServerLink::CheckUrl(options_.serverUrl, &error)) {
        Tell("records: the " + std::string(kServerKey) + " in " + kSettingsFileName +
             " is not a valid PostgreSQL URL (" + error +
             "): records are kept on this station only");
        return;
    }
    forwarder_ = std::make_unique<Forwarder>(options_.databasePath, options_.serverUrl,
                                             [this](const std::string& text) { Tell(text); });
    if (!forwarder_->Start(options_.serverCheckMs, &error)) {
        Tell("records: the records server does not answer (" + error +
             "): records are kept on this station and sent when it answers");
    }
}

void Recorder::Tell(const std::string& message) {
    if (options_.messages) options_.messages(message);
}

void Recorder::Queue(const std::string& id, std::function<bool(LocalStore&, std::string*)> write) {
    if (!writer_.joinable()) return;
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.push_back(PendingWrite{id, std::move(write)});
    queueChanged_.notify_all();
}

// Writes the front change; true when it is done with (written, or given up
// on: its record keeps no later change).
bool Recorder::WriteFront(const PendingWrite& write, int* failures) {
    if (broken_.count(write.id) != 0) return true;
    std::string error;
    if (write.write(store_, &error)) {
        *failures = 0;
        if (forwarder_ != nullptr) forwarder_->Wake();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        lastError_ = error;
    }
    // Another program's lock goes some time: wait for it. Anything else is
    // tried a few times.
    if (store_.busy() || ++*failures < kMostWriteTries) return false;
    *failures = 0;
    broken_.insert(write.id);
    if (!writeFailureTold_) {
        writeFailureTold_ = true;
        Tell("records: cannot write " + error + ": records of this run may be missing");
    }
    return true;
}

void Recorder::WriteLoop() {
    int failures = 0;
    int pauseMs = kFirstWriteRetryMs;
    std::unique_lock<std::mutex> lock(queueMutex_);
    for (;;) {
        queueChanged_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty() || abandon_) break;
        const PendingWrite write = queue_.front();
        lock.unlock();
        const bool done = WriteFront(write, &failures);
        lock.lock();
        if (done) {
            queue_.pop_front();
            pauseMs = kFirstWriteRetryMs;
            queueChanged_.notify_all();
            continue;
        }
        queueChanged_.wait_for(lock, std::chrono::milliseconds(pauseMs),
                               [this] { return abandon_; });
        pauseMs = std::min(pauseMs * 2, kLongestWriteRetryMs);
    }
}

// Lets the writer finish what waits for up to shutdownDrainMs; what it could
// not write is told.
void Recorder::StopWriter() {
    if (!writer_.joinable()) return;
    {
        std::unique_lock<std::mutex> lock(queueMutex_);
        stopping_ = true;
        queueChanged_.notify_all();
        abandon_ =
            !queueChanged_.wait_for(lock, std::chrono::milliseconds(options_.shutdownDrainMs),
                                    [this] { return queue_.empty(); });
        queueChanged_.notify_all();
    }
    writer_.join();
    // The writer has ended: what is left was never written.
    if (queue_.empty()) return;
    Tell("records: cannot write " + lastError_ + ": " + std::to_string(queue_.size()) +
         " changes of this run's records are lost; a record without its end stays \"" +
         kInterrupted + "\"");
}

void Recorder::SessionStarted(const int comPorts[kChannelCount]) {
    sessionStart_ = UtcNow();
    imageSet_ = options_.imageSetFile ? options_.imageSetFile() : "";
    for (int ch = 0; ch < kChannelCount; ++ch) {
        ChannelState& state = channels_[ch];
        state = ChannelState{};
        if (comPorts[ch] == 0) continue;
        ChannelRecord& r = state.record;
        r.channel = ch;
        r.comPort = comPorts[ch];
        LookUpPort(&r);
    }
}

// The device the port's COM number names now and where it sits.
void Recorder::LookUpPort(ChannelRecord* r) {
    r->device = platform::PortMap_DevicePath(r->comPort);
    const platform::DeviceIdentity identity = platform::LookUpDeviceIdentity(r->device);
    r->usbLocation = identity.usbLocation;
    r->usbSerial = identity.usbSerial;
}

void Recorder::ChannelStarted(int channel) {
    ChannelState& state = channels_[channel];
    ChannelRecord& r = state.record;
    const engine::ChannelRun run = engine::CurrentChannelRun(channel);
    // A station slot's port carries a new handset at each arrival: its
    // identity is the one of this handset, not of the first.
    if (run.station && r.comPort != 0) LookUpPort(&r);
    r.mode = run.station ? kStationMode : kSessionMode;
    r.attempt = run.attempt;
    r.images.clear();
    r.channelEnd.clear();
    r.lastText.clear();
    r.id = NewRecordId();
    r.station = options_.station;
    r.sessionStart = sessionStart_;
    r.channelStart = UtcNow();
    r.imageSet = imageSet_;
    r.version = KelvaneVersion();
    r.result = kInterrupted;
    const bool queue = forwarder_ != nullptr;
    Queue(r.id, [r, queue](LocalStore& store, std::string* error) {
        return store.Insert(r, queue, error);
    });
}

void Recorder::ImageFinished(int channel, const engine::ImageOutcome& image) {
    ChannelState& state = channels_[channel];
    // Size and CRC-32 of the bytes the session read once and sent.
    const bool read = image.fileSize >= 0;
    ImageRecord record{g_imageNames[image.slot],     image.path,         image.fileSize,
                       read ? Hex(image.crc32) : "", Hex(image.address), image.resultLine};
    state.record.images.push_back(record);
    const bool queue = forwarder_ != nullptr;
    Queue(state.record.id,
          [id = state.record.id, record, queue](LocalStore& store, std::string* error) {
              return store.AddImage(id, record, queue, error);
          });
}

void Recorder::ChannelFinished(int channel, engine::ChannelResult result, const char* lastText) {
    ChannelRecord& r = channels_[channel].record;
    r.channelEnd = UtcNow();
    r.result = engine::ChannelResultText(result);
    r.lastText = lastText;
    const bool queue = forwarder_ != nullptr;
    Queue(r.id, [id = r.id, end = r.channelEnd, result = r.result, text = r.lastText, queue](
                    LocalStore& store, std::string* error) {
        return store.Finish(id, end, result, text, queue, error);
    });
}

// The session's records are in the database when it returns, unless another
// program holds the database longer than this short wait.
void Recorder::SessionFinished() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    queueChanged_.wait_for(lock, std::chrono::milliseconds(options_.sessionEndWaitMs),
                           [this] { return queue_.empty(); });
}

ScopedRecorder::ScopedRecorder(RecorderOptions options) : recorder_(std::move(options)) {
    engine::SetSessionObserver(&recorder_);
}

ScopedRecorder::~ScopedRecorder() {
    engine::SetSessionObserver(nullptr);
}

}  // namespace records
