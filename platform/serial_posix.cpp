#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/port_map.h"
#include "platform/serial_port.h"
#include "platform/serial_speed.h"

namespace platform {
namespace {

// Raw 8N1, no echo, no translation; reads return at once.
bool SetRaw(int fd) {
    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// The longest slice a write holds the lock, so a close from another thread
// waits at most this long.
constexpr int kWriteSliceMs = 10;

// How long a close waits for written bytes to leave the output queue: the
// last command of a session (go) must reach the handset, not be purged.
constexpr int kCloseDrainMs = 500;

void DrainOutput(int fd) {
    for (int waited = 0; waited < kCloseDrainMs; waited += 2) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
        struct pollfd p {
            fd, 0, 0
        };
        ::poll(&p, 1, 2);
    }
}

}  // namespace

struct SerialPort::Handle {
    std::mutex mutex;  // held around each system call on fd
    int fd = -1;
};

SerialPort::SerialPort() : handle_(std::make_unique<Handle>()) {}

SerialPort::~SerialPort() {
    Close();
}

SerialPort::OpenResult SerialPort::OpenCom(int comNumber, uint32_t baud, int* error,
                                           std::string* path) {
    const std::string device = PortMap_DevicePath(comNumber);
    if (path != nullptr) *path = device;
    return Open(device.c_str(), baud, error);
}

SerialPort::OpenResult SerialPort::Open(const char* path, uint32_t baud, int* error) {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->fd >= 0) return OpenResult::kOk;
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return OpenResult::kOpenFailed;
    }
    // TIOCEXCL keeps other users out; as root only the lock does.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error != nullptr) *error = errno;
        ::close(fd);
        return OpenResult::kOpenFailed;
    }
    ::ioctl(fd, TIOCEXCL);
    ::tcflush(fd, TCIOFLUSH);
    errno = 0;
    if (!SetRaw(fd) || !SetLineSpeed(fd, baud)) {
        if (error != nullptr) *error = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return OpenResult::kSetupFailed;
    }
    handle_->fd = fd;
    return OpenResult::kOk;
}

void SerialPort::Close() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->fd < 0) return;
    DrainOutput(handle_->fd);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(handle_->fd, TIOCMBIC, &lines);  // fails harmlessly where there are no modem lines
    // Only the input is purged: on a pseudo-terminal an output purge would
    // throw away what the far end has not read yet.
    ::tcflush(handle_->fd, TCIFLUSH);
    ::ioctl(handle_->fd, TIOCNXCL);
    ::close(handle_->fd);
    handle_->fd = -1;
}

bool SerialPort::IsOpen() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    return handle_->fd >= 0;
}

void SerialPort::Purge() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->fd >= 0) ::tcflush(handle_->fd, TCIOFLUSH);
}

void SerialPort::PurgeInput() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->fd >= 0) ::tcflush(handle_->fd, TCIFLUSH);
}

int SerialPort::Read(uint8_t* buffer, int maximum) {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->fd < 0) return -1;
    int waiting = 0;
    if (::ioctl(handle_->fd, FIONREAD, &waiting) != 0) return -1;
    if (waiting <= 0) {
        // Nothing queued: a hung-up or vanished device shows only in poll().
        struct pollfd p {
            handle_->fd, POLLIN, 0
        };
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return -1;
        return 0;
    }
    int count = waiting < maximum ? waiting : maximum;
    if (count <= 0) return 0;
    ssize_t n = ::read(handle_->fd, buffer, static_cast<size_t>(count));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;  // 0 bytes with data announced, or EIO: the far end is gone
}

int SerialPort::Write(const uint8_t* buffer, int length, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int done = 0;
    while (done < length) {
        std::unique_lock<std::mutex> lock(handle_->mutex);
        if (handle_->fd < 0) return done > 0 ? done : -1;
        ssize_t n = ::write(handle_->fd, buffer + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return done > 0 ? done : -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        struct pollfd p {
            handle_->fd, POLLOUT, 0
        };
        int slice = left.count() < kWriteSliceMs ? static_cast<int>(left.count()) : kWriteSliceMs;
        if (::poll(&p, 1, slice) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return done > 0 ? done : -1;
        }
    }
    return done;
}

std::string SerialOpenErrorText(int error) {
    // The lock Open takes fails with EWOULDBLOCK while another program holds it.
    if (error == EWOULDBLOCK) return "in use by another program";
    return std::strerror(error);
}

}  // namespace platform
