#include "sim/host_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

bool HostWatch::Open(const std::string& path, std::string* error) {
    Close();
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0 || ::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE | IN_ACCESS) < 0) {
        *error = "inotify " + path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

void HostWatch::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    opens_ = 0;
}

bool HostWatch::Take() {
    alignas(struct inotify_event) char buffer[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = fd_ < 0 ? -1 : ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) return closed && opens_ == 0;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            if ((event->mask & IN_OPEN) != 0) opens_ += 1;
            if ((event->mask & IN_CLOSE) != 0 && opens_ > 0) {
                opens_ -= 1;
                closed = closed || opens_ == 0;
            }
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
        }
    }
}

}  // namespace sim
