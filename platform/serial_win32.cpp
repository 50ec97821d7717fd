// The serial port on Windows: a COM device opened for overlapped I/O. The
// time-outs make a read return at once with what is queued, so reads never
// block; the 5 s bound of a write is kept here, not by the driver.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/serial_port.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

// How long a close waits for written bytes to leave the output queue: the
// last command of a session (go) must reach the handset, not be purged.
constexpr DWORD kCloseDrainMs = 500;
// The longest a write waits at a time before it looks whether a close asked
// for the port, so a close from another thread waits at most this long.
constexpr DWORD kWriteSliceMs = 10;
// A read asks only for bytes already queued, so it completes at once; this
// only bounds a driver that does not.
constexpr DWORD kReadBoundMs = 1000;
constexpr DWORD kQueueSize = 64 * 1024;

// 8N1 at baud, no flow control of any kind, DTR and RTS raised. Every field
// is set here, so a line whose present state cannot be read (Wine cannot
// read back a speed another program set outside its table) is set up all
// the same.
bool SetLine(HANDLE file, uint32_t baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(file, &dcb)) {
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
        dcb.XonLim = 2048;
        dcb.XoffLim = 512;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    return ::SetCommState(file, &dcb) != FALSE;
}

// A read returns at once with whatever is queued (nothing included); writes
// have no driver time-out.
bool SetTimeouts(HANDLE file) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return ::SetCommTimeouts(file, &timeouts) != FALSE;
}

// Waits for an overlapped operation for at most limitMs; on the bound it is
// cancelled. Returns the bytes it moved; false when it failed.
bool Finish(HANDLE file, OVERLAPPED* op, DWORD limitMs, DWORD* moved) {
    if (::WaitForSingleObject(op->hEvent, limitMs) != WAIT_OBJECT_0) ::CancelIoEx(file, op);
    if (::GetOverlappedResult(file, op, moved, TRUE)) return true;
    return ::GetLastError() == ERROR_OPERATION_ABORTED;
}

// Kelvane's own claim on a port, a named mutex ("Local\Kelvane-COM5" for
// \\.\COM5) whose handle is kept while the port is open. Share mode 0 keeps
// other programs out where the system honours it; Wine lets a second program
// open a COM port all the same, and the claim still keeps a second Kelvane
// program off the port. Only the mutex's existence counts: it is never
// waited for, so a close on another thread than the open's needs nothing.
std::string ClaimName(const char* path) {
    std::string name = path;
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    for (char& c : name) {
        if (c == '\\') c = '/';
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return "Local\\Kelvane-" + name;
}

// The claim's handle, or null with *error set (ERROR_SHARING_VIOLATION when
// another holds it).
HANDLE Claim(const char* path, DWORD* error) {
    HANDLE claim = ::CreateMutexW(nullptr, FALSE, WideFromText(ClaimName(path)).c_str());
    *error = ::GetLastError();
    if (claim != nullptr && *error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        *error = ERROR_SHARING_VIOLATION;
        return nullptr;
    }
    return claim;
}

}  // namespace

struct SerialPort::Handle {
    std::mutex mutex;  // held around each operation on file
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;  // Kelvane's claim on the port while file is open
    HANDLE readEvent = nullptr;
    HANDLE writeEvent = nullptr;
    std::atomic<bool> closing{false};  // a close waits for the mutex

    Handle()
        : readEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          writeEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Handle() {
        if (readEvent != nullptr) ::CloseHandle(readEvent);
        if (writeEvent != nullptr) ::CloseHandle(writeEvent);
    }
    // Bytes waiting in the input queue; false when the device is gone.
    bool Queued(DWORD* input, DWORD* output) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(file, &errors, &status)) return false;
        if (input != nullptr) *input = status.cbInQue;
        if (output != nullptr) *output = status.cbOutQue;
        return true;
    }
};

SerialPort::SerialPort() : handle_(std::make_unique<Handle>()) {}

SerialPort::~SerialPort() {
    Close();
}

SerialPort::OpenResult SerialPort::OpenCom(int comNumber, uint32_t baud, int* error,
                                           std::string* path) {
    const std::string device = "\\\\.\\COM" + std::to_string(comNumber);
    if (path != nullptr) *path = device;
    if (comNumber < 1) {
        if (error != nullptr) *error = ERROR_FILE_NOT_FOUND;
        return OpenResult::kOpenFailed;
    }
    return Open(device.c_str(), baud, error);
}

