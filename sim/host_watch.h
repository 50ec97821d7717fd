// Who else opens, reads and closes a handset's device: the simulator holds
// its own descriptor from before the watch, so every open and close seen is
// the host's. Reads only wake the handset; it then looks at the line itself.
#pragma once

#include <string>

namespace sim {

class HostWatch {
public:
    HostWatch() = default;
    ~HostWatch() { Close(); }
    HostWatch(const HostWatch&) = delete;
    HostWatch& operator=(const HostWatch&) = delete;

    bool Open(const std::string& path, std::string* error);
    void Close();
    // Readable when something happened; -1 when closed.
    int Fd() const { return fd_; }
    // Takes the events that arrived; true when the host's last descriptor
    // closed among them and none is open now.
    bool Take();
    // Descriptors the host holds open on the device now.
    int HostOpens() const { return opens_; }

private:
    int fd_ = -1;
    int opens_ = 0;
};

}  // namespace sim
