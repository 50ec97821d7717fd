#include "link/notify.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/trace.h"

std::atomic<platform::NotifyReceiver*> g_hNotifyWnd{nullptr};
std::atomic<unsigned> g_uNotifyMsg{0};

namespace {
std::atomic<ChannelTextHook> g_channelTextHook{nullptr};
}  // namespace

void VARKO_SetChannelTextHook(ChannelTextHook hook) {
    g_channelTextHook.store(hook);
}

intptr_t VARKO_SendMessage(int code, const void* payload) {
    platform::NotifyReceiver* receiver = g_hNotifyWnd.load();
    unsigned message = g_uNotifyMsg.load();
    if (receiver == nullptr || message == 0) {
        TRACE("VARKO_SendMessage() Ignore!\n");
        return 0;
    }
    return receiver->Send(message, static_cast<uintptr_t>(code), payload);
}

void VARKO_SendText(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    VARKO_SendMessage(NOTIFY_STATUS, text);
}

void VARKO_SendChannelText(int channel, const char* format, ...) {
    ImageEntry record;
    std::memset(&record, 0, sizeof record);
    record.channel = channel;
    va_list args;
    va_start(args, format);
    std::vsnprintf(record.path, sizeof record.path, format, args);
    va_end(args);
    if (ChannelTextHook hook = g_channelTextHook.load()) hook(channel, record.path);
    VARKO_SendMessage(NOTIFY_CHANNEL_TEXT, &record);
}
