#include "engine/session.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/observer.h"
#include "link/frame.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/tick.h"

ImageEntry g_imageTable[kChannelCount][kImageSlotCount];

namespace {

constexpr int kPumpWaitMs = 50;

std::atomic<PumpHook> g_pumpHook{&VARKO_WaitForChannelsEnded};
std::mutex g_endMutex;
std::condition_variable g_channelEnded;

int SumOfComPorts() {
    int sum = 0;
    for (int ch = 0; ch < kChannelCount; ++ch)
        sum += g_nComPort[ch].load() != 0 ? 1 : 0;
    return sum;
}

}  // namespace

void VARKO_WaitForChannelsEnded(int maxWaitMs) {
    if (maxWaitMs <= 0) return;
    std::unique_lock<std::mutex> lock(g_endMutex);
    g_channelEnded.wait_for(lock, std::chrono::milliseconds(maxWaitMs),
                            [] { return SumOfComPorts() == 0; });
}

void VARKO_ChannelEnded(int channel) {
    std::lock_guard<std::mutex> lock(g_endMutex);
    g_nComPort[channel] = 0;
    g_channelEnded.notify_all();
}

void VARKO_SetPumpHook(PumpHook hook) {
    g_pumpHook.store(hook != nullptr ? hook : &VARKO_WaitForChannelsEnded);
}

void VARKO_Pump(int maxWaitMs) {
    g_pumpHook.load()(maxWaitMs);
}

bool VARKO_ParseAddress(const char* text, uint32_t* address) {
    if (text == nullptr) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(p[2]))) {
        p += 2;
    }
    uint64_t value = 0;
    int digits = 0;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p, ++digits) {
        const int c = std::tolower(static_cast<unsigned char>(*p));
        value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        if (value > 0xFFFFFFFFull) return false;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (digits == 0 || *p != '\0') return false;
    *address = static_cast<uint32_t>(value);
    return true;
}

void VARKO_ClearImages() {
    for (auto& row : g_imageTable) {
        for (ImageEntry& e : row) {
            e.kind = -1;
            e.path[0] = '\0';
            e.address = 0xFFFFFFFF;
        }
    }
}

int VARKO_SetImage(int slot, const char* path, const char* addressText) {
    if (slot < 0 || slot >= kImageSlotCount || path == nullptr) return -1;
    uint32_t address = 0;
    if (!VARKO_ParseAddress(addressText, &address)) return -1;
    const size_t length = std::strlen(path);
    if (length >= sizeof(ImageEntry::path)) return -1;
    if (VARKO_CheckImage(slot, path, address) != ImageCheck::kOk) return -1;
    for (auto& row : g_imageTable) {
        ImageEntry& e = row[slot];
        e.kind = slot;
        e.address = address;
        std::memcpy(e.path, path, length + 1);
    }
    return slot;
}

int VARKO_StartChannel(int channel, int comPort, int baudRate) {
    if (!IsChannel(channel)) return 0;
    channelActive[channel] = comPort != 0 ? 1 : 0;
    g_hSerialDevice[channel].store(nullptr);
    FRAME_Reset(channel);
    FLASH_DOWNLOADER_SelectFirstBuffer(channel);
    FLASH_DOWNLOADER_InitLink(channel);
    SERIAL_PORT_Start(channel, comPort, static_cast<uint32_t>(baudRate));
    return 1;
}

int VARKO_StartSession(platform::NotifyReceiver* window, unsigned messageId,
                       const int comPorts[kChannelCount], int baudRate, int writeDelayMs) {
    g_nWriteDelay = writeDelayMs;
    g_hNotifyWnd = window;
    g_uNotifyMsg = messageId;
    FLASH_DOWNLOADER_InitCodes();
    for (int ch = 0; ch < kChannelCount; ++ch)
        VARKO_StartChannel(ch, comPorts[ch], baudRate);
    return 1;
}

int VARKO_RunSession(int emergencyMode) {
    g_bEmergencyMode = emergencyMode;
    VARKO_LoadImages();
    engine::ResetChannelRuns();
    engine::ObserveSessionStart();
    std::vector<std::thread> workers;
    workers.reserve(kChannelCount);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (g_nComPort[ch].load() == 0) continue;
        try {
            workers.emplace_back([ch] { FileDownload(ch); });
        } catch (const std::system_error&) {
            // Without its worker the channel could never finish.
            g_nComPort[ch] = 0;
            VARKO_SendChannelText(ch, "ERR: Open");
        }
    }
    const PumpHook pump = g_pumpHook.load();
    for (;;) {
        pump(0);
        if (SumOfComPorts() == 0) break;
        pump(kPumpWaitMs);
    }
    for (std::thread& worker : workers)
        worker.join();
    engine::ObserveSessionEnd();
    VARKO_ReleaseImages();
    return 1;
}

int VARKO_StopSession() {
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (channelActive[ch].load() != 1) continue;
        channelActive[ch] = 0;
        SERIAL_PORT_Stop(ch);
        g_nComPort[ch] = 0;
    }
    g_hNotifyWnd = nullptr;
    g_uNotifyMsg = 0;
    return 1;
}

int VARKO_StopChannel(int channel) {
    if (!IsChannel(channel)) return 1;
    channelActive[channel] = 0;
    SERIAL_PORT_Stop(channel);
    return 1;
}
