// A download session: the image table, one worker thread per channel with a
// port, and the runner that keeps the front end alive until all have ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/image.h"
#include "engine/observer.h"
#include "link/notify.h"

// 8 channels by 12 image slots; every channel gets the same images.
extern ImageEntry g_imageTable[kChannelCount][kImageSlotCount];

// 0 selects the restart step of the channel sequence; any other value skips it.
extern int g_bEmergencyMode;
// How long the restart step leaves a handset to restart (20 s; tests shorten it).
extern std::atomic<uint32_t> g_restartPauseMs;

// Dispatches the front end's pending messages, waiting up to maxWaitMs for
// them. The runner calls it while workers run; the window installs one that
// processes its events, a console one that sleeps (and may stop channels).
using PumpHook = void (*)(int maxWaitMs);
void VARKO_SetPumpHook(PumpHook hook);
// Calls the installed hook once: a front end waiting for something of its own
// (a station's slots ending) keeps its window alive the same way.
void VARKO_Pump(int maxWaitMs);
// Waits up to maxWaitMs, ending as soon as no channel holds a port any more
// (every worker of the session has ended). A pump without messages of its
// own waits here, so the runner returns the moment the last channel ends.
void VARKO_WaitForChannelsEnded(int maxWaitMs);
// A worker tells the runner that its channel gave back its port.
void VARKO_ChannelEnded(int channel);

void VARKO_ClearImages();
// Fills slot on every channel; the slot, or -1 when the slot is not 0..11,
// the address text is not hexadecimal, the path does not fit, or
// VARKO_CheckImage refuses the file (nothing changes then).
int VARKO_SetImage(int slot, const char* path, const char* addressText);
// Sets up a session on the channels with a port: writeDelayMs is the pause
// before each write to a handset (the settings' DELAY).
int VARKO_StartSession(platform::NotifyReceiver* window, unsigned messageId,
                       const int comPorts[kChannelCount], int baudRate, int writeDelayMs);
// Sets up one channel as the session start does, the others untouched: its
// codec, packet window and port settings reset, active when it has a port
// (comPort 0: none). Its earlier worker must have ended; a worker running
// FileDownload(channel) may then run it again while the other channels go on
// (its last outcome is forgotten when that run starts).
int VARKO_StartChannel(int channel, int comPort, int baudRate);
int VARKO_RunSession(int emergencyMode);
int VARKO_StopSession();
int VARKO_StopChannel(int channel);

namespace engine {

// How a channel ended in the last VARKO_RunSession.
struct ChannelOutcome {
    bool ended = false;  // its worker ran to the end (false: no port, or no worker)
    ChannelResult result = ChannelResult::kFailed;
    std::string lastText;  // its last channel text ("" when it sent none)
};

// Read after VARKO_RunSession has returned; every channel reads as not
// ended from the start of the next run.
ChannelOutcome LastChannelOutcome(int channel);

}  // namespace engine

// The body of a channel's worker thread: 1 when the handset was unlocked and
// every filled slot downloaded.
int FileDownload(int channel);

// Parses a flash address text: hexadecimal, upper or lower case, optional
// "0x", at most 32 bits, blanks around allowed. False for anything else.
bool VARKO_ParseAddress(const char* text, uint32_t* address);
