// Test support that needs no pseudo-terminal: temporary folders, waits,
// reply frames, recording receivers and trace capture.
#include <atomic>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include "link/frame.h"
#include "link/notify.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/trace.h"
#include "tests/support/pty_peer.h"

namespace testing_support {

TempDir::TempDir() {
    // A name nobody holds yet: create_directory fails on an existing one.
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            "kelvane-" + std::to_string(random()) + "-" + std::to_string(counter.fetch_add(1));
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) {
            path_ = (base / name).string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void SetUpChannel(int channel, int comNumber, uint32_t baud) {
    channelActive[channel] = 1;
    g_hSerialDevice[channel].store(nullptr);
    FRAME_Reset(channel);
    FLASH_DOWNLOADER_SelectFirstBuffer(channel);
    FLASH_DOWNLOADER_InitLink(channel);
    SERIAL_PORT_Start(channel, comNumber, baud);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<uint8_t> RawFrame(const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out{kFrameFlag};
    for (uint8_t b : content) {
        if (b == kFrameFlag || b == kFrameEscape) {
            out.push_back(kFrameEscape);
            out.push_back(b ^ kFrameEscapeXor);
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kFrameFlag);
    return out;
}

std::vector<uint8_t> ReplyFrame(uint8_t seq, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> content{seq};
    content.insert(content.end(), body.begin(), body.end());
    uint16_t fcs = CRC16_Compute(body.data(), static_cast<int>(body.size()));
    content.push_back(static_cast<uint8_t>(fcs & 0xFF));
    content.push_back(static_cast<uint8_t>(fcs >> 8));
    return RawFrame(content);
}

std::vector<uint8_t> Ack(uint8_t seq) {
    return ReplyFrame(seq, {0x02});
}

std::vector<uint8_t> Nak(uint8_t seq, uint8_t error) {
    return ReplyFrame(seq, {0x03, 0x00, error});
}

intptr_t RecordingReceiver::Send(unsigned /*message*/, uintptr_t code, const void* payload) {
    Entry entry{static_cast<int>(code), -1, "", 0, 0, 0};
    if (code == NOTIFY_STATUS && payload != nullptr) {
        entry.text = static_cast<const char*>(payload);
    } else if (payload != nullptr) {
        const auto* e = static_cast<const ImageEntry*>(payload);
        entry.channel = e->channel;
        entry.kind = e->kind;
        entry.bytesSent = e->bytesSent;
        entry.size = e->size;
        if (code == NOTIFY_CHANNEL_TEXT) entry.text = e->path;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    return 0;
}

std::vector<RecordingReceiver::Entry> RecordingReceiver::Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<std::string> RecordingReceiver::Texts(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const Entry& e : entries_) {
        if (e.code == code) out.push_back(e.text);
    }
    return out;
}

namespace {
std::mutex g_traceMutex;
std::vector<std::string> g_traceLines;
void RecordTrace(const char* line) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.emplace_back(line);
}
}  // namespace

TraceCapture::TraceCapture() {
    {
        std::lock_guard<std::mutex> lock(g_traceMutex);
        g_traceLines.clear();
    }
    platform::SetTraceHook(&RecordTrace);
}

TraceCapture::~TraceCapture() {
    platform::SetTraceHook(nullptr);
}

std::vector<std::string> TraceCapture::Lines() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    return g_traceLines;
}

bool TraceCapture::Contains(const std::string& fragment) {
    for (const std::string& line : Lines()) {
        if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
}

}  // namespace testing_support
