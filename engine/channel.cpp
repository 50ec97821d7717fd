// The channel download sequence: everything one handset goes through, run on
// the channel's worker thread.
#include <cstring>

#include "engine/observer.h"
#include "engine/session.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/notify.h"
#include "link/serial.h"
#include "platform/notify.h"
#include "platform/tick.h"
#include "platform/trace.h"

int g_bEmergencyMode = 1;
std::atomic<uint32_t> g_restartPauseMs{20000};

namespace {

void WriteText(int channel, const char* text) {
    SERIAL_PORT_Write(channel, reinterpret_cast<const uint8_t*>(text), 0,
                      static_cast<int>(std::strlen(text)));
}

// Sleeps up to ms, ending early once the channel is stopped.
void PauseWhileActive(int channel, uint32_t ms) {
    const uint32_t start = platform::GetTickCount();
    while (channelActive[channel].load() != 0 && platform::GetTickCount() - start < ms) {
        platform::Sleep(50);
    }
}

// Wakes the handset with the AT commands, closes the port for the handset's
// restart and opens it again afterwards.
bool Restart(int channel) {
    VARKO_SendChannelText(channel, "Restart");
    WriteText(channel, "AT\r\n");
    platform::Sleep(100);
    WriteText(channel, "AT#UMSTART\r\n");
    SERIAL_PORT_Close(channel);
    PauseWhileActive(channel, g_restartPauseMs.load());
    return channelActive[channel].load() != 0 && SERIAL_PORT_Open(channel) == 1;
}

// The wake-up text, and a lone flag in the same write: a handset whose
// receiver still holds part of a frame (the last session ended in the middle
// of one, or its cable was pulled) would join the unlock onto it and answer
// with a NAK. The flag ends such a frame; a receiver between frames takes it
// as the opening flag of the unlock. The unlock then waits for the handset
// to be in step.
void WriteStartText(int channel) {
    static constexpr char kText[] = "AT#UMSTART\r\n\x7E";
    static_assert(kText[sizeof kText - 2] == static_cast<char>(kFrameFlag));
    SERIAL_PORT_Write(channel, reinterpret_cast<const uint8_t*>(kText), 0,
                      static_cast<int>(sizeof kText - 1));
}

int DownloadSlots(int channel) {
    for (int slot = 0; slot < kImageSlotCount; ++slot) {
        if (g_imageTable[channel][slot].path[0] == '\0') continue;
        const int ok = VARKO_DownloadImage(channel, slot);
        engine::ObserveImage(channel, slot, ok);
        if (!ok) return 0;
    }
    return 1;
}

int Finish(int channel, int result) {
    SERIAL_PORT_Close(channel);
    engine::ObserveChannelEnd(channel, result);
    VARKO_ChannelEnded(channel);
    return result;
}

}  // namespace

int FileDownload(int channel) {
    const uint32_t start = platform::GetTickCount();
    engine::ObserveChannelStart(channel);
    VARKO_SendChannelText(channel, "CH%d Download Start", channel);
    if (!SERIAL_PORT_Open(channel) || (g_bEmergencyMode == 0 && !Restart(channel))) {
        VARKO_SendChannelText(channel, "ERR: Open");
        return Finish(channel, 0);
    }
    WriteStartText(channel);
    // A channel stopped meanwhile counts as not unlocked even when the reply
    // slipped in before the wait looked at the stop.
    if (!FLASH_DOWNLOADER_UnlockInStep(channel) || channelActive[channel].load() == 0) {
        VARKO_SendChannelText(channel, "ERR: Unlock");
        // A stopped channel's unlock goes unanswered without any fault of the
        // handset's: no box to hold the window's close or the next session.
        // Nor for a station slot, whose failed result tells the operator.
        if (channelActive[channel].load() != 0 && !engine::CurrentChannelRun(channel).station) {
            platform::ShowMessage("Please reboot Target\n           And\n   Connect Target");
        }
        return Finish(channel, 0);
    }
    const int result = DownloadSlots(channel);
    if (!FLASH_DOWNLOADER_Close(channel)) TRACE("FileDownload() => FLASH_DOWNLOADER_Close FALSE\n");
    if (!FLASH_DOWNLOADER_Go(channel)) TRACE("FileDownload() => FLASH_DOWNLOADER_Go FALSE\n");
    if (result == 1) {
        VARKO_SendChannelText(channel, "CH%d All file Complete! [%d sec]", channel,
                              static_cast<int>((platform::GetTickCount() - start) / 1000));
        // A station slot has no box: its result tells the operator.
        if (!engine::CurrentChannelRun(channel).station)
            platform::ShowMessage("Download Completed!!");
    }
    return Finish(channel, result);
}
