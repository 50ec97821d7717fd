#include "link/serial.h"

#include <chrono>

#include "link/frame.h"
#include "link/notify.h"
#include "platform/tick.h"
#include "platform/trace.h"

SerialChannel g_serialChannels[kChannelCount];
std::mutex g_hPortMutex;
std::atomic<int> g_nWriteDelay{2};

std::atomic<int>& SERIAL_ChannelActive(int channel) {
    return g_serialChannels[channel].channelActive;
}

namespace {

void NoteOpenError(int channel, std::string text) {
    if (!IsChannel(channel)) return;
    SerialChannel& port = g_serialChannels[channel];
    std::lock_guard<std::mutex> lock(port.openErrorMutex);
    port.openError = std::move(text);
}

constexpr int kCloseDrainMs = 500;

}  // namespace

SerialHandle SERIAL_DEVICE_Open(int channel, int comPort, uint32_t baudRate) {
    auto port = std::make_shared<platform::SerialPort>();
    std::string path;
    int error = 0;
    const std::string where = "COM" + std::to_string(comPort) + ": ";
    switch (port->OpenCom(comPort, baudRate, &error, &path)) {
        case platform::SerialPort::OpenResult::kOpenFailed:
            TRACE("[Ch %d] CreateFile(%s) False = %d\n", channel, path.c_str(), error);
            NoteOpenError(channel, where + path + ": " + platform::SerialOpenErrorText(error));
            return nullptr;
        case platform::SerialPort::OpenResult::kSetupFailed:
            TRACE("[Ch %d] SetCommState False\n", channel);
            NoteOpenError(channel,
                          where + path + ": the line cannot be set up" +
                              (error != 0 ? " (" + platform::SerialOpenErrorText(error) + ")"
                                          : std::string()));
            return nullptr;
        case platform::SerialPort::OpenResult::kOk:
            break;
    }
    NoteOpenError(channel, "");
    TRACE("SERIAL_DEVICE_Open() COM%d, BaudRate:%d\n", comPort, static_cast<int>(baudRate));
    return port;
}

void SERIAL_DEVICE_Close(int /*channel*/, const SerialHandle& handle) {
    if (handle) handle->Close();
    TRACE("SERIAL_DEVICE_Close()\n");
}

int32_t SERIAL_DEVICE_Read(int /*channel*/, const SerialHandle& handle, uint8_t* buffer, int offset,
                           int maximum) {
    if (!handle) return 0;  // no port: nothing to deliver, nothing to close
    int32_t n = handle->Read(buffer + offset, maximum);
    if (n > 0) TRACE("dwLength = %d\n", n);
    return n;
}

int32_t SERIAL_DEVICE_Write(int /*channel*/, const SerialHandle& handle, const uint8_t* buffer,
                            int offset, int length) {
    if (!handle) return -1;
    int32_t n = handle->Write(buffer + offset, length, kWriteTimeoutMs);
    if (n > 0) TRACE("SERIAL_DEVICE_Write() : dwBytesWritten = %d\n", n);
    return n;
}

int SERIAL_PORT_Start(int channel, int comPort, uint32_t baudRate) {
    if (g_hSerialDevice[channel].load()) return 0;
    g_nComPort[channel] = comPort;
    g_dwBaudRate[channel] = baudRate;
    g_serialChannels[channel].farEndGone = false;
    TRACE(">> SERIAL_PORT_Start()\n");
    return 1;
}

int SERIAL_PORT_FrameWaitMs(uint32_t baudRate) {
    if (baudRate == 0) return kWriteTimeoutMs;
    const uint64_t ms = kLargestFrameBytes * 10ull * 1000 / baudRate + kCloseDrainMs;
    return ms < kWriteTimeoutMs ? static_cast<int>(ms) : kWriteTimeoutMs;
}

bool SERIAL_PORT_BeginFrame(int channel) {
    SerialChannel& port = g_serialChannels[channel];
    if (port.stopWaiting.load()) return false;
    port.frameLock.lock();
    return true;
}