SerialPort::OpenResult SerialPort::Open(const char* path, uint32_t baud, int* error) {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->file != INVALID_HANDLE_VALUE) return OpenResult::kOk;
    if (handle_->readEvent == nullptr || handle_->writeEvent == nullptr) {
        if (error != nullptr) *error = ERROR_NOT_ENOUGH_MEMORY;
        return OpenResult::kOpenFailed;
    }
    DWORD claimError = 0;
    HANDLE claim = Claim(path, &claimError);
    if (claim == nullptr) {
        if (error != nullptr) *error = static_cast<int>(claimError);
        return OpenResult::kOpenFailed;
    }
    // Share mode 0: nobody else may open the port while we hold it.
    HANDLE file = ::CreateFileW(WideFromText(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = static_cast<int>(::GetLastError());
        ::CloseHandle(claim);
        return OpenResult::kOpenFailed;
    }
    ::SetupComm(file, kQueueSize, kQueueSize);
    // The baud rate is not read back: some drivers report another rate than
    // the one they run at.
    if (!SetLine(file, baud) || !SetTimeouts(file)) {
        if (error != nullptr) *error = static_cast<int>(::GetLastError());
        ::CloseHandle(file);
        ::CloseHandle(claim);
        return OpenResult::kSetupFailed;
    }
    ::PurgeComm(file, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    handle_->file = file;
    handle_->claim = claim;
    return OpenResult::kOk;
}

void SerialPort::Close() {
    handle_->closing = true;
    std::lock_guard<std::mutex> lock(handle_->mutex);
    handle_->closing = false;
    if (handle_->file == INVALID_HANDLE_VALUE) return;
    DWORD output = 0;
    for (DWORD waited = 0; waited < kCloseDrainMs; waited += 2) {
        if (!handle_->Queued(nullptr, &output) || output == 0) break;
        ::Sleep(2);
    }
    ::EscapeCommFunction(handle_->file, CLRDTR);
    ::EscapeCommFunction(handle_->file, CLRRTS);
    // Only the input is purged: output still queued is what the handset
    // has not taken yet.
    ::PurgeComm(handle_->file, PURGE_RXABORT | PURGE_RXCLEAR);
    ::CloseHandle(handle_->file);
    handle_->file = INVALID_HANDLE_VALUE;
    ::CloseHandle(handle_->claim);
    handle_->claim = nullptr;
}

bool SerialPort::IsOpen() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    return handle_->file != INVALID_HANDLE_VALUE;
}

void SerialPort::Purge() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->file == INVALID_HANDLE_VALUE) return;
    ::PurgeComm(handle_->file, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
}

void SerialPort::PurgeInput() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->file == INVALID_HANDLE_VALUE) return;
    ::PurgeComm(handle_->file, PURGE_RXCLEAR | PURGE_RXABORT);
}

int SerialPort::Read(uint8_t* buffer, int maximum) {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->file == INVALID_HANDLE_VALUE) return -1;
    DWORD waiting = 0;
    // A port whose queue cannot be asked for is gone (unplugged, hung up).
    if (!handle_->Queued(&waiting, nullptr)) return -1;
    if (waiting == 0 || maximum <= 0) return 0;
    const DWORD count = waiting < static_cast<DWORD>(maximum) ? waiting : maximum;
    OVERLAPPED op{};
    op.hEvent = handle_->readEvent;
    ::ResetEvent(op.hEvent);
    DWORD got = 0;
    if (!::ReadFile(handle_->file, buffer, count, &got, &op)) {
        if (::GetLastError() != ERROR_IO_PENDING) return -1;
        if (!Finish(handle_->file, &op, kReadBoundMs, &got)) return -1;
    }
    return static_cast<int>(got);
}

int SerialPort::Write(const uint8_t* buffer, int length, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::lock_guard<std::mutex> lock(handle_->mutex);
    if (handle_->file == INVALID_HANDLE_VALUE) return -1;
    if (length <= 0) return 0;
    OVERLAPPED op{};
    op.hEvent = handle_->writeEvent;
    ::ResetEvent(op.hEvent);
    DWORD written = 0;
    if (::WriteFile(handle_->file, buffer, static_cast<DWORD>(length), &written, &op)) {
        return static_cast<int>(written);
    }
    if (::GetLastError() != ERROR_IO_PENDING) return -1;
    // Waits in slices, so a close from another thread ends the wait early.
    for (;;) {
        if (::WaitForSingleObject(op.hEvent, kWriteSliceMs) == WAIT_OBJECT_0) break;
        const auto left = deadline - Clock::now();
        if (handle_->closing || left <= Clock::duration::zero()) {
            ::CancelIoEx(handle_->file, &op);
            break;
        }
    }
    if (!::GetOverlappedResult(handle_->file, &op, &written, TRUE) &&
        ::GetLastError() != ERROR_OPERATION_ABORTED) {
        return written > 0 ? static_cast<int>(written) : -1;
    }
    return static_cast<int>(written);
}

std::string SerialOpenErrorText(int error) {
    if (error == ERROR_SHARING_VIOLATION) return "in use by another program";
    wchar_t text[512] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, text, 512, nullptr);
    std::string message = TextFromWide(std::wstring_view(text, length));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(error) : message;
}

}  // namespace platform
