#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "link/frame.h"
#include "link/notify.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/ini.h"
#include "platform/port_map.h"
#include "platform/trace.h"

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

static void MakeRaw(int fd) {
    struct termios tio {};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}

Pty::Pty() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    MakeRaw(master_);
    MakeRaw(slave_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = name;
}

Pty::~Pty() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
}

void Pty::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void Pty::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && master_ >= 0 && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            struct pollfd p {
                master_, POLLOUT, 0
            };
            ::poll(&p, 1, 10);
        }
    }
}

void PinPort(const std::string& folder, int comNumber, const std::string& path) {
    platform::PortMap_SetDirectory(folder);
    std::string key = "COM" + std::to_string(comNumber);
    platform::IniWriteString(platform::kPortMapSection, key.c_str(), path.c_str(),
                                        platform::PortMap_File().c_str());
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

ScriptedPeer::ScriptedPeer(Pty& pty, Responder responder)
    : pty_(pty), responder_(std::move(responder)), thread_([this] { Run(); }) {}

ScriptedPeer::~ScriptedPeer() {
    Stop();
}

void ScriptedPeer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void ScriptedPeer::Run() {
    uint8_t buffer[4096];
    while (!stop_) {
        int fd = pty_.master();
        if (fd < 0) break;
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (::poll(&p, 1, 5) <= 0) continue;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        for (ssize_t i = 0; i < n; ++i)
            Feed(buffer[i]);
    }
}

void ScriptedPeer::Feed(uint8_t byte) {
    // 0 hunting, 1 in frame, 2 after escape
    if (state_ == 0) {
        if (byte == kFrameFlag) {
            state_ = 1;
            frame_.clear();
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.push_back(static_cast<char>(byte));
        }
        return;
    }
    if (state_ == 2) {
        frame_.push_back(byte ^ kFrameEscapeXor);
        state_ = 1;
        return;
    }
    if (byte == kFrameEscape) {
        state_ = 2;
        return;
    }
    if (byte != kFrameFlag) {
        frame_.push_back(byte);
        return;
    }
    if (frame_.empty()) return;  // a run of flags
    state_ = 0;
    HostPacket packet{frame_[0], {}, false};
    if (frame_.size() >= 3) {
        packet.command.assign(frame_.begin() + 1, frame_.end() - 2);
        uint16_t fcs =
            CRC16_Compute(packet.command.data(), static_cast<int>(packet.command.size()));
        packet.fcsOk = frame_[frame_.size() - 2] == (fcs & 0xFF) && frame_.back() == (fcs >> 8);
    }
    int index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packets_.push_back(packet);
        index = static_cast<int>(packets_.size()) - 1;
    }
    changed_.notify_all();
    std::vector<uint8_t> reply = responder_ ? responder_(packet, index) : std::vector<uint8_t>{};
    if (!reply.empty()) pty_.Write(reply);
}

std::vector<HostPacket> ScriptedPeer::Packets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_;
}

size_t ScriptedPeer::PacketCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_.size();
}

std::string ScriptedPeer::Text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

bool ScriptedPeer::WaitForPackets(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return packets_.size() >= count; });
}

void ScriptedPeer::Send(const std::vector<uint8_t>& bytes) {
    pty_.Write(bytes);
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
