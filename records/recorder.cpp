#include "records/recorder.h"

#include <cstdio>
#include <utility>

#include "config/settings.h"
#include "engine/crc32.h"
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
    if (!options_.serverUrl.empty()) OpenServer();
}

Recorder::~Recorder() {
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

// Called with storeMutex_ held. The first failed write is told; a flash never
// waits on it.
void Recorder::Written(bool ok, const std::string& error) {
    if (ok) {
        if (forwarder_ != nullptr) forwarder_->Wake();
        return;
    }
    if (writeFailureTold_) return;
    writeFailureTold_ = true;
    Tell("records: cannot write " + error + ": records of this run may be missing");
}

const Recorder::FileFacts& Recorder::Facts(const std::string& path) {
    static const FileFacts kUnknown;
    const auto found = files_.find(path);
    return found != files_.end() ? found->second : kUnknown;
}

// Size and CRC-32 of a file, read once per session and kept while the file
// is unchanged (a repeated session does not read its images again).
void Recorder::LearnFile(const std::string& path) {
    FileFacts& facts = files_[path];
    platform::FileVersion version;
    if (!platform::RegularFileVersion(path, &version)) {
        facts = FileFacts{};
        return;
    }
    // A file replaced (a new identity) or written (new times) is read again.
    if (facts.size >= 0 && facts.version == version) return;
    uint32_t crc = 0;
    facts.size = static_cast<int64_t>(version.size);
    facts.version = version;
    facts.crc32 = VARKO_FileCrc32(path.c_str(), &crc) ? Hex(crc) : "";
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
        r.device = platform::PortMap_DevicePath(comPorts[ch]);
        const platform::DeviceIdentity identity = platform::LookUpDeviceIdentity(r.device);
        r.usbLocation = identity.usbLocation;
        r.usbSerial = identity.usbSerial;
        for (const ImageEntry& e : g_imageTable[ch]) {
            if (e.path[0] != '\0') LearnFile(e.path);
        }
    }
}

void Recorder::ChannelStarted(int channel) {
    ChannelState& state = channels_[channel];
    ChannelRecord& r = state.record;
    r.id = NewRecordId();
    r.station = options_.station;
    r.sessionStart = sessionStart_;
    r.channelStart = UtcNow();
    r.imageSet = imageSet_;
    r.version = KelvaneVersion();
    r.result = kInterrupted;
    std::lock_guard<std::mutex> lock(storeMutex_);
    if (!store_.IsOpen()) return;
    std::string error;
    state.written = store_.Insert(r, forwarder_ != nullptr, &error);
    Written(state.written, error);
}

void Recorder::ImageFinished(int channel, const engine::ImageOutcome& image) {
    ChannelState& state = channels_[channel];
    const FileFacts& facts = Facts(image.path);
    ImageRecord record{g_imageNames[image.slot], image.path,      facts.size, facts.crc32,
                       Hex(image.address),       image.resultLine};
    state.record.images.push_back(record);
    if (!state.written) return;
    std::lock_guard<std::mutex> lock(storeMutex_);
    std::string error;
    Written(store_.AddImage(state.record.id, record, forwarder_ != nullptr, &error), error);
}

void Recorder::ChannelFinished(int channel, engine::ChannelResult result, const char* lastText) {
    ChannelState& state = channels_[channel];
    state.record.channelEnd = UtcNow();
    state.record.result = engine::ChannelResultText(result);
    state.record.lastText = lastText;
    if (!state.written) return;
    std::lock_guard<std::mutex> lock(storeMutex_);
    std::string error;
    Written(store_.Finish(state.record.id, state.record.channelEnd, state.record.result,
                          state.record.lastText, forwarder_ != nullptr, &error),
            error);
}

void Recorder::SessionFinished() {}

ScopedRecorder::ScopedRecorder(RecorderOptions options) : recorder_(std::move(options)) {
    engine::SetSessionObserver(&recorder_);
}

ScopedRecorder::~ScopedRecorder() {
    engine::SetSessionObserver(nullptr);
}

}  // namespace records
