#include "engine/station.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/observer.h"
#include "engine/session.h"
#include "link/notify.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/device_identity.h"
#include "platform/port_presence.h"
#include "platform/serial_port.h"

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;

// A file that could not be read fails the same way on every try.
bool ImageUnreadable(const std::string& text) {
    return text.find("No File") != std::string::npos || text.find("File Read") != std::string::npos;
}

// The device the port names now; "" while there is none.
std::string DeviceNow(int comPort) {
    return platform::PortDeviceNow(comPort);
}

// A handset has arrived once its port opens (and closes again for the flash);
// *error gets the system's reason when it does not.
bool PortOpens(int comPort, int baud, int* error) {
    platform::SerialPort port;
    *error = 0;
    const bool ok = port.OpenCom(comPort, static_cast<uint32_t>(baud), error) ==
                    platform::SerialPort::OpenResult::kOk;
    port.Close();
    return ok;
}

std::string IdentityOf(const std::string& device) {
    const platform::DeviceIdentity id = platform::LookUpDeviceIdentity(device);
    if (!id.usbSerial.empty()) return id.usbSerial;
    return !id.usbLocation.empty() ? id.usbLocation : device;
}

}  // namespace

const char* SlotEventText(SlotEvent event) {
    static const char* const kTexts[] = {"arrived", "started", "progress", "passed",
                                         "failed",  "gone",    "stopped"};
    return kTexts[static_cast<int>(event)];
}

struct Station::State : platform::NotifyReceiver {
    StationOptions options;
    StationListener* listener = nullptr;
    platform::NotifyReceiver* texts = nullptr;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    bool finishing = false;  // guarded by mutex
    bool stopping = false;   // guarded by mutex
    int running = 0;         // guarded by mutex
    bool started = false;
    std::atomic<int> passed{0};
    std::atomic<int> failed{0};
    uint64_t totalBytes = 0;
    uint64_t bytesBefore[kImageSlotCount] = {};  // of the filled slots before each
    std::string identity[kChannelCount];         // each owned by its slot's worker
    // A device that is there but does not open (no permission, held by
    // another program), each slot's own; told once per device and reason.
    std::string refusedTold[kChannelCount];
    std::atomic<int> refused{0};  // slots whose present port never opened

    int ComPort(int ch) const {
        return static_cast<size_t>(ch) < options.comPorts.size() ? options.comPorts[ch] : 0;
    }

    void Report(SlotReport report) {
        report.comPort = ComPort(report.channel);
        report.identity = identity[report.channel];
        report.time = std::chrono::system_clock::now();
        if (listener != nullptr) listener->OnSlot(report);
    }

    void Tell(SlotEvent event, int ch, int attempt = 0) {
        SlotReport report;
        report.event = event;
        report.channel = ch;
        report.attempt = attempt;
        Report(report);
    }

    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override {
        const auto* e = static_cast<const ImageEntry*>(payload);
        if (code == NOTIFY_PROGRESS && e != nullptr && IsChannel(e->channel) && e->kind >= 0 &&
            e->kind < kImageSlotCount) {
            const uint64_t done = bytesBefore[e->kind] + e->bytesSent;
            SlotReport report;
            report.event = SlotEvent::kProgress;
            report.channel = e->channel;
            report.percent = totalBytes == 0 ? 100 : static_cast<int>(done * 100 / totalBytes);
            if (report.percent > 100) report.percent = 100;
            Report(report);
        }
        return texts != nullptr ? texts->Send(message, code, payload) : 0;
    }

    void CountImageBytes() {
        totalBytes = 0;
        for (int slot = 0; slot < kImageSlotCount; ++slot) {
            bytesBefore[slot] = totalBytes;
            const ImageEntry& e = g_imageTable[0][slot];
            uint32_t size = 0;
            uint32_t crc = 0;
            if (e.path[0] != '\0' && VARKO_LoadedImage(slot, e.path, &size, &crc))
                totalBytes += size;
        }
    }