void SERIAL_PORT_EndFrame(int channel) {
    g_serialChannels[channel].frameLock.unlock();
}

void SERIAL_PORT_Stop(int channel) {
    SerialChannel& port = g_serialChannels[channel];
    {
        // The frame being written finishes first (bounded): cut short, it
        // would be joined onto the next session's first packet.
        port.stopWaiting = true;
        std::unique_lock<std::timed_mutex> frame(port.frameLock, std::defer_lock);
        if (!frame.try_lock_for(
                std::chrono::milliseconds(SERIAL_PORT_FrameWaitMs(g_dwBaudRate[channel])))) {
            TRACE("[Ch %d] SERIAL_PORT_Stop() frame not finished in time\n", channel);
        }
        std::lock_guard<std::mutex> lock(g_hPortMutex);
        SerialHandle handle = g_hSerialDevice[channel].load();
        if (handle) {
            SERIAL_DEVICE_Close(channel, handle);
            g_hSerialDevice[channel].store(nullptr);
        }
        port.stopWaiting = false;
    }
    TRACE(">> SERIAL_PORT_Stop()\n");
}

int SERIAL_PORT_Open(int channel) {
    if (g_dwBaudRate[channel] == 0) return 0;
    SerialHandle handle;
    {
        std::lock_guard<std::mutex> lock(g_hPortMutex);
        handle = g_hSerialDevice[channel].load();
        if (!handle) {
            handle = SERIAL_DEVICE_Open(channel, g_nComPort[channel], g_dwBaudRate[channel]);
            g_hSerialDevice[channel].store(handle);
        }
    }
    if (handle) return 1;
    VARKO_SendText("SERIAL_DEVICE_Open(COM%d) Failed!", g_nComPort[channel].load());
    TRACE("[Ch %d] g_hSerialDevice == NULL\n", channel);
    return 0;
}

int SERIAL_PORT_Close(int channel) {
    std::lock_guard<std::mutex> lock(g_hPortMutex);
    SerialHandle handle = g_hSerialDevice[channel].load();
    if (!handle) return 0;
    SERIAL_DEVICE_Close(channel, handle);
    g_hSerialDevice[channel].store(nullptr);
    return 1;
}

int32_t SERIAL_PORT_Read(int channel, uint8_t* buffer, int offset, int maximum) {
    return SERIAL_DEVICE_Read(channel, g_hSerialDevice[channel].load(), buffer, offset, maximum);
}

int32_t SERIAL_PORT_Write(int channel, const uint8_t* buffer, int offset, int length) {
    int delay = g_nWriteDelay.load();
    if (delay > 0) platform::Sleep(static_cast<uint32_t>(delay));
    return SERIAL_DEVICE_Write(channel, g_hSerialDevice[channel].load(), buffer, offset, length);
}

void SERIAL_PORT_PurgeInput(int channel) {
    SerialHandle handle = g_hSerialDevice[channel].load();
    if (handle) handle->PurgeInput();
}

int32_t SERIAL_PORT_DoReading(int channel) {
    int32_t readSize = SERIAL_PORT_Read(channel, g_readBuffer[channel], 0, kSerialQueueSize);
    if (readSize > 0) {
        FRAME_Parse(channel, g_readBuffer[channel], 0, readSize);
    } else if (readSize < 0) {
        TRACE("[Ch %d] SERIAL_PORT_DoReading read_size < 0\n", channel);
        g_serialChannels[channel].farEndGone = true;
        SERIAL_PORT_Close(channel);
    }
    return readSize;
}

bool SERIAL_PORT_FarEndGone(int channel) {
    return IsChannel(channel) && g_serialChannels[channel].farEndGone.load();
}

std::string SERIAL_PORT_LastOpenError(int channel) {
    if (!IsChannel(channel)) return "";
    SerialChannel& port = g_serialChannels[channel];
    std::lock_guard<std::mutex> lock(port.openErrorMutex);
    return port.openError;
}
