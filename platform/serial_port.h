// One serial device, opened exclusively in raw 8N1 at any baud rate.
// Reads never block; a write returns when done or after its time-out with the
// count written. Close may come from another thread while the owner reads or
// writes: the I/O then fails cleanly, and the descriptor is never reused
// behind the owner's back.
#pragma once

#include <cstdint>
#include <mutex>

namespace platform {

class SerialPort {
public:
    enum class OpenResult { kOk, kOpenFailed, kSetupFailed };

    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens path exclusively and sets raw 8N1 at baud. On kOpenFailed *error
    // holds the errno; kSetupFailed means the device refused the line setup.
    OpenResult Open(const char* path, uint32_t baud, int* error);
    // Lets what was written leave the output queue (bounded), clears DTR
    // and RTS (where the device has them), drops unread input, closes.
    void Close();
    bool IsOpen();
    // Drops whatever waits in the input and output queues.
    void Purge();
    // Drops whatever waits in the input queue only.
    void PurgeInput();

    // Bytes read (> 0), 0 when none were waiting, -1 when the device hung up,
    // vanished or is closed.
    int Read(uint8_t* buffer, int maximum);
    // Bytes written; -1 when nothing could be written because of an error.
    int Write(const uint8_t* buffer, int length, int timeoutMs);

private:
    std::mutex mutex_;  // held around each system call on fd_
    int fd_ = -1;
};

// Sets any baud rate, standard or not; false when the device refuses it.
bool SetLineSpeed(int fd, uint32_t baud);

}  // namespace platform
