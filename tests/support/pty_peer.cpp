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

}  // namespace testing_support
