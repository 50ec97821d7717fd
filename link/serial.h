// The serial channel device: one port per channel, opened on demand, read by
// a non-blocking pump into the deframer, written with a pause before every
// write. There is no reader thread: the channel's worker pumps the port itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/channel.h"
#include "platform/serial_port.h"

// An open port; null while closed. Shared so that a close from another thread
// never frees a port that the worker is still using.
using SerialHandle = std::shared_ptr<platform::SerialPort>;

inline constexpr int kSerialQueueSize = 4096;
inline constexpr int kWriteTimeoutMs = 5000;

// One channel's port: the run flag, the port and its settings, the read
// buffer of the pump, the frame being written and the last open's failure.
struct SerialChannel {
    std::atomic<int> channelActive{0};  // see channel.h
    std::atomic<SerialHandle> hSerialDevice;
    std::atomic<int> nComPort{0};  // 0: no port (the channel has ended)
    uint32_t dwBaudRate = 0;
    uint8_t readBuffer[kSerialQueueSize];
    // Held by the worker while it writes one frame.
    std::timed_mutex frameLock;
    // Set while a stop waits for the frame lock: the worker starts no new frame.
    std::atomic<bool> stopWaiting{false};
    // What the last open of the port failed with ("" after a good one).
    std::mutex openErrorMutex;
    std::string openError;
    // Set when a read found the handset gone (a hang-up, a pulled cable);
    // cleared when the channel starts again.
    std::atomic<bool> farEndGone{false};
};
extern SerialChannel g_serialChannels[kChannelCount];

inline constexpr ChannelField<g_serialChannels, &SerialChannel::hSerialDevice> g_hSerialDevice{};
inline constexpr ChannelField<g_serialChannels, &SerialChannel::nComPort> g_nComPort{};
inline constexpr ChannelField<g_serialChannels, &SerialChannel::dwBaudRate> g_dwBaudRate{};
inline constexpr ChannelField<g_serialChannels, &SerialChannel::readBuffer> g_readBuffer{};
// Held around every open and close of every channel's port.
extern std::mutex g_hPortMutex;
// Milliseconds to pause before every write to a port (the DELAY setting).
extern std::atomic<int> g_nWriteDelay;

// Device level.
SerialHandle SERIAL_DEVICE_Open(int channel, int comPort, uint32_t baudRate);
void SERIAL_DEVICE_Close(int channel, const SerialHandle& handle);
int32_t SERIAL_DEVICE_Read(int channel, const SerialHandle& handle, uint8_t* buffer, int offset,
                           int maximum);
int32_t SERIAL_DEVICE_Write(int channel, const SerialHandle& handle, const uint8_t* buffer,
                            int offset, int length);

// Channel level.
int SERIAL_PORT_Start(int channel, int comPort, uint32_t baudRate);
void SERIAL_PORT_Stop(int channel);
int SERIAL_PORT_Open(int channel);
int SERIAL_PORT_Close(int channel);
int32_t SERIAL_PORT_Read(int channel, uint8_t* buffer, int offset, int maximum);
int32_t SERIAL_PORT_Write(int channel, const uint8_t* buffer, int offset, int length);
// One turn of the read pump: whatever waits goes to the deframer. Returns the
// bytes read (0 when none waited, -1 when the port was found gone).
int32_t SERIAL_PORT_DoReading(int channel);
// True once a read of the channel's current run found the port gone: the
// handset left, whatever its device is called now.
bool SERIAL_PORT_FarEndGone(int channel);
// Drops whatever the handset sent that was not read yet.
void SERIAL_PORT_PurgeInput(int channel);

// Frames leave whole: the worker brackets every frame it writes with these,
// and a stop waits for the frame being written before it closes the port, so
// a handset is never left holding half a frame. BeginFrame is false (and the
// frame must not be written) while a stop is waiting.
bool SERIAL_PORT_BeginFrame(int channel);
void SERIAL_PORT_EndFrame(int channel);
// How long a stop waits for the frame being written: the largest frame at the
// rate plus the close drain, never more than one write's time-out.
int SERIAL_PORT_FrameWaitMs(uint32_t baudRate);

// Why the last open of the channel's port failed: "COM5: /dev/ttyUSB4:
// Permission denied"; empty after an open that worked.
std::string SERIAL_PORT_LastOpenError(int channel);