    // Sleeps one poll unless the station is finishing; false once it is.
    bool PollWait() {
        std::unique_lock<std::mutex> lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(options.pollMs),
                              [this] { return finishing; });
    }

    bool WaitArrival(int ch, std::string* device) {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (finishing) return false;
            }
            *device = DeviceNow(ComPort(ch));
            int error = 0;
            if (!device->empty() && PortOpens(ComPort(ch), options.baud, &error)) {
                Opened(ch);
                return true;
            }
            if (!device->empty()) Refused(ch, *device, error);
            if (!PollWait()) return false;
        }
    }

    void Refused(int ch, const std::string& device, int error) {
        const std::string told = device + ": " + platform::SerialOpenErrorText(error);
        if (refusedTold[ch] == told) return;
        if (refusedTold[ch].empty()) ++refused;
        refusedTold[ch] = told;
        VARKO_SendChannelText(ch, "ERR: Open COM%d: %s", ComPort(ch), told.c_str());
    }

    void Opened(int ch) {
        if (refusedTold[ch].empty()) return;
        refusedTold[ch].clear();
        --refused;
    }

    // True once the port is gone or names another device than the handset's.
    bool WaitGone(int ch, const std::string& device) {
        for (;;) {
            if (DeviceNow(ComPort(ch)) != device) return true;
            if (!PollWait()) return false;
        }
    }

    // Starts the channel for one try unless a stop came first.
    bool StartTry(int ch, int attempt) {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping || finishing) return false;
        SetChannelRun(ch, ChannelRun{true, attempt});
        VARKO_StartChannel(ch, ComPort(ch), options.baud);
        return true;
    }

    // Flashes the handset that arrived, retrying link failures; false when
    // the channel was stopped. *left tells that the handset was found gone
    // during the flash: the next one may already be there under the same
    // device name (a pseudo-terminal's number or a USB port's node comes back).
    bool FlashHandset(int ch, const std::string& device, bool* left) {
        const Clock::time_point start = Clock::now();
        SlotReport result;
        result.channel = ch;
        bool stopped = false;
        for (int attempt = 0;; ++attempt) {
            if (!StartTry(ch, attempt)) {
                if (attempt == 0) return false;  // stopped before it was touched
                stopped = true;
                break;
            }
            result.attempt = attempt;
            Tell(SlotEvent::kStarted, ch, attempt);
            FileDownload(ch);
            const ChannelOutcome outcome = LastChannelOutcome(ch);
            result.text = outcome.lastText;
            if (outcome.ended && outcome.result == ChannelResult::kCompleted) {
                result.event = SlotEvent::kPassed;
                break;
            }
            stopped = outcome.result == ChannelResult::kStopped;
            *left = SERIAL_PORT_FarEndGone(ch);
            if (stopped || *left || attempt >= options.retries ||
                ImageUnreadable(outcome.lastText) || DeviceNow(ComPort(ch)) != device) {
                break;
            }
        }
        if (result.event != SlotEvent::kPassed) result.event = SlotEvent::kFailed;
        (result.event == SlotEvent::kPassed ? passed : failed)++;
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Report(result);
        return !stopped;
    }

    void RunSlot(int ch) {
        std::string device;
        while (WaitArrival(ch, &device)) {
            identity[ch] = IdentityOf(device);
            Tell(SlotEvent::kArrived, ch);
            bool left = false;
            if (!FlashHandset(ch, device, &left) || (!left && !WaitGone(ch, device))) break;
            Tell(SlotEvent::kGone, ch);
        }
        Tell(SlotEvent::kStopped, ch);
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        wake.notify_all();
    }
};

Station::Station(StationOptions options, StationListener* listener, platform::NotifyReceiver* texts)
    : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
    if (state_->options.pollMs < 10) state_->options.pollMs = 10;
    state_->listener = listener;
    state_->texts = texts;
}

Station::~Station() {
    if (!state_->started) return;
    Stop();
    Join();
}

bool Station::Start() {
    State& s = *state_;
    g_nWriteDelay = s.options.writeDelayMs;
    g_hNotifyWnd = &s;
    g_uNotifyMsg = NotifyMessage;
    g_bEmergencyMode = 1;
    FLASH_DOWNLOADER_InitCodes();
    for (int ch = 0; ch < kChannelCount; ++ch)
        VARKO_StartChannel(ch, s.ComPort(ch), s.options.baud);
    VARKO_LoadImages();
    s.CountImageBytes();
    ResetChannelRuns();
    ObserveSessionStart();
    s.started = true;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (s.ComPort(ch) == 0) continue;
        try {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.workers.emplace_back([&s, ch] { s.RunSlot(ch); });
            ++s.running;
        } catch (const std::system_error&) {
            VARKO_SendChannelText(ch, "ERR: Open");
        }
    }
    return !s.workers.empty();
}

void Station::Finish() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finishing = true;
    state_->wake.notify_all();
}

void Station::Stop() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->finishing = true;
        state_->stopping = true;
        state_->wake.notify_all();
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (state_->ComPort(ch) != 0) VARKO_StopChannel(ch);
    }
}

bool Station::WaitEnded(int maxWaitMs) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->wake.wait_for(lock, std::chrono::milliseconds(maxWaitMs),
                                 [this] { return state_->running == 0; });
}

void Station::Join() {
    State& s = *state_;
    if (!s.started) return;
    for (std::thread& worker : s.workers)
        worker.join();
    s.workers.clear();
    // No channel keeps its port: a session started later flashes only the
    // ports it is given.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (s.ComPort(ch) != 0) VARKO_ChannelEnded(ch);
    }
    ObserveSessionEnd();
    VARKO_ReleaseImages();
    VARKO_StopSession();
    s.started = false;
}

int Station::Passed() const {
    return state_->passed.load();
}

int Station::Failed() const {
    return state_->failed.load();
}

int Station::Refused() const {
    return state_->refused.load();
}

}  // namespace engine
