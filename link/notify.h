// The engine's notifications to the window: one message id with three codes,
// sent synchronously to whoever set up the session.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/compiler.h"
#include "platform/notify.h"

// One image on one channel; also the layout of a channel-text payload.
struct ImageEntry {
    int32_t kind;        // image slot 0..11; -1 marks an empty entry; 0 in a channel text
    int32_t channel;     // 0..7
    char path[1024];     // image path, or the channel text
    uint32_t address;    // flash address (0xFFFFFFFF in an empty entry)
    uint32_t size;       // payload size in bytes
    uint32_t bytesSent;  // bytes of the file read and sent so far
};
static_assert(sizeof(ImageEntry) == 1044, "ImageEntry is a 1044-byte record");

enum NotifyCode : int {
    NOTIFY_PROGRESS = 1,      // payload: the live ImageEntry being downloaded
    NOTIFY_STATUS = 2,        // payload: a NUL-terminated text for the status line
    NOTIFY_CHANNEL_TEXT = 3,  // payload: an ImageEntry-shaped record carrying a channel text
};

// WM_USER + 100, the id the window registers for notifications.
inline constexpr unsigned NotifyMessage = 0x400 + 100;

// The receiver and message id of the running session; null and 0 when none.
extern std::atomic<platform::NotifyReceiver*> g_hNotifyWnd;
extern std::atomic<unsigned> g_uNotifyMsg;

// Sends a notification; returns the handler's result, or 0 when no session
// is set up (nothing is sent then).
intptr_t VARKO_SendMessage(int code, const void* payload);

// Status-line text, formatted into a 4096-byte buffer.
void VARKO_SendText(const char* format, ...) KELVANE_PRINTF_FORMAT(1, 2);

// Channel text, formatted into the path field of a zeroed record.
void VARKO_SendChannelText(int channel, const char* format, ...)
    KELVANE_PRINTF_FORMAT(2, 3);

// Sees every channel text just before it is sent (the engine keeps each
// channel's last line for its observer); nullptr for none.
using ChannelTextHook = void (*)(int channel, const char* text);
void VARKO_SetChannelTextHook(ChannelTextHook hook);
