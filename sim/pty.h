// A pseudo-terminal standing in for a handset's serial cable: the simulator
// owns the master side; the host opens the slave path like a serial device.
// The simulator keeps one slave descriptor open (raw) for the whole lifetime,
// so the master never sees a hang-up while the host has the port closed.
#pragma once

#include <string>

namespace sim {

class Pty {
public:
    Pty() = default;
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Open(std::string* error);
    // Closes both sides: a host holding the slave sees a hang-up.
    void Close();
    int Master() const { return master_; }
    // True while bytes written to the master wait unread on the slave side
    // (the host has not taken them yet).
    bool SlaveHasInput() const;
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace sim
