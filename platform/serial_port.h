// One serial device, opened exclusively in raw 8N1 at any baud rate.
// Reads never block; a write returns when done or after its time-out with the
// count written. Close may come from another thread while the owner reads or
// writes: the I/O then fails cleanly, and the descriptor is never reused
// behind the owner's back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SerialPort {
public:
    enum class OpenResult { kOk, kOpenFailed, kSetupFailed };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device at path exclusively and sets raw 8N1 at baud. On
    // kOpenFailed *error holds the system's error number; kSetupFailed means
    // the device refused the line setup (*error then holds the system's
    // error number where it gives one, else 0).
    OpenResult Open(const char* path, uint32_t baud, int* error);
    // The same for the port with COM number comNumber; *path (when given)
    // gets the device it names.
    OpenResult OpenCom(int comNumber, uint32_t baud, int* error, std::string* path = nullptr);
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
    struct Handle;  // the system's side, one per operating system
    std::unique_ptr<Handle> handle_;
};

// The system's text for an error number Open gave ("Permission denied"); a
// port another program holds reads "in use by another program".
std::string SerialOpenErrorText(int error);

}  // namespace platform
